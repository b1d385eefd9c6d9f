#include "app/win32/win32_shell.h"

// clang-format off
#include "platform/windows/win32_api.h"
#include <commdlg.h>
// clang-format on

#include <vector>

#include "app/win32/main_window.h"
#include "app/win32/win32_text.h"
#include "platform/process.h"

namespace korva::win32 {
namespace {

// The button sets MessageBoxW offers.
struct ButtonSet {
  unsigned buttons;
  UINT style;
};
constexpr ButtonSet kButtonSets[] = {
    {kOk, MB_OK},
    {kOk | kCancel, MB_OKCANCEL},
    {kAbort | kRetry | kIgnore, MB_ABORTRETRYIGNORE},
    {kYes | kNo | kCancel, MB_YESNOCANCEL},
    {kYes | kNo, MB_YESNO},
    {kRetry | kCancel, MB_RETRYCANCEL},
};

const ButtonSet& SetFor(unsigned buttons) {
  for (const ButtonSet& set : kButtonSets) {
    if (set.buttons == buttons) return set;
  }
  // A set the box cannot show, or none: OK, so that it can be closed.
  return kButtonSets[0];
}

MsgButton FromId(int id) {
  switch (id) {
    case IDOK:
      return kOk;
    case IDCANCEL:
      return kCancel;
    case IDABORT:
      return kAbort;
    case IDRETRY:
      return kRetry;
    case IDIGNORE:
      return kIgnore;
    case IDYES:
      return kYes;
    case IDNO:
      return kNo;
    default:
      return kNoButton;
  }
}

}  // namespace

UINT Win32Shell::MessageBoxStyle(const Message& message) {
  const ButtonSet& set = SetFor(message.buttons);
  UINT style = set.style;
  static const std::pair<MsgIcon, UINT> kIcons[] = {{MsgIcon::Information, MB_ICONINFORMATION},
                                                    {MsgIcon::Question, MB_ICONQUESTION},
                                                    {MsgIcon::Warning, MB_ICONWARNING},
                                                    {MsgIcon::Error, MB_ICONERROR}};
  for (const auto& [icon, bits] : kIcons) {
    if (icon == message.icon) style |= bits;
  }
  static const UINT kDefaults[] = {MB_DEFBUTTON1, MB_DEFBUTTON2, MB_DEFBUTTON3};
  const BoxButtons laid = LaidOutButtons(set.buttons, message.defaultButton);
  for (std::size_t i = 0; i < laid.order.size() && i < 3; ++i) {
    if (laid.order[i] == laid.preselected) style |= kDefaults[i];
  }
  return style;
}

HWND Win32Shell::Owner() const {
  return window_ && ::IsWindowVisible(window_->Handle()) ? window_->Handle() : nullptr;
}

MsgButton Win32Shell::ShowMessage(const Message& message) {
  const std::string caption = message.caption.empty() ? applicationTitle_ : message.caption;
  const int id = ::MessageBoxW(Owner(), WideMultiLine(message.text).c_str(), Wide(caption).c_str(),
                               MessageBoxStyle(message) | MB_TASKMODAL);
  return FromId(id);
}

void Win32Shell::Repaint() {
  if (window_) window_->RepaintNow();
}

void Win32Shell::ProcessPendingInput() {
  MSG msg;
  while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT) {
      // Left for the message loop, which ends on it.
      ::PostQuitMessage(static_cast<int>(msg.wParam));
      return;
    }
    ::TranslateMessage(&msg);
    ::DispatchMessageW(&msg);
  }
}

void Win32Shell::SetBusyCursor(bool busy) {
  if (busy == busy_) return;
  busy_ = busy;
  ::SetCursor(::LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(busy ? IDC_WAIT : IDC_ARROW)));
}

void Win32Shell::CloseMainWindow() {
  if (window_) {
    ::SendMessageW(window_->Handle(), WM_CLOSE, 0, 0);
  } else {
    ::PostQuitMessage(0);
  }
}

void Win32Shell::EndProgram() {
  endRequested_ = true;
  if (window_) ::ShowWindow(window_->Handle(), SW_HIDE);
  ::PostQuitMessage(0);
}

void Win32Shell::OpenWebAddress(const std::string& address) {
  platform::OpenWebAddress(WebUrl(address));
}

