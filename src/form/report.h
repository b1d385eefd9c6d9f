#pragma once
// A printed report as the logic lays it out: texts in boxes measured in
// millimetres from the top-left corner of the printable area, and a list
// that wraps at word boundaries and grows downwards, onto further pages when
// it must. The window system's printing turns it into pages.
#include <string>
#include <vector>

namespace korva::form {

struct ReportFont {
  std::string family;
  int pointSize = 10;
  bool bold = false;
  bool underline = false;
  bool operator==(const ReportFont&) const = default;
};

struct ReportBox {
  double left = 0;
  double top = 0;
  double width = 0;
  double height = 0;  // for the list: the height it has with no text
  bool operator==(const ReportBox&) const = default;
};

struct ReportText {
  std::string text;  // Windows-1252
  ReportFont font;
  ReportBox box;
  bool operator==(const ReportText&) const = default;
};

struct Report {
  std::string documentName;
  // A4 portrait with the same margin on every side.
  double pageWidth = 210;
  double pageHeight = 297;
  double margin = 6.35;
  std::vector<ReportText> header;  // drawn once, on the first page
  std::vector<std::string> lines;  // the list, one entry per line before wrapping
  ReportFont listFont;
  ReportBox listBox;
  bool operator==(const Report&) const = default;
};

}  // namespace korva::form
