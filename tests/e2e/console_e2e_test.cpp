// The console rule of a GUI program started from a console: it attaches to
// that console and writes its lines there, unless its output was redirected,
// which must keep working.
#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "base/win_resources_win.h"
#include "tests/e2e/app_process.h"
#include "tests/e2e/session_files.h"

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
    bool code_page_changed = false;
    std::optional<DWORD> exit_code;
    WaitFor(
        [&] {
          code_page_changed = code_page_changed || ::GetConsoleOutputCP() != 437;
          return (exit_code = redirected.WaitForExit(0)).has_value();
        },
        30000);
    ASSERT_EQ(exit_code, std::optional<DWORD>(0));
    EXPECT_FALSE(code_page_changed);
    EXPECT_TRUE(redirected.WaitForOutput("[INFO] [Main] [I] 应用启动", 5000))
        << redirected.Output();
  }
  EXPECT_EQ(console.Text().find(L"[Main]"), std::wstring::npos);

  // Not redirected: the lines reach the console it was started from, which
  // decodes them as UTF-8 while the application runs and has its own code
  // page back afterwards. (Wine's C runtime converts console output by
  // itself, so the characters cannot show whether the code page was right.)
  console.Clear();
  AppProcess attached;
  ASSERT_TRUE(attached.Start(app, {L"--dart-script", script.wstring()}, work.path(), nullptr,
                             /*redirect_output=*/false));
  EXPECT_TRUE(WaitFor([] { return ::GetConsoleOutputCP() == CP_UTF8; }, 30000));
  ASSERT_EQ(attached.WaitForExit(30000), std::optional<DWORD>(0));
  EXPECT_NE(console.Text().find(L"[Main]"), std::wstring::npos);
  EXPECT_EQ(::GetConsoleOutputCP(), 437u);
}

}  // namespace
}  // namespace velqa::e2e
