// The one-copy rule end to end: a second copy brings the first forward and
// leaves, also while the first is still ending with its sing-box.
#include <windows.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "base/win_resources_win.h"
#include "shell/single_instance.h"
#include "shell/win32_window.h"
#include "tests/support/process_probe.h"

#include "tests/e2e/app_test_fixture.h"

namespace velqa::e2e {
namespace {

using ::testing::HasSubstr;
using velqa::testing::IsProcessAlive;

enum class FirstWindowState { kShown, kMinimised, kHiddenToTray };

// A visible top-level window of the test made the foreground window, and
// destroyed again.
class ForegroundWindowOfTheTest {
 public:
  ForegroundWindowOfTheTest()
      : window_(::CreateWindowExW(0, L"STATIC", L"velqa e2e foreground", WS_OVERLAPPEDWINDOW, 600,
                                  100, 200, 100, nullptr, nullptr, nullptr, nullptr)) {
    ::ShowWindow(window_.get(), SW_SHOW);
    ::SetForegroundWindow(window_.get());
  }

  bool IsForeground() const { return window_ && ::GetForegroundWindow() == window_.get(); }

 private:
  base::UniqueWindow window_;
};

class SecondCopyTest : public AppTest, public ::testing::WithParamInterface<FirstWindowState> {};

TEST_P(SecondCopyTest, BringsTheFirstForwardShowsTheNoticeAndLeavesTheFirstRunning) {
  AppProcess first;
  // The stand-in engine records the first window's activations there.
  const fs::path first_events = Path(L"first-events.txt");
  Start(first, {L"--dart-events", first_events.wstring()});
  HWND window = WaitForVisibleWindow(first);
  ASSERT_NE(window, nullptr) << first.Output();
  if (GetParam() == FirstWindowState::kMinimised) {
    ::ShowWindow(window, SW_MINIMIZE);
    ASSERT_TRUE(WaitFor([&] { return ::IsIconic(window) != FALSE; }, 5000));
  } else if (GetParam() == FirstWindowState::kHiddenToTray) {
    ::PostMessageW(window, WM_CLOSE, 0, 0);
    ASSERT_TRUE(WaitFor([&] { return !::IsWindowVisible(window); }, 5000));
  }
  // Another window has the foreground when the second copy starts, so that
  // bringing the first window forward is a change that can be seen.
  ForegroundWindowOfTheTest other;
  ASSERT_TRUE(other.IsForeground());
  const auto activations = [&] {
    const std::vector<std::string> events = SplitLines(ReadFileBytes(first_events));
    return std::count(events.begin(), events.end(), "window activated");
  };
  const auto activations_before = activations();

  LogWatch log(bundle_);
  AppProcess second;
  Start(second, {});
  HWND notice = WaitForNotice(second);
  ASSERT_NE(notice, nullptr) << second.Output();
  // The second copy never gets a window of its own.
  EXPECT_EQ(FindAppWindow(second.pid()), nullptr);
  // The notice is in front of the window just brought forward.
  EXPECT_TRUE(WaitFor([&] { return ::GetForegroundWindow() == notice; }, 5000));

  // The first window was made the foreground window (before the notice took
  // it over), restored when minimised, and shown only if it was visible.
  EXPECT_TRUE(WaitFor([&] { return activations() > activations_before; }, 5000))
      << ReadFileBytes(first_events);
  EXPECT_TRUE(WaitFor([&] { return !::IsIconic(window); }, 5000)) << "not restored";
  EXPECT_EQ(::IsWindowVisible(window) != FALSE, GetParam() != FirstWindowState::kHiddenToTray)
      << "only the tray icon shows a hidden window again";

  ::PostMessageW(notice, WM_COMMAND, IDOK, 0);
  EXPECT_EQ(second.WaitForExit(kExitTimeoutMs), std::optional<DWORD>(0));
  // The second copy logged its start and nothing else.
  std::vector<std::string> records = log.NewRecords();
  std::erase_if(records, [](const std::string& record) {
    return record.find("[NativeLogger]") != std::string::npos;
  });
  ASSERT_EQ(records.size(), 1u);
  EXPECT_THAT(records[0], HasSubstr("应用启动"));
  EXPECT_TRUE(first.IsRunning());
  EXPECT_EQ(FindAppWindow(first.pid()), window);

  ::PostMessageW(window, WM_COMMAND, kTrayExitCommand, 0);
  EXPECT_EQ(first.WaitForExit(kExitTimeoutMs), std::optional<DWORD>(0));
}

INSTANTIATE_TEST_SUITE_P(FirstCopy, SecondCopyTest,
                         ::testing::Values(FirstWindowState::kShown, FirstWindowState::kMinimised,
                                           FirstWindowState::kHiddenToTray),
                         [](const ::testing::TestParamInfo<FirstWindowState>& info) {
                           switch (info.param) {
                             case FirstWindowState::kShown:
                               return std::string("Shown");
                             case FirstWindowState::kMinimised:
                               return std::string("Minimised");
                             case FirstWindowState::kHiddenToTray:
                               break;
                           }
                           return std::string("HiddenToTray");
                         });

TEST_F(AppTest, ACopyStartedWhileTheFirstExitsDoesNotStartBesideTheFirstsSingBox) {
  AppProcess first;
  DWORD sing_box = 0;
  // The first copy's engine takes 8 s to shut down, so its exit lasts.
  ASSERT_NO_FATAL_FAILURE(StartWithSingBox(first, &sing_box, {L"--dart-shutdown-ms", L"8000"}));
  HWND window = WaitForVisibleWindow(first);
  ASSERT_NE(window, nullptr) << first.Output();

  ::PostMessageW(window, WM_COMMAND, kTrayExitCommand, 0);
  AppProcess second;
  Start(second, {});
  // Still the first copy's turn: the second is turned away.
  HWND notice = WaitForNotice(second);
  ASSERT_NE(notice, nullptr) << second.Output();
  EXPECT_TRUE(first.IsRunning());
  EXPECT_TRUE(ChildProcesses(second.pid(), kSingBoxImage).empty());
  ::PostMessageW(notice, WM_COMMAND, IDOK, 0);
  EXPECT_EQ(second.WaitForExit(kExitTimeoutMs), std::optional<DWORD>(0));

  EXPECT_EQ(first.WaitForExit(kExitTimeoutMs), std::optional<DWORD>(0)) << first.Output();
  EXPECT_FALSE(IsProcessAlive(sing_box));
}

}  // namespace
}  // namespace velqa::e2e
