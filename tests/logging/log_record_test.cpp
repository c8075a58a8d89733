// The record line: layout, levels, timestamps and where records go.
#include <chrono>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "logging/local_time.h"
#include "logging/log_format.h"
#include "tests/logging/logger_test_support.h"

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

TEST(LogFormatTest, EveryLevelHasItsNameAndMarkerAndOthersAreUnknown) {
  const struct {
    int value;
    const char* line;
  } cases[] = {
      {0, "[T] [DEBUG] [Tag] [D] m"},    {1, "[T] [INFO] [Tag] [I] m"},
      {2, "[T] [WARNING] [Tag] [W] m"},  {3, "[T] [ERROR] [Tag] [E] m"},
      {4, "[T] [FATAL] [Tag] [F] m"},    {7, "[T] [UNKNOWN] [Tag] [?] m"},
      {-1, "[T] [UNKNOWN] [Tag] [?] m"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(velqa::logging::FormatLogEntry(static_cast<LogLevel>(c.value), "m", "Tag", "T"),
              c.line)
        << c.value;
  }
}

TEST(LogFormatTest, EmptyTagAndMessageKeepTheirBracketsAndBlanks) {
  EXPECT_EQ(velqa::logging::FormatLogEntry(LogLevel::kInfo, "", "", "T"), "[T] [INFO] [] [I] ");
}

TEST(LogFormatTest, MessageAndTagPassUnchanged) {
  EXPECT_EQ(
      velqa::logging::FormatLogEntry(LogLevel::kWarning, "第一行\n第二行 %s {}", "标签]", "T"),
      "[T] [WARNING] [标签]] [W] 第一行\n第二行 %s {}");
}

using LogRecordTest = LoggerTest;

TEST_F(LogRecordTest, FileAndConsoleGetTheSameExactBytes) {
  auto logger = MakeInitializedLogger();
  const std::string before = ReadFileBytes(DayFile());
  clock_->Set(LocalTime(2025, 3, 1, 9, 15, 2, 47));
  ConsoleCapture console;
  logger->Info("Job Object created successfully", "VpnManager");
  console.Finish();
  const std::string line =
      "[2025-03-01 09:15:02.047] [INFO] [VpnManager] [I] Job Object created successfully";
  EXPECT_EQ(ReadFileBytes(DayFile()), before + line + kFileLineEnd);
  EXPECT_EQ(SplitLines(console.out()), std::vector<std::string>{line});
  EXPECT_THAT(console.err(), IsEmpty());
}

TEST_F(LogRecordTest, MillisecondsArePaddedAndTruncatedAndFollowTheClock) {
  auto logger = MakeInitializedLogger();
  ConsoleCapture console;
  clock_->Set(LocalTime(2025, 12, 31, 23, 59, 58) + std::chrono::microseconds(5999));
  logger->Log(LogLevel::kDebug, "a", "T");
  clock_->Set(LocalTime(2025, 12, 31, 23, 59, 58, 999) + std::chrono::microseconds(999));
  logger->Log(LogLevel::kDebug, "b", "T");
  // A new second must not reuse the text of the previous one.
  clock_->Set(LocalTime(2026, 1, 1, 0, 0, 0, 0));
  logger->Log(LogLevel::kDebug, "c", "T");
  clock_->Set(LocalTime(2026, 1, 1, 0, 0, 0, 40));
  logger->Log(LogLevel::kDebug, "d", "T");
  NativeLoggerTestPeer::WaitForCleanup(*logger);
  console.Finish();
  // The records went to the files of their days; standard output has them all.
  std::vector<std::string> lines;
  for (const auto& line : SplitLines(console.out())) {
    if (line.find("[T]") != std::string::npos) lines.push_back(line);
  }
  EXPECT_THAT(lines, ElementsAre("[2025-12-31 23:59:58.005] [DEBUG] [T] [D] a",
                                 "[2025-12-31 23:59:58.999] [DEBUG] [T] [D] b",
                                 "[2026-01-01 00:00:00.000] [DEBUG] [T] [D] c",
                                 "[2026-01-01 00:00:00.040] [DEBUG] [T] [D] d"));
}

TEST_F(LogRecordTest, FirstRecordInTheSecondBeforeTheEpochGetsItsTime) {
  // 1969-12-31 23:59:59 UTC is time_t -1, a real second like any other: the
  // formatted-second cache must not take it for one it already holds.
  std::tm local{};
  if (!velqa::logging::ToLocalTime(-1, local)) GTEST_SKIP() << "no local time before 1970";
  const auto time = std::chrono::system_clock::from_time_t(-1) + std::chrono::milliseconds(500);
  clock_->Set(time);
  auto logger = MakeLogger();
  ConsoleCapture console;
  ASSERT_TRUE(logger->Initialize());
  console.Finish();
  const auto lines = ReadLines(LogFile(*logger));
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines[0], "[" + velqa::logging::FormatLocalTime(time, "%Y-%m-%d %H:%M:%S") +
                          ".500] [INFO] [NativeLogger] [I] NativeLogger初始化成功");
}

TEST_F(LogRecordTest, MultiLineMessageIsWrittenUnescaped) {
  auto logger = MakeInitializedLogger();
  ConsoleCapture console;
  logger->Log(LogLevel::kFatal, "line one\nline two", "Main");
  console.Finish();
  const auto lines = ReadLines(DayFile());
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_EQ(lines[3], "[2025-03-01 09:15:02.047] [FATAL] [Main] [F] line one");
  EXPECT_EQ(lines[4], "line two");
}

TEST_F(LogRecordTest, EveryRecordWrittenToTheFileIsCounted) {
  auto logger = MakeInitializedLogger();
  EXPECT_EQ(NativeLoggerTestPeer::RecordCount(*logger), 3);  // two start-up records + summary
  ConsoleCapture console;
  for (int i = 0; i < 10; ++i) logger->Log(static_cast<LogLevel>(i % 6), "r", "T");
  console.Finish();
  EXPECT_EQ(NativeLoggerTestPeer::RecordCount(*logger), 13);
  EXPECT_EQ(ReadLines(DayFile()).size(), 13u);
}

}  // namespace
