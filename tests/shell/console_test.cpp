#include "shell/console.h"

#include <io.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <thread>

#include "base/standard_text.h"
#include "base/win_resources_win.h"
#include "shell/console_control.h"
#include "shell/win32_window.h"

namespace {

using velqa::base::UniqueHandle;

TEST(NeedsConsoleBindingTest, HandlesThatLeadNowhereMayBeBound) {
  EXPECT_TRUE(NeedsConsoleBinding(nullptr));
  EXPECT_TRUE(NeedsConsoleBinding(INVALID_HANDLE_VALUE));

  // A handle that was valid once but has been closed since.
  UniqueHandle event(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  ASSERT_TRUE(event.is_valid());
  const HANDLE closed = event.get();
  event.Reset();
  EXPECT_TRUE(NeedsConsoleBinding(closed));
}

TEST(NeedsConsoleBindingTest, RedirectedOutputIsNeverReplaced) {
  HANDLE read_end = nullptr;
  HANDLE write_end = nullptr;
  ASSERT_TRUE(::CreatePipe(&read_end, &write_end, nullptr, 0));
  UniqueHandle pipe_read(read_end);
  UniqueHandle pipe_write(write_end);
  EXPECT_FALSE(NeedsConsoleBinding(pipe_write.get()));

  const std::filesystem::path path =
      std::filesystem::temp_directory_path() /
      (L"velqa_console_test_" + std::to_wstring(::GetCurrentProcessId()) + L".txt");
  UniqueHandle file(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_FLAG_DELETE_ON_CLOSE, nullptr));
  ASSERT_TRUE(file.is_valid());
  EXPECT_FALSE(NeedsConsoleBinding(file.get()));

  // The NUL device is a character device somebody chose on purpose.
  UniqueHandle nul(
      ::CreateFileW(L"NUL", GENERIC_WRITE, FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(nul.is_valid());
  EXPECT_FALSE(NeedsConsoleBinding(nul.get()));
}

// A console for this process: its own one, or one allocated for the test
// (the standard handles are kept as they were). Its output code page is put
// back when the object goes.
class TestConsole {
 public:
  TestConsole() {
    code_page_ = ::GetConsoleOutputCP();
    output_.Reset(Open());
    if (output_.is_valid()) return;
    const HANDLE standard[] = {::GetStdHandle(STD_INPUT_HANDLE), ::GetStdHandle(STD_OUTPUT_HANDLE),
                               ::GetStdHandle(STD_ERROR_HANDLE)};
    // Wine gives a program started without a terminal a console that cannot
    // be opened as CONOUT$; trade it for a real one.
    ::FreeConsole();
    const bool allocated = ::AllocConsole() != FALSE;
    ::SetStdHandle(STD_INPUT_HANDLE, standard[0]);
    ::SetStdHandle(STD_OUTPUT_HANDLE, standard[1]);
    ::SetStdHandle(STD_ERROR_HANDLE, standard[2]);
    if (allocated) output_.Reset(Open());
    code_page_ = ::GetConsoleOutputCP();
  }
  // An allocated console stays: freeing it ends this process under Wine.
  ~TestConsole() {
    if (code_page_ != 0) ::SetConsoleOutputCP(code_page_);
  }
  HANDLE output() const { return output_.get(); }

 private:
  static HANDLE Open() {
    return ::CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE,
                         FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
  }
  UniqueHandle output_;
  UINT code_page_ = 0;
};

// Reads the console's screen buffer from its start.
std::wstring ScreenText(HANDLE console) {
  CONSOLE_SCREEN_BUFFER_INFO info{};
  ::GetConsoleScreenBufferInfo(console, &info);
  const DWORD cells = static_cast<DWORD>(info.dwSize.X) * static_cast<DWORD>(info.dwSize.Y);
  std::wstring text(cells, L' ');
  DWORD read = 0;
  ::ReadConsoleOutputCharacterW(console, text.data(), cells, COORD{0, 0}, &read);
  text.resize(read);
  return text;
}

// Text for a console goes as UTF-16: the characters arrive whatever the
// console's code page is, and that code page, the user's shell's, stays.
TEST(StandardTextTest, AConsoleGetsTheCharactersAndKeepsItsCodePage) {
  TestConsole console;
  ASSERT_NE(console.output(), INVALID_HANDLE_VALUE);
  ASSERT_TRUE(::SetConsoleOutputCP(936));
  const int saved = _dup(1);
  const int console_fd = _open_osfhandle(reinterpret_cast<intptr_t>(console.output()), 0);
  ASSERT_GE(console_fd, 0);
  ASSERT_EQ(_dup2(console_fd, 1), 0);
  const bool written = velqa::base::WriteStandardText(velqa::base::StandardStream::kOutput,
                                                      "[INFO] [Main] [I] 应用启动 \xC3\xBC\n");
  _dup2(saved, 1);
  _close(saved);
  EXPECT_TRUE(written);
  EXPECT_NE(ScreenText(console.output()).find(L"[Main] [I] \u5E94\u7528\u542F\u52A8 \u00FC"),
            std::wstring::npos);
  EXPECT_EQ(::GetConsoleOutputCP(), 936u);
}

// The handler's decisions: Ctrl+C and Ctrl+Break are the shell's; closing
// the console asks the window to exit as the tray does and waits for it.
TEST(ConsoleControlHandlerTest, IgnoresCtrlCAndRunsTheNormalExitWhenTheConsoleCloses) {
  const HWND window = ::CreateWindowExW(0, L"STATIC", L"exit target", 0, 0, 0, 0, 0, HWND_MESSAGE,
                                        nullptr, nullptr, nullptr);
  ASSERT_NE(window, nullptr);
  MSG message;
  EXPECT_FALSE(ConsoleControlHandler(CTRL_CLOSE_EVENT)) << "no window yet: the system's default";
  SetConsoleExitWindow(window);
  EXPECT_TRUE(ConsoleControlHandler(CTRL_C_EVENT));
  EXPECT_TRUE(ConsoleControlHandler(CTRL_BREAK_EVENT));
  EXPECT_FALSE(::PeekMessageW(&message, window, WM_COMMAND, WM_COMMAND, PM_REMOVE));

  for (const DWORD event : {CTRL_CLOSE_EVENT, CTRL_LOGOFF_EVENT, CTRL_SHUTDOWN_EVENT}) {
    // The system calls the handler on a thread of its own.
    BOOL answer = FALSE;
    std::thread handler([&] { answer = ConsoleControlHandler(event); });
    bool asked = false;
    for (int i = 0; i < 500 && !asked; ++i) {
      asked = ::PeekMessageW(&message, window, WM_COMMAND, WM_COMMAND, PM_REMOVE) != FALSE;
      if (!asked) ::Sleep(10);
    }
    EXPECT_TRUE(asked) << event;
    EXPECT_EQ(message.wParam, MAKEWPARAM(kTrayExitCommand, 0));
    EXPECT_EQ(message.lParam, 0);
    NoteExitCompleted();
    handler.join();
    EXPECT_TRUE(answer);
  }
  // During the teardown after the message loop (sing-box may take seconds to
  // stop), a close waits for the exit instead of ending the process half-way.
  NoteExitStarted();
  EXPECT_TRUE(ConsoleControlHandler(CTRL_CLOSE_EVENT));
  EXPECT_FALSE(::PeekMessageW(&message, window, WM_COMMAND, WM_COMMAND, PM_REMOVE));
  ::DestroyWindow(window);
}

}  // namespace
