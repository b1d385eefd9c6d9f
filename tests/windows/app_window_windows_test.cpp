// The Windows updater's window on a real Win32 window system (Wine on Xvfb):
// every page of the window made from the form model, saved as a picture at
// the system's DPI and after a DPI change; the fonts of the design read back
// from the controls; the log page during a transfer; the popup menus open;
// the common controls the window runs with; and a second korvaupdate.exe
// refused because it finds the first by its window.
//
// The database lives on the Linux side and this build has no fbclient.dll,
// so the program's own start would stop at the database message before its
// window shows. The pages are therefore shown by this test through the
// window's own classes (MainWindow over a FormModel and a Principal whose
// start-up sequence is not run); the second copy is the real program.
#include <gtest/gtest.h>
// clang-format off
#include "platform/windows/win32_api.h"
#include <commctrl.h>
#include <shlwapi.h>
// clang-format on
// The list view macros of commctrl.h send through the name that
// win32_api.h undoes.
#define SendMessage SendMessageW

#include <cstdlib>
#include <future>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "app/principal.h"
#include "app/win32/control_windows.h"
#include "app/win32/dpi.h"
#include "app/win32/main_window.h"
#include "app/win32/win32_shell.h"
#include "form/form_model.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/windows/wide_text.h"
#include "records/update_log.h"
#include "support/temp_dir.h"
#include "support/win32_windows.h"
#include "transfer/progress_display.h"
#include "vendor/vendor_library.h"

