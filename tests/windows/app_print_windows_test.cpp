// Printing the pending-update list on Windows: the GDI drawing of the report
// recorded as enhanced metafiles (one per page), read back record by record
// and turned into pictures; a printer that refuses the document; and the
// whole road through the real print dialog to Wine's PostScript driver,
// printing into a file, with A4 portrait asked for and a failure told to
// the operator.
#include <gtest/gtest.h>
// clang-format off
#include "platform/windows/win32_api.h"
#include <winspool.h>
// clang-format on

#include <future>
#include <map>
#include <string>
#include <vector>

#include "app/principal.h"
#include "app/win32/win32_shell.h"
#include "form/form_model.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/windows/wide_text.h"
#include "records/pending_list_report.h"
#include "support/temp_dir.h"
#include "support/win32_windows.h"

namespace korva::win32 {
namespace {

using platform::windows::Narrow;
using platform::windows::Wide;

std::vector<form::TreeView::Node> PendingList(int items) {
  std::vector<form::TreeView::Node> nodes = {{"MÓDULO FIN - Atualizar para versão 2.2.0", {}}};
  for (int i = 1; i < items; ++i) nodes.push_back({"Item " + std::to_string(i) + " da lista", {}});
  return nodes;
}

// One enhanced metafile per page, A4 in size, over the screen as reference.
class MetafilePages final : public Win32Shell::PageTarget {
 public:
  ~MetafilePages() {
    for (HENHMETAFILE page : pages) ::DeleteEnhMetaFile(page);
  }
  HDC StartPage() override {
    const RECT a4{0, 0, 21000, 29700};  // hundredths of a millimetre
    dc_ = ::CreateEnhMetaFileW(nullptr, nullptr, &a4, L"Report");
    return dc_;
  }
  bool EndPage() override {
    pages.push_back(::CloseEnhMetaFile(dc_));
    return pages.back() != nullptr;
  }
  std::vector<HENHMETAFILE> pages;

