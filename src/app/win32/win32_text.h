#pragma once
// The window's side of the code page: model texts are Windows-1252 bytes,
// the wide-character calls take UTF-16. Everything crosses here.
#include <string>

#include "platform/windows/wide_text.h"

namespace korva::win32 {

using platform::windows::Narrow;
using platform::windows::Wide;

// A text whose lines are broken by CR LF, CR or LF, with the CR LF that
// edit and static controls break lines at.
inline std::wstring WideMultiLine(const std::string& cp1252) {
  std::string lines;
  for (std::size_t i = 0; i < cp1252.size(); ++i) {
    const char c = cp1252[i];
    if (c == '\r' || c == '\n') {
      lines += "\r\n";
      if (c == '\r' && i + 1 < cp1252.size() && cp1252[i + 1] == '\n') ++i;
    } else {
      lines += c;
    }
  }
  return Wide(lines);
}

}  // namespace korva::win32