namespace korva::win32 {
namespace {

using platform::windows::Wide;
using testing::AnswerBox;
using testing::Capture;
using testing::CaptureClient;
using testing::Pump;
using testing::SaveBmp;
using testing::ScreenshotFolder;
using testing::ShownBox;
using testing::TextOf;

class WindowTest : public ::testing::Test {
 protected:
  testing::TempDir site;
  form::FormModel form;
  Win32Shell shell;
  platform::SystemClock clock;
  Principal principal{form, shell, clock, site.Path()};
};

// Every page shown in turn and saved as "<page><suffix>.bmp"; each must be
// drawn (not one flat colour) and look different from every other.
void SaveEveryPage(form::FormModel& form, Win32Shell& shell, MainWindow& window,
                   const std::string& suffix) {
  const std::string folder = ScreenshotFolder();
  std::set<std::size_t> pictures;
  for (form::TextControl* page : form.Pages()) {
    SCOPED_TRACE(page->Name() + suffix);
    form.ShowPage(*page);
    shell.Repaint();
    Pump();
    for (const form::TextControl* other : form.Pages()) {
      EXPECT_EQ(::IsWindowVisible(window.WindowOf(other->Name())) != 0, other == page)
          << other->Name();
    }
    // "&Fechar" lies over every page.
    EXPECT_TRUE(::IsWindowVisible(window.WindowOf("BtBtnFechar")));
    const Capture capture = CaptureClient(window.Handle());
    EXPECT_GT(capture.DistinctColours(), 16u);
    SaveBmp(capture, folder + "\\" + page->Name() + suffix + ".bmp");
    pictures.insert(
        std::hash<std::string>{}(std::string(capture.pixels.begin(), capture.pixels.end())));
  }
  EXPECT_EQ(pictures.size(), form.Pages().size());
}

SIZE ClientSize(HWND window) {
  RECT client;
  ::GetClientRect(window, &client);
  return {client.right, client.bottom};
}

SIZE WindowSize(HWND window) {
  RECT area;
  ::GetWindowRect(window, &area);
  return {area.right - area.left, area.bottom - area.top};
}

LOGFONTW FontOfWindow(HWND window) {
  LOGFONTW font{};
  const auto handle = reinterpret_cast<HFONT>(::SendMessageW(window, WM_GETFONT, 0, 0));
  if (handle) ::GetObjectW(handle, sizeof font, &font);
  return font;
}

TEST_F(WindowTest, EveryPageShowsItsControlsAndIsSaved) {
  const std::string title = form::FormModel::ComposeMainTitle("9.9.9.9");
  MainWindow window(form, principal, shell, title);
  ASSERT_NE(window.Handle(), nullptr);
  EXPECT_EQ(::FindWindowW(L"TFrmKorvaUpdate", Wide(title).c_str()), window.Handle());
  ::ShowWindow(window.Handle(), SW_SHOW);

  // The DPI the system gives (LogPixels): 96 unless the run asks for another.
  const char* expected = std::getenv("KORVA_EXPECT_DPI");
  const UINT dpi = expected ? static_cast<UINT>(std::atoi(expected)) : 96;
  ASSERT_EQ(window.Dpi(), dpi);
  EXPECT_EQ(ClientSize(window.Handle()).cx, Scaled(form::FormModel::kClientWidth, dpi));
  EXPECT_EQ(ClientSize(window.Handle()).cy, Scaled(form::FormModel::kClientHeight, dpi));

  // Texts reach the native controls as the operator reads them.
  EXPECT_EQ(TextOf(window.WindowOf("BtBtnNovasAtualizacoes")),
            L"&Procurar por novas atualiza\u00e7\u00f5es");
  EXPECT_EQ(TextOf(window.WindowOf("BtbtnIniciarAtualizacao")), L"Iniciar &Atualiza\u00e7\u00f5es");
  EXPECT_FALSE(::IsWindowEnabled(window.WindowOf("BtbtnIniciarAtualizacao")));
  EXPECT_FALSE(::IsWindowVisible(window.WindowOf("PnlDownload")));

  SaveEveryPage(form, shell, window, dpi == 96 ? "" : "-" + std::to_string(dpi) + "dpi");

  // A change of the model reaches the window at the next repaint.
  form.ShowPage(form.TbShtInicio);
  form.PnlDownload.SetVisible(true);
  form.GaugeDownload.SetProgress(45);
  form.STxtKBPS.SetText("123,4 KB/s");
  form.TBtnConectando.SetImage(form::StepIndicator::Image::Done);
  form.TBtnVerificando.SetImage(form::StepIndicator::Image::Transfer);
  shell.Repaint();
  Pump();
  EXPECT_TRUE(::IsWindowVisible(window.WindowOf("PnlDownload")));
  EXPECT_EQ(TextOf(window.WindowOf("STxtKBPS")), L"123,4 KB/s");
  if (dpi == 96)
    SaveBmp(CaptureClient(window.Handle()), ScreenshotFolder() + "\\TbShtInicio-transfer.bmp");
}

TEST_F(WindowTest, EachControlHasTheFontOfItsDesignLine) {
  MainWindow window(form, principal, shell, form::FormModel::ComposeMainTitle("9.9.9.9"));
  ::ShowWindow(window.Handle(), SW_SHOW);
  struct Case {
    const char* control;
    const wchar_t* face;
    int points;
    bool bold;
    bool underline;
  };
  const Case cases[] = {
      // The three that once drew otherwise: a flat bold button, a bold frame
      // title in Verdana, the backup page's bold notice.
      {"FltBtnConfig", L"Arial", 8, true, false}, {"GroupBox1", L"Verdana", 8, true, false},
      {"Memo1", L"Arial", 10, true, false},       {"BtBtnFechar", L"Arial", 8, true, false},
      {"Label2", L"Arial", 10, true, false},      {"Label10", L"Arial", 10, true, true},
      {"Label8", L"Arial", 8, false, true},       {"LblSite", L"Arial", 8, true, true},
      {"Label3", L"Arial", 8, false, false},
  };
  const HDC screen = ::GetDC(nullptr);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.control);
    const HWND control = window.WindowOf(c.control);
    const LOGFONTW font = FontOfWindow(control);
    EXPECT_EQ(std::wstring(font.lfFaceName), c.face);
    EXPECT_EQ(font.lfHeight, -::MulDiv(c.points, static_cast<int>(window.Dpi()), 72));
    EXPECT_EQ(font.lfWeight, c.bold ? FW_BOLD : FW_NORMAL);
    EXPECT_EQ(font.lfUnderline != 0, c.underline);
    // As the system realises it (a stand-in face where the named one is not
    // installed): still bold.
    const HGDIOBJ old =
        ::SelectObject(screen, reinterpret_cast<HFONT>(::SendMessageW(control, WM_GETFONT, 0, 0)));
    TEXTMETRICW metrics{};
    ::GetTextMetricsW(screen, &metrics);
    ::SelectObject(screen, old);
    EXPECT_EQ(metrics.tmWeight >= FW_BOLD, c.bold);
  }
  ::ReleaseDC(nullptr, screen);

