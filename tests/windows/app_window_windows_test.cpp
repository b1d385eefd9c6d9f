// The Windows updater's window on a real Win32 window system (Wine on Xvfb):
// every page of the window made from the form model, saved as a picture; and
// a second korvaupdate.exe refused because it finds the first by its window.
//
// The database lives on the Linux side and this build has no fbclient.dll,
// so the program's own start would stop at the database message before its
// window shows. The pages are therefore shown by this test through the
// window's own classes (MainWindow over a FormModel and a Principal whose
// start-up sequence is not run); the second copy is the real program.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <future>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "app/principal.h"
#include "app/win32/main_window.h"
#include "app/win32/win32_shell.h"
#include "form/form_model.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/windows/wide_text.h"
#include "platform/windows/win32_api.h"
#include "support/temp_dir.h"
#include "vendor/vendor_library.h"

namespace korva::win32 {
namespace {

using platform::windows::Wide;

std::wstring TextOf(HWND window) {
  const int length = ::GetWindowTextLengthW(window);
  std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
  ::GetWindowTextW(window, text.data(), length + 1);
  text.resize(static_cast<std::size_t>(length));
  return text;
}

void Pump() {
  MSG msg;
  while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    ::TranslateMessage(&msg);
    ::DispatchMessageW(&msg);
  }
}

struct Capture {
  int width = 0;
  int height = 0;
  std::vector<unsigned char> pixels;  // BGR rows, bottom-up, 4-byte aligned
  std::size_t DistinctColours() const {
    std::set<unsigned> colours;
    const std::size_t stride = (static_cast<std::size_t>(width) * 3 + 3) & ~std::size_t{3};
    for (int y = 0; y < height; ++y) {
      for (int x = 0; x < width; ++x) {
        const unsigned char* p =
            &pixels[static_cast<std::size_t>(y) * stride + static_cast<std::size_t>(x) * 3];
        colours.insert(p[0] | (p[1] << 8) | (p[2] << 16));
      }
    }
    return colours.size();
  }
};

// The window's client area as the window system shows it.
Capture CaptureClient(HWND window) {
  RECT area;
  ::GetClientRect(window, &area);
  Capture capture;
  capture.width = area.right;
  capture.height = area.bottom;
  const HDC screen = ::GetDC(window);
  const HDC memory = ::CreateCompatibleDC(screen);
  const HBITMAP bitmap = ::CreateCompatibleBitmap(screen, capture.width, capture.height);
  const HGDIOBJ old = ::SelectObject(memory, bitmap);
  ::BitBlt(memory, 0, 0, capture.width, capture.height, screen, 0, 0, SRCCOPY);
  ::SelectObject(memory, old);
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = capture.width;
  info.bmiHeader.biHeight = capture.height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 24;
  info.bmiHeader.biCompression = BI_RGB;
  const std::size_t stride = (static_cast<std::size_t>(capture.width) * 3 + 3) & ~std::size_t{3};
  capture.pixels.resize(stride * static_cast<std::size_t>(capture.height));
  ::GetDIBits(memory, bitmap, 0, static_cast<UINT>(capture.height), capture.pixels.data(), &info,
              DIB_RGB_COLORS);
  ::DeleteObject(bitmap);
  ::DeleteDC(memory);
  ::ReleaseDC(window, screen);
  return capture;
}

void SaveBmp(const Capture& capture, const std::string& path) {
  BITMAPFILEHEADER file{};
  BITMAPINFOHEADER header{};
  header.biSize = sizeof header;
  header.biWidth = capture.width;
  header.biHeight = capture.height;
  header.biPlanes = 1;
  header.biBitCount = 24;
  header.biCompression = BI_RGB;
  file.bfType = 0x4D42;
  file.bfOffBits = sizeof file + sizeof header;
  file.bfSize = static_cast<DWORD>(file.bfOffBits + capture.pixels.size());
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(&file), sizeof file);
  out.write(reinterpret_cast<const char*>(&header), sizeof header);
  out.write(reinterpret_cast<const char*>(capture.pixels.data()),
            static_cast<std::streamsize>(capture.pixels.size()));
  ASSERT_TRUE(out.good()) << path;
}

