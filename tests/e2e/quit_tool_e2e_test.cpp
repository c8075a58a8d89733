// velqa_quit (what `scripts/run --quit` runs) against the bundled application:
// it must end a running copy through the tray's exit command and say when
// there is none.
#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>

#include "tests/e2e/app_process.h"
#include "tests/e2e/session_files.h"

namespace velqa::e2e {
namespace {

namespace fs = std::filesystem;

// Built into <build>\bin, beside this test.
fs::path QuitTool() { return BundleDirectory().parent_path() / L"bin" / L"velqa_quit.exe"; }

TEST(QuitToolTest, EndsTheRunningCopyHiddenToTheTrayWithExitCodeZero) {
  TempDirectory work(L"velqa_quit_");
  AppProcess app;
  ASSERT_TRUE(app.Start(BundleDirectory() / L"velqa_assistant.exe", {}, work.path()));
  HWND window = nullptr;
  ASSERT_TRUE(WaitFor([&] { return (window = FindAppWindow(app.pid())) != nullptr; }, 30000))
      << app.Output();
  // Closing only hides the window; the copy must still be reachable.
  ::PostMessageW(window, WM_CLOSE, 0, 0);
  ASSERT_TRUE(WaitFor([&] { return !::IsWindowVisible(window); }, 5000));

  AppProcess quit;
  ASSERT_TRUE(quit.Start(QuitTool(), {}, work.path()));
  EXPECT_EQ(quit.WaitForExit(30000), std::optional<DWORD>(0)) << quit.Output();
  // Ended by itself, not killed: the tray command quits with code 0.
  EXPECT_EQ(app.WaitForExit(1000), std::optional<DWORD>(0)) << app.Output();
}

TEST(QuitToolTest, ReportsThatNoCopyRuns) {
  TempDirectory work(L"velqa_quit_");
  AppProcess quit;
  ASSERT_TRUE(quit.Start(QuitTool(), {}, work.path()));
  EXPECT_EQ(quit.WaitForExit(30000), std::optional<DWORD>(1));
  // The reader may still be draining the pipe when the process has ended.
  EXPECT_TRUE(quit.WaitForOutput("no running copy", 5000)) << quit.Output();
}

}  // namespace
}  // namespace velqa::e2e