 private:
  HDC dc_ = nullptr;
};

// A text the report drew: where (millimetres from the paper's corner), in
// which font, on which page.
struct DrawnText {
  std::string text;
  double xMm = 0;
  double yMm = 0;
  std::wstring face;
  LONG height = 0;
  LONG weight = 0;
  bool underline = false;
  int page = 0;
};

std::vector<DrawnText> TextsOf(const std::vector<HENHMETAFILE>& pages, double pixelsPerMm) {
  struct Reader {
    std::map<DWORD, LOGFONTW> fonts;
    LOGFONTW current{};
    std::vector<DrawnText> texts;
    int page = 0;
    double perMm = 1;
  } reader;
  reader.perMm = pixelsPerMm;
  for (std::size_t i = 0; i < pages.size(); ++i) {
    reader.page = static_cast<int>(i) + 1;
    ::EnumEnhMetaFile(
        nullptr, pages[i],
        [](HDC, HANDLETABLE*, const ENHMETARECORD* record, int, LPARAM l) -> int {
          auto& r = *reinterpret_cast<Reader*>(l);
          switch (record->iType) {
            case EMR_EXTCREATEFONTINDIRECTW: {
              const auto* font = reinterpret_cast<const EMREXTCREATEFONTINDIRECTW*>(record);
              r.fonts[font->ihFont] = font->elfw.elfLogFont;
              break;
            }
            case EMR_SELECTOBJECT: {
              const auto* select = reinterpret_cast<const EMRSELECTOBJECT*>(record);
              auto found = r.fonts.find(select->ihObject);
              if (found != r.fonts.end()) r.current = found->second;
              break;
            }
            case EMR_EXTTEXTOUTW: {
              const auto* out = reinterpret_cast<const EMREXTTEXTOUTW*>(record);
              const auto* chars = reinterpret_cast<const wchar_t*>(
                  reinterpret_cast<const char*>(record) + out->emrtext.offString);
              r.texts.push_back({Narrow(std::wstring_view(chars, out->emrtext.nChars)),
                                 out->emrtext.ptlReference.x / r.perMm,
                                 out->emrtext.ptlReference.y / r.perMm, r.current.lfFaceName,
                                 r.current.lfHeight, r.current.lfWeight, r.current.lfUnderline != 0,
                                 r.page});
              break;
            }
            default:
              break;
          }
          return 1;
        },
        &reader, nullptr);
  }
  return reader.texts;
}

// The page played onto white at twice the screen's resolution.
testing::Capture PictureOf(HENHMETAFILE page, int width, int height) {
  const HDC screen = ::GetDC(nullptr);
  const HDC memory = ::CreateCompatibleDC(screen);
  const HBITMAP bitmap = ::CreateCompatibleBitmap(screen, width, height);
  const HGDIOBJ old = ::SelectObject(memory, bitmap);
  const RECT area{0, 0, width, height};
  ::FillRect(memory, &area, static_cast<HBRUSH>(::GetStockObject(WHITE_BRUSH)));
  ::PlayEnhMetaFile(memory, page, &area);
  testing::Capture capture = testing::CaptureDc(memory, width, height);
  ::SelectObject(memory, old);
  ::DeleteObject(bitmap);
  ::DeleteDC(memory);
  ::ReleaseDC(nullptr, screen);
  return capture;
}

TEST(Win32PrintTest, TheReportIsDrawnWhereItsLayoutSaysOnAsManyPagesAsItNeeds) {
  const form::Report report =
      records::RelatorioAtualizacoes(PendingList(90), "09/12/2026 21:05:07");
  MetafilePages pages;
  ASSERT_TRUE(Win32Shell::PaintReport(pages, report));
  ASSERT_EQ(pages.pages.size(), 2u);

  const HDC screen = ::GetDC(nullptr);
  const int dpi = ::GetDeviceCaps(screen, LOGPIXELSY);
  ::ReleaseDC(nullptr, screen);
  const std::vector<DrawnText> texts = TextsOf(pages.pages, dpi / 25.4);
  const auto find = [&](const std::string& text) {
    for (const DrawnText& t : texts) {
      if (t.text == text) return t;
    }
    ADD_FAILURE() << text << " not drawn";
    return DrawnText{};
  };
  const double margin = 6.35;
  const auto points = [dpi](int pt) { return -::MulDiv(pt, dpi, 72); };
  struct Case {
    std::string text;
    double left, top;
    LONG height;
    LONG weight;
    bool underline;
    int page;
  };
  const Case cases[] = {
      {"Sistema KORVA - Atualizações do Sistema", 1.852, 2.117, points(12), FW_BOLD, true, 1},
      {"09/12/2026 21:05:07", 101.071, 2.117, points(10), FW_NORMAL, false, 1},
      {"MÓDULO FIN - Atualizar para versão 2.2.0", 1.323, 19.05, points(10), FW_NORMAL, false, 1},
      // The list goes on at the top of the second page.
      {"Item 89 da lista", 1.323, 0, points(10), FW_NORMAL, false, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    const DrawnText drawn = find(c.text);
    EXPECT_NEAR(drawn.xMm, margin + c.left, 0.5);
    if (c.page == 1) {
      EXPECT_NEAR(drawn.yMm, margin + c.top, 0.5);
    }
    EXPECT_EQ(drawn.face, L"Arial");
    EXPECT_EQ(drawn.height, c.height);
    EXPECT_EQ(drawn.weight, c.weight);
    EXPECT_EQ(drawn.underline, c.underline);
    EXPECT_EQ(drawn.page, c.page);
  }
  // Every line once, in order, none below the bottom margin.
  int next = 1;
  for (const DrawnText& t : texts) {
    EXPECT_LE(t.yMm, 297 - margin) << t.text;
    if (t.text == "Item " + std::to_string(next) + " da lista") ++next;
  }
  EXPECT_EQ(next, 90);

  // Pictures of the pages, to be looked at (A4 at 192 DPI).
  for (std::size_t i = 0; i < pages.pages.size(); ++i) {
    testing::SaveBmp(
        PictureOf(pages.pages[i], 1587, 2245),
        testing::ScreenshotFolder() + "\\Report-page-" + std::to_string(i + 1) + ".bmp");
  }
}

TEST(Win32PrintTest, APrinterThatRefusesTheDocumentIsAFailure) {
  // A memory device context is no printer: StartDocW fails on it.
  const HDC memory = ::CreateCompatibleDC(nullptr);
  const form::Report report = records::RelatorioAtualizacoes(PendingList(3), "09/12/2026 21:05:07");
  EXPECT_FALSE(Win32Shell::PrintDocument(memory, report));
  ::DeleteDC(memory);
}

// A printer of Wine's PostScript driver whose port is a file: what it
// prints lands in that file. Made for one test, the default printer while
// it lasts, its own settings Letter landscape.
class PostScriptPrinter {
 public:
  PostScriptPrinter(const std::wstring& name, const std::string& port) : name_(name) {
    // The driver's description of a generic PostScript printer is a resource
    // of Wine's spooler.
    const HMODULE spooler = ::LoadLibraryW(L"winspool.drv");
    const HRSRC resource = ::FindResourceW(spooler, MAKEINTRESOURCEW(1), L"PPDFILE");
    if (!resource) return;
    const std::string ppd = ppdFolder_.File("generic.ppd");
    platform::WriteFileBytes(
        ppd, std::string_view(
                 static_cast<const char*>(::LockResource(::LoadResource(spooler, resource))),
                 ::SizeofResource(spooler, resource)));
    std::wstring widePpd = Wide(ppd);
    DRIVER_INFO_3W driver{};
    driver.cVersion = 3;
    driver.pName = const_cast<wchar_t*>(L"Wine PostScript Driver");
    driver.pEnvironment = const_cast<wchar_t*>(L"Windows x64");
    driver.pDriverPath = const_cast<wchar_t*>(L"wineps.drv");
    driver.pConfigFile = const_cast<wchar_t*>(L"wineps.drv");
    driver.pDataFile = widePpd.data();
    ::AddPrinterDriverExW(nullptr, 3, reinterpret_cast<BYTE*>(&driver),
                          APD_COPY_NEW_FILES | APD_COPY_FROM_DIRECTORY);
    std::wstring widePort = Wide(port);
    PRINTER_INFO_2W info{};
    info.pPrinterName = name_.data();
    info.pPortName = widePort.data();
    info.pDriverName = driver.pName;
    info.pPrintProcessor = const_cast<wchar_t*>(L"WinPrint");
    info.pDatatype = const_cast<wchar_t*>(L"RAW");
    printer_ = ::AddPrinterW(nullptr, 2, reinterpret_cast<BYTE*>(&info));
    if (!printer_) return;
    ::SetDefaultPrinterW(name_.c_str());
    DWORD size = 0;
    ::GetPrinterW(printer_, 2, nullptr, 0, &size);
    std::vector<BYTE> buffer(size);
    auto* current = reinterpret_cast<PRINTER_INFO_2W*>(buffer.data());
    if (::GetPrinterW(printer_, 2, buffer.data(), size, &size) && current->pDevMode) {
      current->pDevMode->dmFields |= DM_PAPERSIZE | DM_ORIENTATION;
      current->pDevMode->dmPaperSize = DMPAPER_LETTER;
      current->pDevMode->dmOrientation = DMORIENT_LANDSCAPE;
      current->pSecurityDescriptor = nullptr;
      ::SetPrinterW(printer_, 2, buffer.data(), 0);
    }
  }
  ~PostScriptPrinter() {
    if (printer_) {
      ::DeletePrinter(printer_);
      ::ClosePrinter(printer_);
    }
  }
  bool Made() const { return printer_ != nullptr; }
  // The orientation its own settings give.
  short Orientation() const {
    DWORD size = 0;
    ::GetPrinterW(printer_, 2, nullptr, 0, &size);
    std::vector<BYTE> buffer(size);
    auto* current = reinterpret_cast<PRINTER_INFO_2W*>(buffer.data());
    if (!::GetPrinterW(printer_, 2, buffer.data(), size, &size) || !current->pDevMode) return 0;
    return current->pDevMode->dmOrientation;
  }

 private:
  testing::TempDir ppdFolder_;
  std::wstring name_;
  HANDLE printer_ = nullptr;
};

class Win32PrinterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // The printer is made of Wine's own driver; a Windows machine has printers
    // of its own to try this on by hand.
    if (!testing::UnderWine()) GTEST_SKIP() << "needs Wine's PostScript driver";
  }
  // The shell prints through the real dialog, answered by a thread of the
  // test as the operator would.
  PrintOutcome PrintAnswering(int answer, const form::Report& report) {
    auto dialog = std::async(std::launch::async, testing::AnswerPrintDialog, answer);
    const PrintOutcome outcome = shell.PrintReport(report);
    EXPECT_TRUE(dialog.get()) << "no print dialog";
    return outcome;
  }
  testing::TempDir dir;
  Win32Shell shell;
};

TEST_F(Win32PrinterTest, ThePrintDialogPrintsOnA4PortraitAndCancelPrintsNothing) {
  const std::string output = dir.File("relatorio.ps");
  PostScriptPrinter printer(L"KORVA PostScript", output);
  ASSERT_TRUE(printer.Made());
  ASSERT_EQ(printer.Orientation(), DMORIENT_LANDSCAPE);
  const form::Report report =
      records::RelatorioAtualizacoes(PendingList(90), "09/12/2026 21:05:07");

  EXPECT_EQ(PrintAnswering(IDCANCEL, report), PrintOutcome::kCancelled);
  EXPECT_FALSE(platform::FileExists(output));

  ASSERT_EQ(PrintAnswering(IDOK, report), PrintOutcome::kPrinted);
  const std::string postScript = platform::ReadFileBytes(output).value_or("");
  EXPECT_NE(postScript.find("%%Title: Report"), std::string::npos);
  // The printer's own Letter landscape gave way to what the report needs.
  EXPECT_NE(postScript.find("%%Orientation: Portrait"), std::string::npos);
  EXPECT_NE(postScript.find("*PageSize A4"), std::string::npos);
  EXPECT_NE(postScript.find("%%Pages: 2"), std::string::npos);
  // Kept beside the window's pictures, where a PostScript reader can show it.
  platform::CopyFile(output, testing::ScreenshotFolder() + "\\Report-printed.ps");
}

TEST_F(Win32PrinterTest, APrintThatFailsIsToldToTheOperator) {
  // The port names a file in a folder that does not exist: the driver draws
  // the document and the spooler refuses it at its end (EndDoc).
  PostScriptPrinter printer(L"KORVA sem pasta", dir.File("nao-existe\\relatorio.ps"));
  ASSERT_TRUE(printer.Made());
  form::FormModel form;
  platform::SystemClock clock;
  Principal principal{form, shell, clock, dir.Path()};
  form.TVAtualizacoes.SetNodes(PendingList(3));

  auto dialogs = std::async(std::launch::async, [] {
    return testing::AnswerPrintDialog(IDOK) ? testing::AnswerBox(L"KORVA Update", IDOK)
                                            : testing::ShownBox{};
  });
  principal.BtBtImpimirAtualizacaoClick();
  const testing::ShownBox box = dialogs.get();
  ASSERT_TRUE(box.found);
  EXPECT_EQ(box.text, L"N\u00e3o foi poss\u00edvel imprimir a lista de atualiza\u00e7\u00f5es.");
  EXPECT_EQ(box.buttons, std::set<int>{IDOK});
  EXPECT_EQ(box.icon, ::LoadIconW(nullptr, IDI_ERROR));
}

}  // namespace
}  // namespace korva::win32
