#include "shell/console.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "shell/win_resources.h"

namespace {

using velqa::shell::UniqueHandle;

TEST(NeedsConsoleBindingTest, HandlesThatLeadNowhereMayBeBound) {
  EXPECT_TRUE(NeedsConsoleBinding(nullptr));
  EXPECT_TRUE(NeedsConsoleBinding(INVALID_HANDLE_VALUE));

  // A handle that was valid once but has been closed since.
  UniqueHandle event(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  ASSERT_TRUE(event.IsValid());
  const HANDLE closed = event.Get();
  event.Reset();
  EXPECT_TRUE(NeedsConsoleBinding(closed));
}

TEST(NeedsConsoleBindingTest, RedirectedOutputIsNeverReplaced) {
  HANDLE read_end = nullptr;
  HANDLE write_end = nullptr;
  ASSERT_TRUE(::CreatePipe(&read_end, &write_end, nullptr, 0));
  UniqueHandle pipe_read(read_end);
  UniqueHandle pipe_write(write_end);
  EXPECT_FALSE(NeedsConsoleBinding(pipe_write.Get()));

  const std::filesystem::path path =
      std::filesystem::temp_directory_path() /
      (L"velqa_console_test_" + std::to_wstring(::GetCurrentProcessId()) + L".txt");
  UniqueHandle file(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_FLAG_DELETE_ON_CLOSE, nullptr));
  ASSERT_TRUE(file.IsValid());
  EXPECT_FALSE(NeedsConsoleBinding(file.Get()));

  // The NUL device is a character device somebody chose on purpose.
  UniqueHandle nul(
      ::CreateFileW(L"NUL", GENERIC_WRITE, FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(nul.IsValid());
  EXPECT_FALSE(NeedsConsoleBinding(nul.Get()));
}

}  // namespace