std::optional<std::string> Win32Shell::AskSaveFileName(const std::string& proposedName,
                                                       const std::string& defaultExtension) {
  std::wstring file = Wide(proposedName);
  file.resize(std::max<std::size_t>(file.size() + 1, 32768), L'\0');
  const std::wstring extension = Wide(defaultExtension);
  OPENFILENAMEW dialog{};
  dialog.lStructSize = sizeof dialog;
  dialog.hwndOwner = Owner();
  dialog.lpstrFile = file.data();
  dialog.nMaxFile = static_cast<DWORD>(file.size());
  dialog.lpstrDefExt = extension.empty() ? nullptr : extension.c_str();
  // No question before an existing file is replaced; no file-type filter.
  dialog.Flags = OFN_HIDEREADONLY | OFN_PATHMUSTEXIST | OFN_NOCHANGEDIR;
  if (!::GetSaveFileNameW(&dialog)) return std::nullopt;
  return WithDefaultExtension(Narrow(file.c_str()), defaultExtension);
}

namespace {

HFONT PrinterFont(HDC printer, const form::ReportFont& f) {
  return ::CreateFontW(-::MulDiv(f.pointSize, ::GetDeviceCaps(printer, LOGPIXELSY), 72), 0, 0, 0,
                       f.bold ? FW_BOLD : FW_NORMAL, FALSE, f.underline, FALSE, ANSI_CHARSET,
                       OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                       DEFAULT_PITCH | FF_SWISS, Wide(f.family).c_str());
}

int TextWidth(HDC dc, const std::wstring& text) {
  SIZE size{};
  ::GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
  return size.cx;
}

// The line broken at word boundaries into pieces no wider than width; a word
// wider than the line is broken where it must.
std::vector<std::wstring> Wrap(HDC dc, const std::wstring& text, int width) {
  std::vector<std::wstring> lines;
  std::wstring line;
  std::size_t i = 0;
  while (i < text.size()) {
    const std::size_t end = text.find(L' ', i);
    const std::size_t next = end == std::wstring::npos ? text.size() : end + 1;
    const std::wstring word = text.substr(i, next - i);
    if (!line.empty() && TextWidth(dc, line + word) > width) {
      lines.push_back(line);
      line.clear();
    }
    line += word;
    while (line.size() > 1 && TextWidth(dc, line) > width &&
           line.find(L' ') == std::wstring::npos) {
      std::size_t fit = line.size() - 1;
      while (fit > 1 && TextWidth(dc, line.substr(0, fit)) > width) --fit;
      lines.push_back(line.substr(0, fit));
      line.erase(0, fit);
    }
    i = next;
  }
  if (!line.empty() || lines.empty()) lines.push_back(line);
  return lines;
}

}  // namespace

namespace {

// Millimetres of the report into a page's device units. The device's origin
// is the corner of its printable area, the report's the corner inside its
// margins; every page of a document has the same device.
struct PageScale {
  explicit PageScale(HDC page, const form::Report& report)
      : xPerMm(::GetDeviceCaps(page, LOGPIXELSX) / 25.4),
        yPerMm(::GetDeviceCaps(page, LOGPIXELSY) / 25.4),
        originX(static_cast<int>(report.margin * xPerMm) - ::GetDeviceCaps(page, PHYSICALOFFSETX)),
        originY(static_cast<int>(report.margin * yPerMm) - ::GetDeviceCaps(page, PHYSICALOFFSETY)) {
  }
  RECT ToDevice(const form::ReportBox& b) const {
    return RECT{originX + static_cast<int>(b.left * xPerMm),
                originY + static_cast<int>(b.top * yPerMm),
                originX + static_cast<int>((b.left + b.width) * xPerMm),
                originY + static_cast<int>((b.top + b.height) * yPerMm)};
  }
  double xPerMm;
  double yPerMm;
  int originX;
  int originY;
};

void StartDrawing(HDC page) {
  ::SetBkMode(page, TRANSPARENT);
  ::SetTextColor(page, RGB(0, 0, 0));
}

void DrawHeader(HDC page, const PageScale& scale, const form::Report& report) {
  for (const form::ReportText& item : report.header) {
    const HFONT font = PrinterFont(page, item.font);
    const HGDIOBJ old = ::SelectObject(page, font);
    RECT box = scale.ToDevice(item.box);
    ::DrawTextW(page, Wide(item.text).c_str(), -1, &box, DT_LEFT | DT_TOP | DT_NOCLIP);
    ::SelectObject(page, old);
    ::DeleteObject(font);
  }
}

// The list from the first page on, each page that it fills ended and the
// next one started; false when a page is refused.
bool DrawList(Win32Shell::PageTarget& pages, HDC page, const PageScale& scale,
              const form::Report& report) {
  const HFONT listFont = PrinterFont(page, report.listFont);
  HGDIOBJ old = ::SelectObject(page, listFont);
  TEXTMETRICW metrics;
  ::GetTextMetricsW(page, &metrics);
  const int lineHeight = metrics.tmHeight + metrics.tmExternalLeading;
  const RECT list = scale.ToDevice(report.listBox);
  form::ListFlow flow(list.top, scale.originY,
                      scale.originY + static_cast<int>(report.PrintableHeight() * scale.yPerMm));
  for (const std::string& text : report.lines) {
    for (const std::wstring& line : Wrap(page, Wide(text), list.right - list.left)) {
      const form::ListFlow::Place place = flow.Next(lineHeight);
      if (place.newPage) {
        ::SelectObject(page, old);
        page = pages.EndPage() ? pages.StartPage() : nullptr;
        if (!page) {
          ::DeleteObject(listFont);
          return false;
        }
        old = ::SelectObject(page, listFont);
        StartDrawing(page);
      }
      ::TextOutW(page, list.left, static_cast<int>(place.top), line.c_str(),
                 static_cast<int>(line.size()));
    }
  }
  ::SelectObject(page, old);
  ::DeleteObject(listFont);
  return true;
}

}  // namespace