// Where the pictures go: the folder CTest names, else beside the test.
std::string ScreenshotFolder() {
  const char* folder = std::getenv("KORVA_WINDOW_SCREENSHOTS");
  std::string path = folder && *folder ? folder : platform::ExecutableFolder() + "\\window-pages";
  ::CreateDirectoryW(Wide(path).c_str(), nullptr);
  return path;
}

class WindowTest : public ::testing::Test {
 protected:
  testing::TempDir site;
  form::FormModel form;
  Win32Shell shell;
  platform::SystemClock clock;
  Principal principal{form, shell, clock, site.Path()};
};

TEST_F(WindowTest, EveryPageShowsItsControlsAndIsSaved) {
  const std::string title = form::FormModel::ComposeMainTitle("9.9.9.9");
  MainWindow window(form, principal, shell, title);
  ASSERT_NE(window.Handle(), nullptr);
  EXPECT_EQ(::FindWindowW(L"TFrmKorvaUpdate", Wide(title).c_str()), window.Handle());
  ::ShowWindow(window.Handle(), SW_SHOW);
  RECT client;
  ::GetClientRect(window.Handle(), &client);
  EXPECT_EQ(client.right, form::FormModel::kClientWidth);
  EXPECT_EQ(client.bottom, form::FormModel::kClientHeight);

  // Texts reach the native controls as the operator reads them.
  EXPECT_EQ(TextOf(window.WindowOf("BtBtnNovasAtualizacoes")),
            L"&Procurar por novas atualiza\u00e7\u00f5es");
  EXPECT_EQ(TextOf(window.WindowOf("BtbtnIniciarAtualizacao")), L"Iniciar &Atualiza\u00e7\u00f5es");
  EXPECT_FALSE(::IsWindowEnabled(window.WindowOf("BtbtnIniciarAtualizacao")));
  EXPECT_FALSE(::IsWindowVisible(window.WindowOf("PnlDownload")));
  // Each control has the font of its design line.
  for (const char* name : {"BtBtnFechar", "Label2", "BtBtnNovasAtualizacoes", "LblSite"}) {
    LOGFONTW font{};
    const auto handle =
        reinterpret_cast<HFONT>(::SendMessageW(window.WindowOf(name), WM_GETFONT, 0, 0));
    ASSERT_TRUE(handle && ::GetObjectW(handle, sizeof font, &font)) << name;
    EXPECT_EQ(font.lfWeight, FW_BOLD) << name;
  }

  const std::string folder = ScreenshotFolder();
  std::set<std::size_t> pictures;
  for (form::TextControl* page : form.Pages()) {
    SCOPED_TRACE(page->Name());
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
    // A page drawn: pictures, frames and texts, not one flat colour.
    EXPECT_GT(capture.DistinctColours(), 16u);
    SaveBmp(capture, folder + "\\" + page->Name() + ".bmp");
    pictures.insert(capture.pixels.size() ^ std::hash<std::string>{}(std::string(
                                                capture.pixels.begin(), capture.pixels.end())));
  }
  // Each page looks different from every other.
  EXPECT_EQ(pictures.size(), form.Pages().size());

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
  SaveBmp(CaptureClient(window.Handle()), folder + "\\TbShtInicio-transfer.bmp");
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
  window.BindClick("BitBtn1", [&clicks] { ++clicks; });
  ::SendMessageW(window.WindowOf("BitBtn1"), BM_CLICK, 0, 0);
  EXPECT_EQ(clicks, 1);
  // A disabled button takes no click.
  form.BitBtn1.SetEnabled(false);
  shell.Repaint();
  ::SendMessageW(window.WindowOf("BitBtn1"), BM_CLICK, 0, 0);
  EXPECT_EQ(clicks, 1);
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
  // The second copy tells the operator, in a message box of its own.
  HWND box = nullptr;
  for (int slice = 0; slice < 600 && !box; ++slice) {
    box = ::FindWindowW(L"#32770", L"KORVA - UPDATE");
    if (!box) ::WaitForSingleObject(process.hProcess, 100);
  }
  ASSERT_NE(box, nullptr) << "no message from the second copy";
  std::wstring text;
  for (HWND child = ::GetWindow(box, GW_CHILD); child; child = ::GetWindow(child, GW_HWNDNEXT)) {
    text += TextOf(child) + L"\n";
  }
  EXPECT_NE(text.find(L"Aplica\u00e7\u00e3o j\u00e1 est\u00e1 sendo executada."),
            std::wstring::npos);
  // It made no window of its own: ours is the only one of the class.
  int windows = 0;
  for (HWND found = ::FindWindowExW(nullptr, nullptr, L"TFrmKorvaUpdate", nullptr); found;
       found = ::FindWindowExW(nullptr, found, L"TFrmKorvaUpdate", nullptr)) {
    ++windows;
  }
  EXPECT_EQ(windows, 1);
  ::PostMessageW(box, WM_COMMAND, IDOK, 0);
  ASSERT_EQ(::WaitForSingleObject(process.hProcess, 60000), WAIT_OBJECT_0);
  DWORD status = 1;
  ::GetExitCodeProcess(process.hProcess, &status);
  EXPECT_EQ(status, 0u);
  ::CloseHandle(process.hThread);
  ::CloseHandle(process.hProcess);
}

