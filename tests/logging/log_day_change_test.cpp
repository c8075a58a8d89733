// A new local day continues in that day's file, named by the local calendar
// (also on days of 23 and 25 hours), and a day's file that cannot be opened
// loses no record.
#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "base/utf8_path.h"
#include "logging/log_format.h"
#include "tests/logging/logger_test_support.h"
#include "tests/logging/scoped_time_zone.h"

namespace fs = std::filesystem;
using std::chrono::hours;
using std::chrono::system_clock;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using velqa::base::Utf8FromPath;

namespace {

std::string Notice(const fs::path& previous) {
  return "[INFO] [NativeLogger] [I] 日期变更，此前的记录在: " + Utf8FromPath(previous);
}

std::vector<std::string> WithoutTimestamps(const std::vector<std::string>& lines) {
  std::vector<std::string> result;
  for (const auto& line : lines) result.push_back(WithoutTimestamp(line));
  return result;
}

using LogDayChangeTest = LoggerTest;

TEST_F(LogDayChangeTest, FirstRecordAfterMidnightOpensTheNewDaysFileWithANoticeOfThePrevious) {
  clock_->Set(LocalTime(2025, 3, 1, 23, 59, 59, 999));
  auto logger = MakeInitializedLogger();
  ConsoleCapture console;
  logger->Info("before midnight", "Main");
  const std::int32_t count_before = NativeLoggerTestPeer::RecordCount(*logger);
  clock_->Set(LocalTime(2025, 3, 2, 0, 0, 0, 1));
  logger->Info("after midnight", "Main");
  logger->Info("later", "Main");
  NativeLoggerTestPeer::WaitForCleanup(*logger);
  console.Finish();

  const fs::path next_day = dir_.logs() / "velqa_20250302.log";
  EXPECT_EQ(ReadLines(DayFile()).back(),
            "[2025-03-01 23:59:59.999] [INFO] [Main] [I] before midnight");
  const auto lines = ReadLines(next_day);
  ASSERT_GE(lines.size(), 3u);
  // Notice and record carry the same instant: the notice is not later than the record after it.
  EXPECT_EQ(lines[0], "[2025-03-02 00:00:00.001] " + Notice(DayFile()));
  EXPECT_EQ(lines[1], "[2025-03-02 00:00:00.001] [INFO] [Main] [I] after midnight");
  EXPECT_EQ(NativeLoggerTestPeer::LogFilePath(*logger), Utf8FromPath(next_day));
  // The notice is a record like any other: on standard output and counted.
  EXPECT_THAT(console.out(), HasSubstr(Notice(DayFile())));
  EXPECT_GE(NativeLoggerTestPeer::RecordCount(*logger), count_before + 3);
  EXPECT_THAT(console.err(), testing::IsEmpty());
}

// Days whose local length is not 24 hours, in a zone with daylight saving.
struct DaylightSavingDay {
  const char* name;
  hours length;
};

class LogDayChangeDstTest : public LoggerTest,
                            public ::testing::WithParamInterface<DaylightSavingDay> {};

TEST_P(LogDayChangeDstTest, TheFileFollowsTheLocalDateAroundADaylightSavingChange) {
  const ScopedTimeZone zone(ScopedTimeZone::ZoneWithDaylightSaving());
  // The first day of 2025 with the wanted length in this zone.
  int day = 1;
  while (day < 366 && LocalTime(2025, 1, day + 1, 0, 0, 0) - LocalTime(2025, 1, day, 0, 0, 0) !=
                          GetParam().length) {
    ++day;
  }
  ASSERT_LT(day, 366) << "the C library applies no daylight saving to "
                      << ScopedTimeZone::ZoneWithDaylightSaving();
  const auto day_file = [&](int d) {
    return dir_.logs() / ("velqa_" +
                          velqa::logging::FormatLocalTime(LocalTime(2025, 1, d, 12, 0, 0), "%Y%m%d") +
                          ".log");
  };

  clock_->Set(LocalTime(2025, 1, day, 0, 30, 0));
  auto logger = MakeInitializedLogger();
  ConsoleCapture console;
  // Counting 24 hours from midnight moves on too early on a day of 25 hours...
  clock_->Set(LocalTime(2025, 1, day, 23, 30, 0));
  logger->Info("late on the day", "Main");
  // ...and too late after a day of 23 hours.
  clock_->Set(LocalTime(2025, 1, day + 1, 0, 30, 0));
  logger->Info("early next day", "Main");
  NativeLoggerTestPeer::WaitForCleanup(*logger);
  console.Finish();

  EXPECT_EQ(WithoutTimestamp(ReadLines(day_file(day)).back()), "[INFO] [Main] [I] late on the day");
  const auto next = WithoutTimestamps(ReadLines(day_file(day + 1)));
  ASSERT_GE(next.size(), 2u);
  EXPECT_EQ(next[0], Notice(day_file(day)));
  EXPECT_EQ(next[1], "[INFO] [Main] [I] early next day");
}

INSTANTIATE_TEST_SUITE_P(ShortAndLongDays, LogDayChangeDstTest,
                         ::testing::Values(DaylightSavingDay{"TwentyThreeHours", hours(23)},
                                           DaylightSavingDay{"TwentyFiveHours", hours(25)}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(LogDayChangeTest, ANewDaysFileThatCannotBeOpenedLosesNoRecordAndIsTriedEachSecond) {
  auto logger = MakeInitializedLogger();
  const fs::path next_day = dir_.logs() / "velqa_20250302.log";
  fs::create_directory(next_day);  // the name is taken: the open fails
  ConsoleCapture console;
  clock_->Set(LocalTime(2025, 3, 2, 0, 0, 0, 0));
  logger->Info("refused", "Main");
  clock_->Set(LocalTime(2025, 3, 2, 0, 0, 0, 500));
  logger->Info("same second", "Main");
  fs::remove(next_day);
  clock_->Set(LocalTime(2025, 3, 2, 0, 0, 0, 900));
  logger->Info("not tried again within the second", "Main");
  clock_->Set(LocalTime(2025, 3, 2, 0, 0, 1, 0));
  logger->Info("next second", "Main");
  NativeLoggerTestPeer::WaitForCleanup(*logger);
  console.Finish();

  const auto old_lines = WithoutTimestamps(ReadLines(DayFile()));
  ASSERT_GE(old_lines.size(), 3u);
  EXPECT_THAT(std::vector<std::string>(old_lines.end() - 3, old_lines.end()),
              ElementsAre("[INFO] [Main] [I] refused", "[INFO] [Main] [I] same second",
                          "[INFO] [Main] [I] not tried again within the second"));
  const auto new_lines = WithoutTimestamps(ReadLines(next_day));
  ASSERT_GE(new_lines.size(), 2u);
  EXPECT_EQ(new_lines[0], Notice(DayFile()));
  EXPECT_EQ(new_lines[1], "[INFO] [Main] [I] next second");
  EXPECT_EQ(console.err(), "NativeLogger: 无法打开日志文件: " + Utf8FromPath(next_day) + "\n");
}

}  // namespace
