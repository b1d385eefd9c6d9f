#include "platform/dynamic_library.h"

#include <dlfcn.h>

namespace korva::platform {

DynamicLibrary::DynamicLibrary(const std::string& path) {
  // A name without a slash would make the loader search its own paths; the
  // caller always means that one file.
  const std::string exact = path.find('/') == std::string::npos ? "./" + path : path;
  // RTLD_NOW: a library with unresolved symbols fails here, not at some later
  // call; RTLD_LOCAL: its symbols never satisfy anybody else's.
  handle_ = ::dlopen(exact.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle_) {
    const char* error = ::dlerror();
    loadError_ = error ? error : "dlopen failed";
  }
}

void* DynamicLibrary::Lookup(const std::string& name) const {
  if (!handle_) return nullptr;
  ::dlerror();
  return ::dlsym(handle_, name.c_str());
}

void DynamicLibrary::Unload() {
  if (handle_) {
    ::dlclose(handle_);
    handle_ = nullptr;
  }
}

}  // namespace korva::platform
