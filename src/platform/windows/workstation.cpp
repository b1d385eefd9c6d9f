#include "platform/workstation.h"

#include "platform/windows/wide_text.h"
#include "platform/windows/win32_api.h"

namespace korva::platform::detail {

std::string SystemWorkstationName() {
  wchar_t name[MAX_COMPUTERNAME_LENGTH + 1] = {};
  DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
  if (!::GetComputerNameW(name, &size)) return {};
  return windows::Narrow(std::wstring_view(name, size));
}

}  // namespace korva::platform::detail
