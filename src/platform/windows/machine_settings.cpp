#include "platform/machine_settings.h"

#include "platform/windows/wide_text.h"
#include "platform/windows/win32_api.h"

namespace korva::platform {

std::optional<std::string> MachineSettingText(const std::string& key, const std::string& name) {
  const std::wstring wideKey = windows::Wide(key);
  const std::wstring wideName = windows::Wide(name);
  DWORD size = 0;
  if (::RegGetValueW(HKEY_LOCAL_MACHINE, wideKey.c_str(), wideName.c_str(), RRF_RT_REG_SZ, nullptr,
                     nullptr, &size) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  std::wstring value(size / sizeof(wchar_t) + 1, L'\0');
  size = static_cast<DWORD>(value.size() * sizeof(wchar_t));
  if (::RegGetValueW(HKEY_LOCAL_MACHINE, wideKey.c_str(), wideName.c_str(), RRF_RT_REG_SZ, nullptr,
                     value.data(), &size) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  value.resize(wcsnlen(value.c_str(), value.size()));
  return windows::Narrow(value);
}

}  // namespace korva::platform