// What a real message box showed, read from the box while it is up, and the
// button then clicked as the operator would.
struct ShownBox {
  bool found = false;
  std::set<int> buttons;
  int defaultButton = 0;
  HICON icon = nullptr;
};

ShownBox AnswerBox(const std::wstring& caption, int answer) {
  ShownBox shown;
  HWND box = nullptr;
  // Found as soon as it exists; read once it shows, its buttons laid out and
  // the preselected one focused.
  bool ready = false;
  for (int slice = 0; slice < 600 && !ready; ++slice) {
    box = ::FindWindowW(L"#32770", caption.c_str());
    GUITHREADINFO focus{};
    focus.cbSize = sizeof focus;
    ready = box && ::IsWindowVisible(box) &&
            ::GetGUIThreadInfo(::GetWindowThreadProcessId(box, nullptr), &focus) &&
            focus.hwndFocus && ::GetParent(focus.hwndFocus) == box;
    if (!ready) ::Sleep(50);
  }
  if (!ready) return shown;
  shown.found = true;
  for (int id : {IDOK, IDCANCEL, IDABORT, IDRETRY, IDIGNORE, IDYES, IDNO}) {
    const HWND button = ::GetDlgItem(box, id);
    if (button && ::IsWindowVisible(button)) shown.buttons.insert(id);
  }
  // The preselected button: the one with the keyboard focus when the box
  // opens, which Enter presses.
  GUITHREADINFO focus{};
  focus.cbSize = sizeof focus;
  if (::GetGUIThreadInfo(::GetWindowThreadProcessId(box, nullptr), &focus) && focus.hwndFocus) {
    shown.defaultButton = ::GetDlgCtrlID(focus.hwndFocus);
  }
  // The box's icon: the one static control that shows an icon.
  for (HWND child = ::GetWindow(box, GW_CHILD); child; child = ::GetWindow(child, GW_HWNDNEXT)) {
    if (const auto icon = reinterpret_cast<HICON>(::SendMessageW(child, STM_GETICON, 0, 0))) {
      shown.icon = icon;
    }
  }
  ::PostMessageW(box, WM_COMMAND, MAKEWPARAM(answer, BN_CLICKED),
                 reinterpret_cast<LPARAM>(::GetDlgItem(box, answer)));
  return shown;
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
    auto shown = std::async(std::launch::async, AnswerBox, c.caption, c.click);
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