  // The flat button draws no border of its own while the mouse is away.
  form.ShowPage(form.TbShtInicio);
  shell.Repaint();
  Pump();
  const HWND flat = window.WindowOf("FltBtnConfig");
  ::RedrawWindow(flat, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
  const Capture button = CaptureClient(flat);
  for (int x = 0; x < button.width; ++x) {
    ASSERT_EQ(button.At(x, 0), 0xFFFFFFu) << x;
    ASSERT_EQ(button.At(x, button.height - 1), 0xFFFFFFu) << x;
  }
  EXPECT_EQ(::GetWindowLongPtrW(flat, GWL_STYLE) & BS_TYPEMASK, BS_OWNERDRAW);
}

TEST_F(WindowTest, ADpiChangeMakesEverythingAgainForTheNewDpi) {
  MainWindow window(form, principal, shell, form::FormModel::ComposeMainTitle("9.9.9.9"));
  ::ShowWindow(window.Handle(), SW_SHOW);
  struct Case {
    UINT dpi;
    SIZE client;
    SIZE fechar;      // BtBtnFechar, 162 x 37 in the design
    SIZE logo;        // the logo picture, 155 x 45
    LONG fontHeight;  // 8 points
  };
  const Case cases[] = {{144, {983, 704}, {243, 56}, {233, 68}, -16},
                        {120, {819, 586}, {203, 46}, {194, 56}, -13},
                        {96, {655, 469}, {162, 37}, {155, 45}, -11}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.dpi);
    RECT suggested{10, 10, 10 + c.client.cx, 10 + c.client.cy};
    ::SendMessageW(window.Handle(), WM_DPICHANGED, MAKEWPARAM(c.dpi, c.dpi),
                   reinterpret_cast<LPARAM>(&suggested));
    EXPECT_EQ(window.Dpi(), c.dpi);
    EXPECT_EQ(ClientSize(window.Handle()).cx, c.client.cx);
    EXPECT_EQ(ClientSize(window.Handle()).cy, c.client.cy);
    const SIZE fechar = WindowSize(window.WindowOf("BtBtnFechar"));
    EXPECT_EQ(fechar.cx, c.fechar.cx);
    EXPECT_EQ(fechar.cy, c.fechar.cy);
    EXPECT_EQ(FontOfWindow(window.WindowOf("BtBtnFechar")).lfHeight, c.fontHeight);
    BITMAP logo{};
    ASSERT_TRUE(::GetObjectW(Picture("logo", c.dpi), sizeof logo, &logo));
    EXPECT_EQ(logo.bmWidth, c.logo.cx);
    EXPECT_EQ(logo.bmHeight, c.logo.cy);
    // The status bar's panels keep their design widths, scaled.
    int edges[4] = {};
    ::SendMessageW(window.WindowOf("StatusBar"), SB_GETPARTS, 4, reinterpret_cast<LPARAM>(edges));
    EXPECT_EQ(edges[0], Scaled(320, c.dpi));
    EXPECT_EQ(edges[2], Scaled(580, c.dpi));
    if (c.dpi == 144) SaveEveryPage(form, shell, window, "-dpichanged-144dpi");
  }
}

// The clock of a transfer half-way: the rate it shows comes from it.
class FixedClock final : public platform::Clock {
 public:
  platform::LocalDateTime Now() const override { return now; }
  platform::LocalDateTime now{2026, 12, 9, 21, 30, 0, 0};
};

