// Removal of ".log" files not written for seven days and of the oldest beyond
// the folder's size limit: at start-up, and off the record's path after each
// rotation and change of day.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "base/utf8_path.h"
#include "tests/logging/blocked_entry.h"
#include "tests/logging/file_time_setter.h"
#include "tests/logging/logger_test_support.h"

namespace fs = std::filesystem;
using std::chrono::hours;
using std::chrono::seconds;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;
using ::testing::UnorderedElementsAre;
using velqa::base::Utf8FromPath;

namespace {

constexpr auto kWeek = seconds(604'800);

class LogCleanupTest : public LoggerTest {
 protected:
  LogCleanupTest() { fs::create_directories(dir_.logs()); }

  fs::path Old(const std::string& name, std::chrono::system_clock::duration age,
               std::size_t bytes = 3) {
    const fs::path path = dir_.logs() / name;
    WriteFileWithTime(path, std::string(bytes, 'x'), clock_->now() - age);
    return path;
  }

  // The logger's own records after the two start-up records.
  std::vector<std::string> CleanupRecords() {
    std::vector<std::string> records;
    const auto lines = ReadLines(DayFile());
    for (std::size_t i = 2; i < lines.size(); ++i) records.push_back(WithoutTimestamp(lines[i]));
    return records;
  }

  static std::string Removed(const fs::path& path) {
    return "[INFO] [NativeLogger] [I] 删除旧日志文件: " + Utf8FromPath(path);
  }
};

TEST_F(LogCleanupTest, RemovesOnlyFilesOlderThanSevenDaysAndReportsEach) {
  const fs::path just_over = Old("velqa_20250222.log", kWeek + seconds(1));
  const fs::path exactly = Old("velqa_20250222_000000.log", kWeek);
  const fs::path recent = Old("velqa_20250223.log", hours(24 * 6));
  const fs::path ancient = Old("velqa_20240101_120000_3.log", hours(24 * 400));
  auto logger = MakeInitializedLogger();

  EXPECT_FALSE(fs::exists(just_over));
  EXPECT_FALSE(fs::exists(ancient));
  EXPECT_TRUE(fs::exists(exactly));
  EXPECT_TRUE(fs::exists(recent));
  const auto records = CleanupRecords();
  ASSERT_EQ(records.size(), 3u);
  EXPECT_THAT(std::vector<std::string>(records.begin(), records.begin() + 2),
              UnorderedElementsAre(Removed(just_over), Removed(ancient)));
  EXPECT_THAT(records[2],
              testing::StartsWith("[INFO] [NativeLogger] [I] 日志清理完成: 删除了 2 个文件，"));
}

// Only names the logger gives its files: the folder may hold other files.
TEST_F(LogCleanupTest, NamesThatAreNotTheLoggersOwnAreNeverRemoved) {
  const hours age(24 * 100);
  const fs::path kept[] = {Old("notes.LOG", age),        Old("velqa_20250301.log.bak", age),
                           Old(".log", age),             Old("velqa.txt", age),
                           Old("anything.log", age),     Old("velqa_2025030.log", age),
                           Old("velqa_20250301_1.log", age), Old("VELQA_20250301.log", age)};
  fs::create_directory(dir_.logs() / "old.log");
  fs::create_directory(dir_.logs() / "nested");
  const fs::path nested = dir_.logs() / "nested" / "velqa_20240101.log";
  WriteFileWithTime(nested, "x", clock_->now() - age);
  SetLastWriteTime(dir_.logs() / "old.log", clock_->now() - age);

  auto logger = MakeInitializedLogger();
  for (const auto& path : kept) EXPECT_TRUE(fs::exists(path)) << path;
  EXPECT_TRUE(fs::is_directory(dir_.logs() / "old.log"));
  EXPECT_TRUE(fs::exists(nested));
  EXPECT_THAT(CleanupRecords().back(), HasSubstr("删除了 0 个文件"));
}

TEST_F(LogCleanupTest, SummaryGivesTheSizeOfTheLogFilesThatRemainInMebibytes) {
  Old("velqa_20250227.log", hours(24 * 2), 10 * 1'048'576);
  Old("velqa_20250228.log", hours(24 * 1), 2 * 1'048'576 + 524'288);  // 2.5 MiB
  Old("velqa_20250101.log", hours(24 * 59), 7 * 1'048'576);           // removed, not counted
  Old("ignored.txt", hours(1), 5 * 1'048'576);
  auto logger = MakeInitializedLogger();
  // The day file holds the two start-up records (a few hundred bytes) when measured.
  const auto summary = CleanupRecords().back();
  EXPECT_EQ(summary,
            "[INFO] [NativeLogger] [I] 日志清理完成: 删除了 1 个文件，当前日志总大小: 12.50MB");
}

TEST_F(LogCleanupTest, AFailingEntryEndsThePassWithAnErrorRecordAndNoSummary) {
  if (!kCanBlockALogEntry) GTEST_SKIP() << "no entry of ours can be made to fail here";
  std::vector<fs::path> old_files;
  for (int i = 0; i < 6; ++i) {
    old_files.push_back(Old("velqa_2024010" + std::to_string(i + 1) + ".log", hours(24 * 30)));
  }
  const auto blocked = MakeBlockedLogEntry(dir_.logs() / "velqa_20231231.log", clock_->now());
  auto logger = MakeLogger();
  ConsoleCapture console;
  EXPECT_TRUE(logger->Initialize());
  console.Finish();

  const auto records = CleanupRecords();
  ASSERT_FALSE(records.empty());
  EXPECT_THAT(records.back(),
              testing::StartsWith("[ERROR] [NativeLogger] [E] 清理旧日志文件失败: "));
  for (const auto& record : records) EXPECT_THAT(record, Not(HasSubstr("日志清理完成")));
  // Files examined before the failure are gone and reported; the rest are untouched.
  std::size_t reported = 0;
  for (const auto& path : old_files) {
    const bool was_reported =
        std::find(records.begin(), records.end(), Removed(path)) != records.end();
    EXPECT_NE(fs::exists(path), was_reported) << path;
    reported += was_reported;
  }
  EXPECT_EQ(records.size(), reported + 1);
  EXPECT_TRUE(fs::exists(fs::symlink_status(dir_.logs() / "velqa_20231231.log")));
  EXPECT_THAT(console.err(), IsEmpty());
  // The logger itself stays usable.
  ConsoleCapture later;
  logger->Info("after cleanup failure", "Main");
  later.Finish();
  EXPECT_THAT(ReadLines(DayFile()).back(), HasSubstr("after cleanup failure"));
}

// Times beyond what nanoseconds hold (1677 to 2262) are compared as the file
// system stores them: a file time near 0 (1601; archivers write 0, which
// SetFileTime takes as "unchanged"), is old, one in the year 3000 is not.
TEST_F(LogCleanupTest, FileTimesOutsideTheNanosecondRangeAreComparedAsStored) {
  using velqa::logging::FileTicks;
  using velqa::logging::FileTime;
  const fs::path ancient = Old("velqa_16010101.log", hours(0));
  SetLastWriteTicks(ancient, FileTime(FileTicks(-116'444'736'000'000'000 + 864'000'000'000)));
  const fs::path future = Old("velqa_30000101.log", hours(0));
  SetLastWriteTicks(future, FileTime(std::chrono::duration_cast<FileTicks>(hours(24 * 376'000))));
  auto logger = MakeInitializedLogger();
  EXPECT_FALSE(fs::exists(ancient));
  EXPECT_TRUE(fs::exists(future));
}

TEST_F(LogCleanupTest, CleanupDoesNotRunAgainOnALaterInitialize) {
  auto logger = MakeInitializedLogger();
  const fs::path late = Old("velqa_20240101.log", hours(24 * 30));
  ConsoleCapture console;
  EXPECT_TRUE(logger->Initialize());
  console.Finish();
  EXPECT_TRUE(fs::exists(late));
}

}  // namespace

namespace {

TEST_F(LogCleanupTest, BeyondTheSizeLimitTheOldestGoFirstButNeverTheFileBeingWritten) {
  max_log_folder_bytes_ = 10'000;
  auto logger = MakeInitializedLogger();
  const auto days = [](int n) { return hours(24 * n); };
  const fs::path aged = Old("velqa_20250220.log", days(9), 3'000);     // the age rule takes it
  const fs::path oldest = Old("velqa_20250224.log", days(5), 3'000);   // then the size rule
  const fs::path middle = Old("velqa_20250225.log", days(4), 3'000);   // now the total fits
  const fs::path newest = Old("velqa_20250226.log", days(3), 3'000);
  const fs::path dump = Old("velqa_20250224_101010.dmp", days(5), 20'000);  // not a .log file
  // The file being written is the largest and, by its time, the oldest of all.
  {
    const std::uintmax_t size = fs::file_size(DayFile());
    std::ofstream out(DayFile(), std::ios::binary | std::ios::app);
    out << std::string(3'500 - size - 1, 'x') << '\n';
  }
  ASSERT_EQ(fs::file_size(DayFile()), 3'500u);
  SetLastWriteTime(DayFile(), clock_->now() - days(8));
  const std::size_t lines_before = ReadLines(DayFile()).size();

  ConsoleCapture console;
  NativeLoggerTestPeer::Cleanup(*logger);
  console.Finish();

  EXPECT_FALSE(fs::exists(aged));
  EXPECT_FALSE(fs::exists(oldest));
  EXPECT_TRUE(fs::exists(middle));
  EXPECT_TRUE(fs::exists(newest));
  EXPECT_TRUE(fs::exists(dump));
  const auto lines = ReadLines(DayFile());
  std::vector<std::string> records;
  for (std::size_t i = lines_before; i < lines.size(); ++i) records.push_back(WithoutTimestamp(lines[i]));
  // 3,500 + 3,000 + 3,000 bytes are left, and the records of the pass: at most the limit.
  EXPECT_THAT(records,
              ElementsAre(Removed(aged), Removed(oldest),
                          "[INFO] [NativeLogger] [I] 日志清理完成: 删除了 2 个文件，当前日志总大小: 0.01MB"));
}

// Where the cleanup pass runs: the test thread holds it up on any other thread.
class CleanupGate {
 public:
  explicit CleanupGate(std::function<std::string()> directory) : directory_(std::move(directory)) {}

  std::function<std::string()> Hook() {
    return [this] {
      if (armed_) {
        if (std::this_thread::get_id() == test_thread_) {
          on_record_thread_ = true;
        } else {
          on_other_thread_ = true;
          std::unique_lock<std::mutex> lock(mutex_);
          // Bounded, so that a fault fails the test instead of hanging it.
          open_.wait_for(lock, std::chrono::seconds(10), [this] { return opened_; });
        }
      }
      return directory_();
    };
  }
  void Arm() { armed_ = true; }
  void Open() {
    std::lock_guard<std::mutex> lock(mutex_);
    opened_ = true;
    open_.notify_all();
  }
  bool on_record_thread() const { return on_record_thread_; }
  bool on_other_thread() const { return on_other_thread_; }

 private:
  std::function<std::string()> directory_;
  const std::thread::id test_thread_ = std::this_thread::get_id();
  std::atomic<bool> armed_{false};
  std::atomic<bool> on_record_thread_{false};
  std::atomic<bool> on_other_thread_{false};
  std::mutex mutex_;
  std::condition_variable open_;
  bool opened_ = false;
};

enum class Trigger { kRotation, kDayChange };

class LogCleanupWhileRunningTest : public LogCleanupTest,
                                   public ::testing::WithParamInterface<Trigger> {
 protected:
  void Fire(NativeLogger& logger) {
    if (GetParam() == Trigger::kRotation) {
      while (NativeLoggerTestPeer::RecordCount(logger) % 100 != 99) logger.Info("fill", "Test");
      fs::resize_file(LogFile(logger), kRotationThreshold + 1);
    } else {
      clock_->Advance(hours(24));
    }
    logger.Info("trigger", "Test");
  }
};

TEST_P(LogCleanupWhileRunningTest, EachRotationAndChangeOfDayCleansUpOffTheRecordsPath) {
  CleanupGate gate(install_directory_);
  install_directory_ = gate.Hook();
  auto logger = MakeInitializedLogger();
  const fs::path old = Old("velqa_20250101.log", hours(24 * 30));

  gate.Arm();
  ConsoleCapture console;
  Fire(*logger);
  // The record after the trigger is written while the pass is held up.
  logger->Info("not held up", "Test");
  const fs::path current = LogFile(*logger);
  EXPECT_EQ(WithoutTimestamp(ReadLines(current).back()), "[INFO] [Test] [I] not held up");
  gate.Open();
  NativeLoggerTestPeer::WaitForCleanup(*logger);
  console.Finish();

  EXPECT_TRUE(gate.on_other_thread());
  EXPECT_FALSE(gate.on_record_thread());
  EXPECT_FALSE(fs::exists(old));
  std::vector<std::string> records;
  for (const auto& line : ReadLines(current)) records.push_back(WithoutTimestamp(line));
  EXPECT_THAT(records, Contains(Removed(old)));
  EXPECT_THAT(records.back(), testing::StartsWith("[INFO] [NativeLogger] [I] 日志清理完成: 删除了 1 个文件"));
}

INSTANTIATE_TEST_SUITE_P(Triggers, LogCleanupWhileRunningTest,
                         ::testing::Values(Trigger::kRotation, Trigger::kDayChange),
                         [](const auto& info) {
                           return info.param == Trigger::kRotation ? "Rotation" : "DayChange";
                         });

}  // namespace
