#pragma once
// The window's side of the code page: model texts are Windows-1252 bytes,
// Qt's are Unicode. Everything crosses here, through src/text.
#include <QString>
#include <string>

#include "text/cp1252.h"

namespace korva::qt {

inline QString ToQString(const std::string& cp1252) {
  return QString::fromUtf8(text::ToUtf8(cp1252));
}

inline std::string FromQString(const QString& s) {
  return text::FromUtf8(s.toUtf8().toStdString());
}

// A text whose lines are broken by CR LF, CR or LF, with Qt's line breaks.
inline QString ToMultiLine(const std::string& cp1252) {
  QString s = ToQString(cp1252);
  s.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  s.replace(QLatin1Char('\r'), QLatin1Char('\n'));
  return s;
}

}  // namespace korva::qt
