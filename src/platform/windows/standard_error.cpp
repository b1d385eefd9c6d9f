#include "platform/process_outcome.h"
#include "platform/windows/win32_api.h"

namespace korva::platform {

void WriteStandardError(std::string_view text) {
  const HANDLE stream = ::GetStdHandle(STD_ERROR_HANDLE);
  if (stream == nullptr || stream == INVALID_HANDLE_VALUE) return;
  while (!text.empty()) {
    DWORD written = 0;
    if (!::WriteFile(stream, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) ||
        written == 0) {
      return;
    }
    text.remove_prefix(written);
  }
}

}  // namespace korva::platform
