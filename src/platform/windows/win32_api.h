#pragma once
// The Win32 API as the Windows side of the platform (and the Windows window)
// includes it. Windows names several of its calls as macros (DeleteFile,
// CopyFile, FindWindow, CreateFile, ...) that would rename the platform's own
// functions of the same names in one file and not in another; they are
// undone here, and the wide-character calls are named explicitly.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
// clang-format off
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
// clang-format on

#undef CopyFile
#undef CreateFile
#undef DeleteFile
#undef FindWindow
#undef GetFileAttributes
#undef SetFileAttributes
#undef CreateDirectory
#undef GetMessage
#undef SendMessage
#undef ERROR
#undef small

#include <type_traits>

namespace korva::platform::windows {

// Win32 carries pointers and handles in integers (a message's WPARAM and
// LPARAM, a window's user data, a property, a control's menu id, the
// platform's own handle values): the one place they turn back into the
// pointers they are.
template <class Pointer, class Integer>
Pointer FromInteger(Integer value) {
  static_assert(std::is_pointer_v<Pointer> && std::is_integral_v<Integer> &&
                sizeof(Integer) == sizeof(void*));
  return reinterpret_cast<Pointer>(value);  // NOLINT(performance-no-int-to-ptr)
}

}  // namespace korva::platform::windows