bool Win32Shell::PaintReport(PageTarget& pages, const form::Report& report) {
  HDC page = pages.StartPage();
  if (!page) return false;
  const PageScale scale(page, report);
  StartDrawing(page);
  DrawHeader(page, scale, report);
  return DrawList(pages, page, scale, report) && pages.EndPage();
}

namespace {

// The pages of one printer's document.
class PrinterPages final : public Win32Shell::PageTarget {
 public:
  explicit PrinterPages(HDC printer) : printer_(printer) {}
  HDC StartPage() override { return ::StartPage(printer_) > 0 ? printer_ : nullptr; }
  bool EndPage() override { return ::EndPage(printer_) > 0; }

 private:
  HDC printer_;
};

// The print dialog's device mode and printer names, freed with the dialog.
struct DialogMemory {
  PRINTDLGW& dialog;
  ~DialogMemory() {
    if (dialog.hDC) ::DeleteDC(dialog.hDC);
    if (dialog.hDevMode) ::GlobalFree(dialog.hDevMode);
    if (dialog.hDevNames) ::GlobalFree(dialog.hDevNames);
  }
};

// The default printer's settings with A4 portrait asked for, the paper the
// report is laid out on; the dialog opens with them. Without a printer the
// dialog opens as it would (and says there is none).
void AskForA4Portrait(PRINTDLGW& dialog) {
  PRINTDLGW defaults{};
  defaults.lStructSize = sizeof defaults;
  defaults.Flags = PD_RETURNDEFAULT;
  if (!::PrintDlgW(&defaults) || !defaults.hDevMode) return;
  if (auto* mode = static_cast<DEVMODEW*>(::GlobalLock(defaults.hDevMode))) {
    mode->dmFields |= DM_PAPERSIZE | DM_ORIENTATION;
    mode->dmPaperSize = DMPAPER_A4;
    mode->dmOrientation = DMORIENT_PORTRAIT;
    ::GlobalUnlock(defaults.hDevMode);
  }
  dialog.hDevMode = defaults.hDevMode;
  dialog.hDevNames = defaults.hDevNames;
}

}  // namespace

bool Win32Shell::PrintDocument(HDC printer, const form::Report& report) {
  const std::wstring name = Wide(report.documentName);
  DOCINFOW document{};
  document.cbSize = sizeof document;
  document.lpszDocName = name.c_str();
  if (::StartDocW(printer, &document) <= 0) return false;
  PrinterPages pages(printer);
  if (!PaintReport(pages, report)) {
    ::AbortDoc(printer);
    return false;
  }
  return ::EndDoc(printer) > 0;
}

PrintOutcome Win32Shell::PrintReport(const form::Report& report) {
  PRINTDLGW dialog{};
  dialog.lStructSize = sizeof dialog;
  dialog.hwndOwner = Owner();
  dialog.Flags = PD_RETURNDC | PD_NOPAGENUMS | PD_NOSELECTION | PD_USEDEVMODECOPIESANDCOLLATE;
  dialog.nCopies = 1;
  const DialogMemory memory{dialog};
  AskForA4Portrait(dialog);
  if (!::PrintDlgW(&dialog)) {
    // Cancelled by the operator, or the dialog could not be had (no printer
    // installed, which it has told the operator).
    return ::CommDlgExtendedError() == 0 ? PrintOutcome::kCancelled : PrintOutcome::kFailed;
  }
  if (!dialog.hDC) return PrintOutcome::kFailed;
  return PrintDocument(dialog.hDC, report) ? PrintOutcome::kPrinted : PrintOutcome::kFailed;
}

}  // namespace korva::win32
