#pragma once
// A printed report as the logic lays it out: texts in boxes measured in
// millimetres from the top-left corner of the printable area, and a list
// that wraps at word boundaries and grows downwards, onto further pages when
// it must. Each window's printing measures and draws; where the lines go down
// the pages is decided here, once for both.
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
  // From the top of the area inside the margins to its foot.
  double PrintableHeight() const { return pageHeight - 2 * margin; }
  bool operator==(const Report&) const = default;
};

// Where the list's lines go, in whatever unit the printer counts: one under
// the other from the list's top; a line that would pass the foot of the page
// starts the next page at its top.
class ListFlow {
 public:
  ListFlow(double listTop, double pageTop, double pageBottom)
      : next_(listTop), pageTop_(pageTop), pageBottom_(pageBottom) {}
  struct Place {
    double top = 0;
    bool newPage = false;  // the line goes at the top of a new page
  };
  Place Next(double lineHeight) {
    Place place{next_, false};
    if (next_ + lineHeight > pageBottom_) place = {pageTop_, true};
    next_ = place.top + lineHeight;
    return place;
  }

 private:
  double next_;
  double pageTop_;
  double pageBottom_;
};

}  // namespace korva::form
