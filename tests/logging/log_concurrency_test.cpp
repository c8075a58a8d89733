// Several threads writing at once: whole records, same order on both outputs,
// an exact count, and rotation under contention.
#include <filesystem>
#include <map>
#include <regex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "base/stderr_line.h"
#include "tests/logging/logger_test_support.h"

namespace fs = std::filesystem;

namespace {

constexpr int kThreads = 4;
constexpr int kRecordsPerThread = 300;

class LogConcurrencyTest : public LoggerTest {
 protected:
  // The real clock: timestamps taken under the lock must not go backwards.
  velqa::logging::LogEnvironment RealClockEnvironment() {
    auto environment = Environment();
    environment.now = nullptr;
    return environment;
  }

  static void WriteFromThreads(NativeLogger& logger) {
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
      threads.emplace_back([&logger, t] {
        const std::string tag = "Thread" + std::to_string(t);
        // Long messages make torn writes likely if the lock were missing.
        const std::string padding(200, static_cast<char>('a' + t));
        for (int i = 0; i < kRecordsPerThread; ++i) {
          logger.Log(static_cast<LogLevel>(i % 5), std::to_string(i) + " " + padding, tag);
        }
      });
    }
    for (auto& thread : threads) thread.join();
  }

  // Every record line whole; per thread, sequence numbers in order; timestamps
  // never decreasing. Returns the number of records of the writer threads.
  static int CheckRecords(const std::vector<std::string>& lines) {
    static const std::regex record(
        R"(\[(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3})\] \[(DEBUG|INFO|WARNING|ERROR|FATAL)\] )"
        R"(\[Thread(\d)\] \[[DIWEF]\] (\d+) ([a-d])[a-d]{199})");
    std::map<int, int> next_index;
    std::string last_timestamp;
    int count = 0;
    for (const auto& line : lines) {
      if (line.find("[Thread") == std::string::npos) continue;
      std::smatch match;
      EXPECT_TRUE(std::regex_match(line, match, record)) << line;
      if (match.empty()) continue;
      const int thread = std::stoi(match[3]);
      EXPECT_EQ(std::stoi(match[4]), next_index[thread]++) << line;
      EXPECT_EQ(match[5].str()[0], static_cast<char>('a' + thread));
      EXPECT_GE(match[1].str(), last_timestamp);
      last_timestamp = match[1];
      ++count;
    }
    return count;
  }
};

TEST_F(LogConcurrencyTest, RecordsStayWholeOrderedAndCounted) {
  auto logger = NativeLoggerTestPeer::Create(RealClockEnvironment());
  ConsoleCapture console;
  ASSERT_TRUE(logger->Initialize());
  WriteFromThreads(*logger);
  console.Finish();

  const auto file_lines = ReadLines(LogFile(*logger));
  EXPECT_EQ(CheckRecords(file_lines), kThreads * kRecordsPerThread);
  EXPECT_EQ(NativeLoggerTestPeer::RecordCount(*logger), 3 + kThreads * kRecordsPerThread);
  EXPECT_EQ(SplitLines(console.out()), file_lines);
  EXPECT_TRUE(console.err().empty()) << console.err();
}

TEST_F(LogConcurrencyTest, RotationUnderContentionLosesNoRecord) {
  auto logger = NativeLoggerTestPeer::Create(RealClockEnvironment());
  ConsoleCapture console;
  ASSERT_TRUE(logger->Initialize());
  fs::resize_file(LogFile(*logger), kRotationThreshold + 1);
  WriteFromThreads(*logger);
  console.Finish();
  EXPECT_TRUE(console.err().empty()) << console.err();

  // One rotation at the 100th record; the rotated file's tail plus the fresh
  // file hold every record of the writers, in order.
  std::vector<fs::path> rotated;
  for (const auto& entry : fs::directory_iterator(dir_.logs())) {
    if (entry.path() != LogFile(*logger)) rotated.push_back(entry.path());
  }
  ASSERT_EQ(rotated.size(), 1u);
  auto lines = ReadTailLines(rotated[0], 100 * 400);
  // The records follow the zeros of the grown file; the tail reaches into them.
  ASSERT_NE(lines[0].find('\0'), std::string::npos);
  lines[0].erase(0, lines[0].find_last_of('\0') + 1);
  const auto fresh = ReadLines(LogFile(*logger));
  ASSERT_FALSE(fresh.empty());
  EXPECT_THAT(fresh[0], testing::HasSubstr("日志文件轮转: "));
  lines.insert(lines.end(), fresh.begin(), fresh.end());
  EXPECT_EQ(CheckRecords(lines), kThreads * kRecordsPerThread);
}

TEST_F(LogConcurrencyTest, ACrashReportGivesUpOnALockThatIsNeverReleasedAndWritesOnceItIsFree) {
  auto logger = MakeInitializedLogger();
  std::unique_lock<std::mutex> held(NativeLoggerTestPeer::RecordLock(*logger));
  bool written = true;
  // Another thread, as a crash report would be: the lock is not recursive.
  std::thread([&] {
    written = logger->LogWithin(LogLevel::kError, "blocked", "Main", std::chrono::milliseconds(50));
  }).join();
  EXPECT_FALSE(written);
  held.unlock();
  ConsoleCapture console;
  EXPECT_TRUE(logger->LogWithin(LogLevel::kError, "free", "Main", std::chrono::milliseconds(50)));
  console.Finish();
  const auto lines = ReadLines(LogFile(*logger));
  ASSERT_FALSE(lines.empty());
  EXPECT_THAT(lines.back(), testing::EndsWith("[ERROR] [Main] [E] free"));
  EXPECT_EQ(ReadFileBytes(LogFile(*logger)).find("blocked"), std::string::npos);
}

TEST(LoggerStderrTest, LinesFromSeveralThreadsStayWhole) {
  // Each line is written in pieces (text, detail, line break); no other
  // thread's line may fall between them.
  constexpr int kLinesPerThread = 400;
  std::set<std::string> expected;
  for (int t = 0; t < kThreads; ++t) {
    expected.insert("NativeLogger: 写入日志失败: " + std::string(120, static_cast<char>('a' + t)));
  }
  ConsoleCapture console;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t] {
      const std::string detail(120, static_cast<char>('a' + t));
      for (int i = 0; i < kLinesPerThread; ++i) {
        velqa::base::WriteStderrLine("NativeLogger: 写入日志失败: ", detail);
      }
    });
  }
  for (auto& thread : threads) thread.join();
  console.Finish();

  const auto lines = SplitLines(console.err());
  EXPECT_EQ(lines.size(), static_cast<size_t>(kThreads * kLinesPerThread));
  int torn = 0;
  for (const auto& line : lines) torn += expected.count(line) == 0 ? 1 : 0;
  EXPECT_EQ(torn, 0) << console.err().substr(0, 2000);
}

}  // namespace
