// The console rule of a GUI program started from a console: it attaches to
// that console and writes its lines there, unless its output was redirected,
// which must keep working.
#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <utility>

#include "base/win_resources_win.h"
#include "tests/e2e/app_process.h"
#include "tests/e2e/session_files.h"
#include "tests/support/standin_config.h"

namespace velqa::e2e {
namespace {

namespace fs = std::filesystem;

// This test program's console (allocated if it has none), read back and
// cleared through CONOUT$.
class OwnConsole {
 public:
  OwnConsole() {
    output_.Reset(Open());
    if (output_.is_valid()) return;
    // Wine gives a program started without a terminal a console that
    // cannot be opened as CONOUT$; trade it for a real one.
    ::FreeConsole();
    if (::AllocConsole()) output_.Reset(Open());
  }
  bool IsValid() const { return output_.is_valid(); }

  void Clear() {
    CONSOLE_SCREEN_BUFFER_INFO info{};
    ::GetConsoleScreenBufferInfo(output_.get(), &info);
    const DWORD cells = static_cast<DWORD>(info.dwSize.X) * static_cast<DWORD>(info.dwSize.Y);
    DWORD written = 0;
    ::FillConsoleOutputCharacterW(output_.get(), L' ', cells, COORD{0, 0}, &written);
    ::SetConsoleCursorPosition(output_.get(), COORD{0, 0});
  }

  std::wstring Text() {
    CONSOLE_SCREEN_BUFFER_INFO info{};
    ::GetConsoleScreenBufferInfo(output_.get(), &info);
    const DWORD cells = static_cast<DWORD>(info.dwSize.X) * static_cast<DWORD>(info.dwSize.Y);
    std::wstring text(cells, L' ');
    DWORD read = 0;
    ::ReadConsoleOutputCharacterW(output_.get(), text.data(), cells, COORD{0, 0}, &read);
    text.resize(read);
    return text;
  }

 private:
  static HANDLE Open() {
    return ::CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE,
                         FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
  }
  base::UniqueHandle output_;
};

// Waits up to 30 s for `app` to end; its exit code, and whether the
// console's code page left `code_page` meanwhile.
std::pair<std::optional<DWORD>, bool> WatchCodePageUntilExit(AppProcess& app, UINT code_page) {
  bool changed = false;
  std::optional<DWORD> exit_code;
  WaitFor(
      [&] {
        changed = changed || ::GetConsoleOutputCP() != code_page;
        return (exit_code = app.WaitForExit(0)).has_value();
      },
      30000);
  return {exit_code, changed};
}

TEST(ConsoleTest, StartedFromAConsoleTheRecordsAppearThereUnlessOutputIsRedirected) {
  OwnConsole console;
  ASSERT_TRUE(console.IsValid()) << "no console for this test program";
  TempDirectory work(L"velqa_console_");
  // Runs a while, so the console's code page can be watched during the run.
  const fs::path script = work.path() / L"exit.dart-script";
  WriteFileBytes(script, "sleep 1500\nexit\n");
  const fs::path app = BundleDirectory() / L"velqa_assistant.exe";
  // An OEM code page, as a cmd window has one.
  ASSERT_TRUE(::SetConsoleOutputCP(437));

  // Redirected: the lines go into the pipe as UTF-8 bytes; the console's text
  // and code page are left alone.
  console.Clear();
  {
    AppProcess redirected;
    ASSERT_TRUE(redirected.Start(app, {L"--dart-script", script.wstring()}, work.path()));
    const auto [exit_code, code_page_changed] = WatchCodePageUntilExit(redirected, 437);
    ASSERT_EQ(exit_code, std::optional<DWORD>(0));
    EXPECT_FALSE(code_page_changed);
    EXPECT_TRUE(redirected.WaitForOutput("[INFO] [Main] [I] 应用启动", 5000))
        << redirected.Output();
  }
  EXPECT_EQ(console.Text().find(L"[Main]"), std::wstring::npos);

  // Not redirected: the lines reach the console it was started from, as
  // UTF-16, so the Chinese text arrives whatever the console's code page;
  // the code page, which belongs to the user's shell, never changes.
  console.Clear();
  AppProcess attached;
  ASSERT_TRUE(attached.Start(app, {L"--dart-script", script.wstring()}, work.path(), nullptr,
                             /*redirect_output=*/false));
  const auto [exit_code, code_page_changed] = WatchCodePageUntilExit(attached, 437);
  ASSERT_EQ(exit_code, std::optional<DWORD>(0));
  EXPECT_FALSE(code_page_changed);
  EXPECT_NE(console.Text().find(L"[Main] [I] \u5E94\u7528\u542F\u52A8"), std::wstring::npos)
      << "the start record is not on the console as written";
  EXPECT_EQ(::GetConsoleOutputCP(), 437u);
}

// Standard output is a courtesy copy: a pipe nobody reads (a launcher that
// captured it and lives on) must not stop the window, the channel or the
// output monitor while sing-box writes hard, nor the exit.
TEST(ConsoleTest, AStandardOutputNobodyReadsHoldsUpNeitherTheCallsNorTheExit) {
  TempDirectory work(L"velqa_blocked_stdout_");
  const fs::path config = work.path() / L"sing-box.json";
  WriteFileBytes(config, vpn_test::StandinConfig(R"({"burst_bytes": 8388608})"));
  const fs::path script = work.path() / L"session.dart-script";
  const fs::path replies = work.path() / L"replies.txt";
  WriteFileBytes(script, "call check_tun_driver\n"
                         "call start_vpn {\"config_path\": " + vpn_test::JsonString(Utf8(config)) + "}\n"
                         "sleep 500\n"
                         "call get_vpn_status\n"
                         "call stop_vpn\n"
                         "call get_vpn_status\n"
                         "exit\n");
  AppProcess app;
  app.PauseReading();
  ASSERT_TRUE(app.Start(BundleDirectory() / L"velqa_assistant.exe",
                        {L"--dart-script", script.wstring(), L"--dart-replies", replies.wstring()},
                        work.path()));
  const std::optional<DWORD> exit_code = app.WaitForExit(60000);
  const auto answered = ReadReplies(replies);
  ASSERT_EQ(exit_code, std::optional<DWORD>(0)) << answered.size() << " calls answered";
  ASSERT_EQ(answered.size(), 5u);
  EXPECT_EQ(answered[1].method, "start_vpn");
  EXPECT_EQ(answered[1].reply.kind, Reply::Kind::kSuccess);
  EXPECT_EQ(answered[3].method, "stop_vpn");
  EXPECT_EQ(answered[4].reply.value, "false");
  app.PauseReading(false);
}

}  // namespace
}  // namespace velqa::e2e