TEST_F(WindowTest, TheLogPageShowsItsLinesAndARunningTransfer) {
  MainWindow window(form, principal, shell, form::FormModel::ComposeMainTitle("9.9.9.9"));
  ::ShowWindow(window.Handle(), SW_SHOW);
  form.ShowPage(form.TbShtLog);
  const std::string logPath = site.File("LogUpdate.txt");
  records::UpdateLog log(form.ChkLBxLog, shell, logPath);
  const std::vector<std::string> lines = {"Fechando o programa de backup",
                                          "Download do pacote de atualização versão 3.16.51",
                                          "Atualizando banco de dados de usuários 3.16.51",
                                          "Download do módulo FIN", "Atualizando módulo FIN"};
  for (const std::string& line : lines) {
    log.LogAddLine(line);
    if (&line != &lines.back()) log.LogCheckLastLine();
  }
  log.LogSelectLastLine();

  // A module download 60 % of the way, as the transfer session reports it.
  FixedClock clock;
  transfer::TransferState state;
  state.expectedTransferSize = 1'000'000;
  transfer::ProgressDisplay progress(
      {form.STxtKBPS, form.STxtDownModulo, form.GaugeDownload, form.GgDownModulo}, state, shell,
      clock, platform::LocaleFormats{',', '/', "%H:%M:%S"});
  form.PnlDownModulo.SetVisible(true);
  form.TBtnConect.SetImage(form::StepIndicator::Image::Done);
  form.TBtnFazDownModulo.SetImage(form::StepIndicator::Image::Transfer);
  form.LblGravando.SetText("Gravando em: C:\\KORVA\\efin.zip");
  progress.IdFTPKorvaWorkBegin(transfer::TransferDirection::Download, 1'000'000);
  clock.now.second += 2;
  progress.IdFTPKorvaWork(transfer::TransferDirection::Download, 600'000);
  shell.Repaint();
  Pump();

  const HWND list = window.WindowOf("ChkLBxLog");
  ASSERT_EQ(ListView_GetItemCount(list), static_cast<int>(lines.size()));
  for (int i = 0; i < static_cast<int>(lines.size()); ++i) {
    wchar_t text[128] = {};
    ListView_GetItemText(list, i, 0, text, 128);
    EXPECT_EQ(std::wstring(text), Wide(lines[static_cast<std::size_t>(i)])) << i;
    EXPECT_EQ(ListView_GetCheckState(list, i) != 0, i + 1 < static_cast<int>(lines.size())) << i;
  }
  EXPECT_EQ(ListView_GetNextItem(list, -1, LVNI_SELECTED), static_cast<int>(lines.size()) - 1);
  EXPECT_TRUE(::IsWindowVisible(window.WindowOf("PnlDownModulo")));
  EXPECT_EQ(form.GgDownModulo.Percent(), 60);
  EXPECT_EQ(TextOf(window.WindowOf("STxtDownModulo")), Wide(form.STxtDownModulo.Text()));
  EXPECT_FALSE(form.STxtDownModulo.Text().empty());
  SaveBmp(CaptureClient(window.Handle()), ScreenshotFolder() + "\\TbShtLog-transfer.bmp");
}

// The popup menu of this process once it shows: its items as they read,
// a picture of the window with the menu over it, then the keys pressed.
struct OpenedMenu {
  bool found = false;
  std::vector<std::wstring> items;
  std::vector<bool> checked;
};

OpenedMenu ReadMenuAndPress(HWND mainWindow, const std::string& picture, std::vector<WPARAM> keys) {
  OpenedMenu opened;
  const HWND menu = testing::WaitForWindow(L"#32768", nullptr);
  if (!menu) return opened;
  opened.found = true;
  const auto handle = reinterpret_cast<HMENU>(::SendMessageW(menu, MN_GETHMENU, 0, 0));
  for (int i = 0; i < ::GetMenuItemCount(handle); ++i) {
    wchar_t text[128] = {};
    MENUITEMINFOW info{};
    info.cbSize = sizeof info;
    info.fMask = MIIM_STRING | MIIM_STATE;
    info.dwTypeData = text;
    info.cch = 128;
    ::GetMenuItemInfoW(handle, static_cast<UINT>(i), TRUE, &info);
    opened.items.push_back(text);
    opened.checked.push_back((info.fState & MFS_CHECKED) != 0);
  }
  RECT both, menuArea;
  ::GetWindowRect(mainWindow, &both);
  ::GetWindowRect(menu, &menuArea);
  ::UnionRect(&both, &both, &menuArea);
  SaveBmp(testing::CaptureScreen(both), ScreenshotFolder() + "\\" + picture + ".bmp");
  for (const WPARAM key : keys) ::PostMessageW(menu, WM_KEYDOWN, key, 0);
  return opened;
}

TEST_F(WindowTest, PopupMenusOpenOnTheirHotAreasAndTheirItemsRunTheirHandlers) {
  MainWindow window(form, principal, shell, form::FormModel::ComposeMainTitle("9.9.9.9"));
  ::ShowWindow(window.Handle(), SW_SHOW);
  form.ShowPage(form.TbShtInicio);
  shell.Repaint();
  Pump();
  const auto openMenu = [&](const char* hotArea) {
    const HWND area = window.WindowOf(hotArea);
    RECT rect;
    ::GetClientRect(area, &rect);
    // The secondary button released over the hot area; the menu runs its
    // own loop until an item is chosen or it is dismissed.
    ::SendMessageW(area, WM_RBUTTONUP, 0, MAKELPARAM(rect.right / 2, rect.bottom / 2));
  };

  // The test menu: its two radio items, the second checked; Down and Enter
  // choose the first, which then is the checked one (local mode).
  auto first = std::async(std::launch::async, ReadMenuAndPress, window.Handle(),
                          "PpMnTesteVESTRAMON", std::vector<WPARAM>{VK_DOWN, VK_RETURN});
  openMenu("LblTipoTeste");
  const OpenedMenu test = first.get();
  ASSERT_TRUE(test.found);
  EXPECT_EQ(test.items, (std::vector<std::wstring>{
                            L"Atualiza\u00e7\u00e3o Local (Somente Banco de Dados)",
                            L"Atualizar Pela Internet (Banco de Dados e M\u00f3dulos)"}));
  EXPECT_EQ(test.checked, (std::vector<bool>{false, true}));
  EXPECT_TRUE(form.AtualizacaoLocal.Checked());
  EXPECT_FALSE(form.AtualizarPelaInternet.Checked());

  // The script menu: its item runs GerarScript1Click, which on the first
  // page says where the operator must be.
  auto second = std::async(std::launch::async, ReadMenuAndPress, window.Handle(), "PMnScript",
                           std::vector<WPARAM>{VK_DOWN, VK_RETURN});
  auto box = std::async(std::launch::async, AnswerBox, std::wstring(L"KORVA"), IDOK, DWORD{0});
  openMenu("LblScript");
  const OpenedMenu script = second.get();
  ASSERT_TRUE(script.found);
  EXPECT_EQ(script.items, std::vector<std::wstring>{L"Gerar Script"});
  const ShownBox shown = box.get();
  ASSERT_TRUE(shown.found);
  EXPECT_NE(shown.text.find(L"Voc\u00ea deve estar na p\u00e1gina que informa sobre backup"),
            std::wstring::npos);
}

TEST_F(WindowTest, TheWindowRunsWithTheCommonControlsOfVersion6AndItsIcon) {
  MainWindow window(form, principal, shell, form::FormModel::ComposeMainTitle("9.9.9.9"));
  // The manifest's dependency: comctl32 from the side-by-side assembly of
  // version 6, not the system's own.
  const HMODULE comctl = ::GetModuleHandleW(L"comctl32.dll");
  ASSERT_NE(comctl, nullptr);
  wchar_t path[MAX_PATH] = {};
  ::GetModuleFileNameW(comctl, path, MAX_PATH);
  std::wstring lower = path;
  for (wchar_t& c : lower) c = static_cast<wchar_t>(::towlower(c));
  EXPECT_NE(lower.find(L"microsoft.windows.common-controls_6595b64144ccf1df_6.0"),
            std::wstring::npos)
      << lower;
  using DllGetVersionFn = HRESULT(CALLBACK*)(DLLVERSIONINFO*);
  const auto dllGetVersion = reinterpret_cast<DllGetVersionFn>(
      reinterpret_cast<void*>(::GetProcAddress(comctl, "DllGetVersion")));
  ASSERT_NE(dllGetVersion, nullptr);
  DLLVERSIONINFO version{};
  version.cbSize = sizeof version;
  ASSERT_EQ(dllGetVersion(&version), S_OK);
  ::testing::Test::RecordProperty("comctl32", std::to_string(version.dwMajorVersion) + "." +
                                                  std::to_string(version.dwMinorVersion));
  if (testing::UnderWine()) {
    // Wine 8 builds one comctl32 for both versions, and its DllGetVersion
    // answers 5.81 whichever assembly loaded it.
    EXPECT_GE(version.dwMajorVersion, 5u);
  } else {
    EXPECT_EQ(version.dwMajorVersion, 6u);
  }

  // The program's icon on the window class, in both sizes.
  for (const auto& [index, metric] :
       {std::pair{GCLP_HICON, SM_CXICON}, std::pair{GCLP_HICONSM, SM_CXSMICON}}) {
    const auto icon = reinterpret_cast<HICON>(::GetClassLongPtrW(window.Handle(), index));
    ASSERT_NE(icon, nullptr) << index;
    ICONINFO info{};
    ASSERT_TRUE(::GetIconInfo(icon, &info));
    BITMAP colour{};
    ::GetObjectW(info.hbmColor, sizeof colour, &colour);
    EXPECT_EQ(colour.bmWidth, ::GetSystemMetrics(metric));
    ::DeleteObject(info.hbmColor);
    ::DeleteObject(info.hbmMask);
  }
  EXPECT_NE(::SendMessageW(window.Handle(), WM_GETICON, ICON_SMALL, 0), 0);
}

TEST_F(WindowTest, OperatorInputReachesTheModelAndClicksTheirHandlers) {
  MainWindow window(form, principal, shell, form::FormModel::ComposeMainTitle("9.9.9.9"));
  ::ShowWindow(window.Handle(), SW_SHOW);
  form.ShowPage(form.TbShtConfig);
  shell.Repaint();

  // Typed into an edit field (the control sends EN_CHANGE as for keys).
  ::SendMessageW(window.WindowOf("SrvRemoto1"), WM_SETTEXT, 0,
                 reinterpret_cast<LPARAM>(L"\\\\FILIAL\\Ger\u00eancia"));
  EXPECT_EQ(form.SrvRemoto1.Text(), "\\\\FILIAL\\Gerência");
  // The model's own change reaches the field.
  form.EdtProxy_Porta.SetText("3128");
  shell.Repaint();
  EXPECT_EQ(TextOf(window.WindowOf("EdtProxy_Porta")), L"3128");

  // A radio button of a group: the model's index, and the other unchecked.
  const HWND group = window.WindowOf("RdGrpMetodoFTP");
  const HWND passive = ::FindWindowExW(group, nullptr, L"Button", L"Passivo");
  ASSERT_NE(passive, nullptr);
  ::SendMessageW(passive, BM_CLICK, 0, 0);
  EXPECT_EQ(form.RdGrpMetodoFTP.ItemIndex(), 1);
  EXPECT_EQ(::SendMessageW(passive, BM_GETCHECK, 0, 0), BST_CHECKED);
  EXPECT_EQ(::SendMessageW(::FindWindowExW(group, nullptr, L"Button", L"Ativo"), BM_GETCHECK, 0, 0),
            BST_UNCHECKED);

  // A button's click runs the handler bound to its control.
  int clicks = 0;
  window.BindClick(form.BitBtn1, [&clicks] { ++clicks; });
  ::SendMessageW(window.WindowOf("BitBtn1"), BM_CLICK, 0, 0);
  EXPECT_EQ(clicks, 1);
  // A disabled button takes no click.
  form.BitBtn1.SetEnabled(false);
  shell.Repaint();
  ::SendMessageW(window.WindowOf("BitBtn1"), BM_CLICK, 0, 0);
  EXPECT_EQ(clicks, 1);

  // The flat button, drawn by its page, still answers its mnemonic (Alt+C).
  form.ShowPage(form.TbShtInicio);
  shell.Repaint();
  MSG altC{window.Handle(), WM_SYSCHAR, L'c', 0, 0, {0, 0}};
  EXPECT_TRUE(::IsDialogMessageW(window.Handle(), &altC));
  Pump();
  EXPECT_EQ(form.ActivePage(), &form.TbShtConfig);
}

TEST_F(WindowTest, SecondCopyFindsTheFirstByItsWindowAndEnds) {
  const std::string program = platform::ExecutableFolder() + "\\korvaupdate.exe";
  // The title the program composes from its own version resource.
  const std::string build = vendor::GetBuildInfo(program, "BUILD");
  ASSERT_FALSE(build.empty());
  const std::string title = form::FormModel::ComposeMainTitle(build);
  MainWindow window(form, principal, shell, title);

  std::wstring commandLine = L"\"" + Wide(program) + L"\"";
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  ASSERT_TRUE(::CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                               nullptr, &startup, &process));
  // A copy left behind by a failure would hold the test run's output open.
  struct Ended {
    PROCESS_INFORMATION& p;
    ~Ended() {
      if (::WaitForSingleObject(p.hProcess, 0) == WAIT_TIMEOUT) ::TerminateProcess(p.hProcess, 1);
      ::CloseHandle(p.hThread);
      ::CloseHandle(p.hProcess);
    }
  } ended{process};
  // The second copy tells the operator, in a message box of its own.
  ASSERT_NE(testing::WaitForWindow(L"#32770", L"KORVA - UPDATE", 1200), nullptr)
      << "no message from the second copy";
  // It made no window of its own: ours is the only one of the class.
  int windows = 0;
  for (HWND found = ::FindWindowExW(nullptr, nullptr, L"TFrmKorvaUpdate", nullptr); found;
       found = ::FindWindowExW(nullptr, found, L"TFrmKorvaUpdate", nullptr)) {
    ++windows;
  }
  EXPECT_EQ(windows, 1);
  // Answered once it is ready for the operator, not as soon as it exists.
  const ShownBox shown = AnswerBox(L"KORVA - UPDATE", IDOK, process.dwProcessId);
  ASSERT_TRUE(shown.found);
  EXPECT_EQ(shown.text, L"Aplica\u00e7\u00e3o j\u00e1 est\u00e1 sendo executada.");
  EXPECT_EQ(shown.buttons, std::set<int>{IDOK});
  ASSERT_EQ(::WaitForSingleObject(process.hProcess, 60000), WAIT_OBJECT_0);
  DWORD status = 1;
  ::GetExitCodeProcess(process.hProcess, &status);
  EXPECT_EQ(status, 0u);
}

