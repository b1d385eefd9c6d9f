#pragma once
// The platform keeps every Windows handle in a NativeHandle's integer; these
// turn it back into the HANDLE it is, and a HANDLE into one.
#include <cstdint>

#include "platform/handle.h"
#include "platform/windows/win32_api.h"

namespace korva::platform::windows {

inline HANDLE Win(NativeHandle handle) {
  return FromInteger<HANDLE>(handle.Value());
}

inline NativeHandle Native(HANDLE handle) {
  return NativeHandle(reinterpret_cast<std::intptr_t>(handle));
}

}  // namespace korva::platform::windows
