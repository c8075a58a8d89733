// Two processes appending to one log file (a second copy before its
// single-instance check, the crash watcher) never tear each other's records.
#include <cstdlib>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "base/utf8_path.h"
#include "logging/executable_directory.h"
#include "tests/logging/logger_test_support.h"

namespace {

TEST(LogAppendTest, TwoProcessesAppendingOneFileKeepEveryRecordWhole) {
  constexpr int kRecords = 20'000;
  TempDir dir;
  const std::string file = velqa::base::Utf8FromPath(dir.path() / "velqa_20250301.log");
  const std::string probe = velqa::logging::ExecutableDirectory() + "/log_append_probe";
  int exit_codes[2] = {-1, -1};
  std::thread writers[2];
  for (int w = 0; w < 2; ++w) {
    // Neither path holds a blank, so no shell's quoting rules come in.
    const std::string command =
        probe + " " + file + " " + std::string(1, static_cast<char>('A' + w)) + " " +
        std::to_string(kRecords);
    writers[w] = std::thread([command, &code = exit_codes[w]] { code = std::system(command.c_str()); });
  }
  for (auto& writer : writers) writer.join();
  ASSERT_EQ(exit_codes[0], 0);
  ASSERT_EQ(exit_codes[1], 0);

  // "<tag> <n> <150 times the tag>", each tag's numbers in order.
  int next[2] = {0, 0};
  int whole = 0;
  const auto lines = ReadLines(velqa::base::PathFromUtf8(file));
  for (const auto& line : lines) {
    const std::size_t blank = line.find(' ', 2);
    const char tag = line.empty() ? '?' : line[0];
    const bool ok = (tag == 'A' || tag == 'B') && line.size() > 2 && line[1] == ' ' &&
                    blank != std::string::npos &&
                    line.substr(2, blank - 2) == std::to_string(next[tag - 'A']) &&
                    line.substr(blank + 1) == std::string(150, tag);
    if (!ok) {
      ADD_FAILURE() << "torn or out of order: " << line.substr(0, 200);
      continue;
    }
    ++next[tag - 'A'];
    ++whole;
  }
  EXPECT_EQ(whole, 2 * kRecords);
  EXPECT_EQ(lines.size(), 2u * kRecords);
}

}  // namespace