TEST(Win32ShellTest, MessageBoxesShowTheirIconButtonsAndDefaultAndReturnTheClick) {
  struct Case {
    Message message;
    std::wstring caption;
    LPCWSTR icon;
    std::set<int> buttons;
    int defaultButton;
    int click;
    MsgButton answer;
  };
  const Case cases[] = {
      {{"Pergunta", "Deseja continuar?", MsgIcon::Question, kYes | kNo, kNo},
       L"Pergunta",
       IDI_QUESTION,
       {IDYES, IDNO},
       IDNO,
       IDYES,
       kYes},
      {{"Aviso", "Cuidado", MsgIcon::Warning, kOk | kCancel, kCancel},
       L"Aviso",
       IDI_WARNING,
       {IDOK, IDCANCEL},
       IDCANCEL,
       IDCANCEL,
       kCancel},
      {{"Erro", "Falhou", MsgIcon::Error, kAbort | kRetry | kIgnore, kNoButton},
       L"Erro",
       IDI_ERROR,
       {IDABORT, IDRETRY, IDIGNORE},
       IDABORT,
       IDIGNORE,
       kIgnore},
      {{"Erro", "Falhou", MsgIcon::Error, kAbort | kRetry | kIgnore, kRetry},
       L"Erro",
       IDI_ERROR,
       {IDABORT, IDRETRY, IDIGNORE},
       IDRETRY,
       IDRETRY,
       kRetry},
      // No caption of its own: the application's title.
      {{"", "Pronto", MsgIcon::Information, kOk, kOk},
       L"KORVA Update",
       IDI_INFORMATION,
       {IDOK},
       IDOK,
       IDOK,
       kOk},
  };
  Win32Shell shell;
  shell.SetApplicationTitle("KORVA Update");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message.text + " / " + std::to_string(c.click));
    auto shown = std::async(std::launch::async, AnswerBox, c.caption, c.click, DWORD{0});
    const MsgButton answer = shell.ShowMessage(c.message);
    const ShownBox box = shown.get();
    ASSERT_TRUE(box.found);
    EXPECT_EQ(box.buttons, c.buttons);
    EXPECT_EQ(box.defaultButton, c.defaultButton);
    EXPECT_EQ(box.icon, ::LoadIconW(nullptr, c.icon));
    EXPECT_EQ(answer, c.answer);
  }
}

}  // namespace
}  // namespace korva::win32
