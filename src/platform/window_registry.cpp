#include "platform/window_registry.h"

// The names a registration keeps are read alike on every system; how a window
// is registered and found is the system's own (posix/, windows/).
namespace korva::platform {

const std::string& RegisteredWindow::RegistrationError() const {
  return NamesOf().error;
}

const std::string& RegisteredWindow::ClassName() const {
  return NamesOf().className;
}

const std::string& RegisteredWindow::Title() const {
  return NamesOf().title;
}

}  // namespace korva::platform
