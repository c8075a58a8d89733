// The application's window end to end: closing to the tray and back, the
// tray menu's exit, the fixed size and the system's fonts, and how sing-box
// and the crash watcher end with the application, also when it is killed.
#include <windows.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "shell/app_identity.h"
#include "shell/crash_channel_win.h"
#include "shell/win32_window.h"
#include "tests/support/process_probe.h"

#include "tests/e2e/app_test_fixture.h"

namespace velqa::e2e {
namespace {

using velqa::testing::WaitUntilGone;

TEST_F(AppTest, CloseHidesToTheTrayTheIconShowsItAndTheTrayMenuExitEndsEverything) {
  AppProcess app;
  DWORD sing_box = 0;
  ASSERT_NO_FATAL_FAILURE(StartWithSingBox(app, &sing_box));
  HWND window = WaitForVisibleWindow(app);
  ASSERT_NE(window, nullptr) << app.Output();
  const std::vector<DWORD> watcher = ChildProcesses(app.pid(), shell::kCrashWatcherFileName);
  ASSERT_EQ(watcher.size(), 1u);

  // The window's close button: hidden, still running.
  ::PostMessageW(window, WM_CLOSE, 0, 0);
  ASSERT_TRUE(WaitFor([&] { return !::IsWindowVisible(window); }, 5000));
  EXPECT_TRUE(app.IsRunning());

  // What the shell sends for a left click on the icon.
  ::PostMessageW(window, kTrayCallbackMessage, kTrayIconId, WM_LBUTTONUP);
  EXPECT_TRUE(WaitFor([&] { return ::IsWindowVisible(window) != FALSE; }, 5000));

  // A right click opens the real menu; choose its last item, Exit, with the
  // keyboard.
  ::PostMessageW(window, kTrayCallbackMessage, kTrayIconId, WM_RBUTTONUP);
  HWND menu = nullptr;
  ASSERT_TRUE(WaitFor(
      [&] {
        menu = ::FindWindowW(L"#32768", nullptr);
        return menu != nullptr && ::IsWindowVisible(menu);
      },
      5000));
  ::PostMessageW(menu, WM_KEYDOWN, VK_DOWN, 0);
  ::PostMessageW(menu, WM_KEYDOWN, VK_DOWN, 0);
  ::PostMessageW(menu, WM_KEYDOWN, VK_RETURN, 0);

  EXPECT_EQ(app.WaitForExit(kExitTimeoutMs), std::optional<DWORD>(0)) << app.Output();
  EXPECT_TRUE(WaitUntilGone(sing_box, std::chrono::milliseconds(5000))) << "sing-box left";
  EXPECT_TRUE(WaitUntilGone(watcher[0], std::chrono::milliseconds(5000))) << "watcher left";
}

TEST_F(AppTest, TheWindowKeepsItsOuterSizeAndTheFontsFollowTheSystem) {
  AppProcess app;
  StartScripted(app, "sleep 120000\n");
  HWND window = WaitForVisibleWindow(app);
  ASSERT_NE(window, nullptr) << app.Output();

  wchar_t title[64] = {};
  ::GetWindowTextW(window, title, 64);
  EXPECT_STREQ(title, kApplicationTitle);
  RECT before{};
  ::GetWindowRect(window, &before);
  // Wine reports 96 dpi: the logical geometry unscaled.
  EXPECT_EQ(before.left, 10);
  EXPECT_EQ(before.top, 10);
  EXPECT_EQ(before.right - before.left, 420);
  EXPECT_EQ(before.bottom - before.top, 768);

  ::SetWindowPos(window, nullptr, 0, 0, 900, 400, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  RECT after{};
  ::GetWindowRect(window, &after);
  EXPECT_EQ(after.right - after.left, 420);
  EXPECT_EQ(after.bottom - after.top, 768);

  // The view fills the client area.
  HWND view = ::GetWindow(window, GW_CHILD);
  ASSERT_NE(view, nullptr);
  RECT client{};
  RECT view_rect{};
  ::GetClientRect(window, &client);
  ::GetClientRect(view, &view_rect);
  EXPECT_EQ(view_rect.right, client.right);
  EXPECT_EQ(view_rect.bottom, client.bottom);

  ::PostMessageW(window, WM_FONTCHANGE, 0, 0);
  EXPECT_TRUE(WaitFor(
      [&] {
        return ReadFileBytes(Path(L"events.txt")).find("fonts reloaded") != std::string::npos;
      },
      5000));

  ::PostMessageW(window, WM_COMMAND, kTrayExitCommand, 0);
  EXPECT_EQ(app.WaitForExit(kExitTimeoutMs), std::optional<DWORD>(0));
}

TEST_F(AppTest, KillingTheApplicationHardEndsItsSingBoxAndItsCrashWatcher) {
  AppProcess app;
  DWORD sing_box = 0;
  ASSERT_NO_FATAL_FAILURE(StartWithSingBox(app, &sing_box));
  const std::vector<DWORD> watcher = ChildProcesses(app.pid(), shell::kCrashWatcherFileName);
  ASSERT_EQ(watcher.size(), 1u);

  ::TerminateProcess(app.handle(), 9);
  ASSERT_EQ(app.WaitForExit(kExitTimeoutMs), std::optional<DWORD>(9));
  EXPECT_TRUE(WaitUntilGone(sing_box, std::chrono::milliseconds(10000))) << "sing-box left";
  EXPECT_TRUE(WaitUntilGone(watcher[0], std::chrono::milliseconds(10000))) << "watcher left";
}

}  // namespace
}  // namespace velqa::e2e
