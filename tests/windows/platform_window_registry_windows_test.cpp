// The window registry on Windows is the window system itself: a real Win32
// window, served by its own message loop on another thread, found by class
// and title (FindWindowW) and closed by the WM_CLOSE our code sends.
#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <string>
#include <thread>

#include "platform/window_registry.h"
#include "platform/windows/win32_api.h"

namespace korva::platform {
namespace {

const std::string kClass = "TFrmKorvaBackup";
const std::string kTitle = "KORVA - Cópia de segurança";  // Windows-1252 bytes here
const wchar_t kWideClass[] = L"TFrmKorvaBackup";
const wchar_t kWideTitle[] = L"KORVA - C\u00f3pia de seguran\u00e7a";

std::atomic<int> closeRequests{0};

LRESULT CALLBACK WindowProcedure(HWND window, UINT message, WPARAM w, LPARAM l) {
  switch (message) {
    case WM_CLOSE:
      ++closeRequests;
      ::DestroyWindow(window);
      return 0;
    case WM_DESTROY:
      ::PostQuitMessage(0);
      return 0;
    default:
      return ::DefWindowProcW(window, message, w, l);
  }
}

// A top-level window of another thread, as the backup program's would be in
// another process: its message loop runs until the window is destroyed.
class WindowThread {
 public:
  WindowThread() {
    std::promise<bool> created;
    auto ready = created.get_future();
    thread_ = std::thread([&created] {
      WNDCLASSW wc{};
      wc.lpfnWndProc = WindowProcedure;
      wc.hInstance = ::GetModuleHandleW(nullptr);
      wc.lpszClassName = kWideClass;
      ::RegisterClassW(&wc);
      const HWND window = ::CreateWindowExW(0, kWideClass, kWideTitle, WS_OVERLAPPEDWINDOW, 0, 0,
                                            300, 200, nullptr, nullptr, wc.hInstance, nullptr);
      created.set_value(window != nullptr);
      if (!window) return;
      MSG msg;
      while (::GetMessageW(&msg, nullptr, 0, 0) > 0) {
        ::TranslateMessage(&msg);
        ::DispatchMessageW(&msg);
      }
    });
    created_ = ready.get();
  }
  ~WindowThread() { thread_.join(); }
  bool Created() const { return created_; }

 private:
  std::thread thread_;
  bool created_ = false;
};

TEST(WindowsWindowRegistry, FoundByClassAndTitleAndClosedByOurWmClose) {
  closeRequests = 0;
  {
    WindowThread window;
    ASSERT_TRUE(window.Created()) << "no window (is there a display?)";
    EXPECT_TRUE(FindWindow(kClass, kTitle));
    EXPECT_FALSE(FindWindow(kClass, "KORVA - Copia de seguranca"));
    EXPECT_FALSE(FindWindow("TFrmOutra", kTitle));
    EXPECT_FALSE(SendCloseRequest("TFrmOutra", kTitle));
    EXPECT_EQ(closeRequests, 0);

    EXPECT_TRUE(SendCloseRequest(kClass, kTitle));
    // Sent, not posted: the window has handled it when the call returns.
    EXPECT_EQ(closeRequests, 1);
  }
  EXPECT_FALSE(FindWindow(kClass, kTitle));
  EXPECT_FALSE(SendCloseRequest(kClass, kTitle));
  EXPECT_EQ(closeRequests, 1);
}

}  // namespace
}  // namespace korva::platform
