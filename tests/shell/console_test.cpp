#include "shell/console.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "base/win_resources_win.h"

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

TEST(Utf8ConsoleOutputTest, AConsoleShowsUtf8WhileNeededAndGetsItsCodePageBack) {
  TestConsole console;
  ASSERT_NE(console.output(), INVALID_HANDLE_VALUE);
  ASSERT_TRUE(::SetConsoleOutputCP(936));
  UniqueHandle nul(
      ::CreateFileW(L"NUL", GENERIC_WRITE, FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(nul.is_valid());

  // Output redirected, errors on the console: the console must show them.
  {
    const Utf8ConsoleOutput utf8(nul.get(), console.output());
    EXPECT_EQ(::GetConsoleOutputCP(), static_cast<UINT>(CP_UTF8));
  }
  EXPECT_EQ(::GetConsoleOutputCP(), 936u);

  // Both redirected: the console is none of this process's business.
  {
    const Utf8ConsoleOutput utf8(nul.get(), nullptr);
    EXPECT_EQ(::GetConsoleOutputCP(), 936u);
  }
}

}  // namespace
