#include "platform/dynamic_library.h"

#include "platform/windows/system_error.h"
#include "platform/windows/wide_text.h"
#include "platform/windows/win32_api.h"

namespace korva::platform {

DynamicLibrary::DynamicLibrary(const std::string& path) {
  // The altered search path: the libraries this one needs are looked for in
  // its own folder first (the Firebird client's runtime sits beside it). No
  // message box when the file is not a library for us.
  const UINT previous = ::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
  HMODULE module =
      ::LoadLibraryExW(windows::Wide(path).c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  const DWORD error = ::GetLastError();
  ::SetErrorMode(previous);
  handle_ = reinterpret_cast<void*>(module);
  if (!handle_) loadError_ = path + ": " + windows::SystemErrorText(error);
}

void* DynamicLibrary::Lookup(const std::string& name) const {
  if (!handle_) return nullptr;
  return reinterpret_cast<void*>(::GetProcAddress(static_cast<HMODULE>(handle_), name.c_str()));
}

void DynamicLibrary::Unload() {
  if (handle_) {
    ::FreeLibrary(static_cast<HMODULE>(handle_));
    handle_ = nullptr;
  }
}

}  // namespace korva::platform
