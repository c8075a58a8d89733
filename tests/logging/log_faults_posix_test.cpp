// Faults that only POSIX file systems allow while the logger holds the file,
// and the ones a Linux test can make for real: a standard output nobody reads,
// a full volume (a small tmpfs), links planted where the logger writes.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <future>
#include <regex>
#include <string>

#include "base/utf8_path.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tests/logging/logger_test_support.h"
#include "tests/support/blocked_stdout_posix.h"

namespace {

using LogFaultsPosixTest = LoggerTest;
using velqa::base::Utf8FromPath;
using vpn_test::BlockedStdout;

// A deleted file would swallow every later record; the size check starts a
// fresh file under the same name.
TEST_F(LogFaultsPosixTest, FileDeletedUnderTheLoggerIsRecreatedAtTheNextCheck) {
  auto logger = MakeInitializedLogger();
  ConsoleCapture console;
  std::filesystem::remove(DayFile());
  while (NativeLoggerTestPeer::RecordCount(*logger) < 100) logger->Info("unlinked", "Test");
  logger->Info("kept", "Test");
  console.Finish();
  EXPECT_TRUE(console.err().empty()) << console.err();
  EXPECT_THAT(ReadLines(DayFile()),
              ::testing::ElementsAre("[2025-03-01 09:15:02.047] [INFO] [Test] [I] kept"));
  EXPECT_EQ(NativeLoggerTestPeer::RecordCount(*logger), 101);
}

// A child the host starts must not get the log file: the descriptor that
// refers to it is close-on-exec.
TEST_F(LogFaultsPosixTest, LogFileDescriptorIsClosedOnExec) {
  auto logger = MakeInitializedLogger();
  struct stat log_file;
  ASSERT_EQ(stat(DayFile().c_str(), &log_file), 0);
  int found = 0;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
    const int fd = std::stoi(entry.path().filename().string());
    struct stat info;
    if (fstat(fd, &info) != 0 || info.st_dev != log_file.st_dev || info.st_ino != log_file.st_ino) {
      continue;
    }
    ++found;
    EXPECT_NE(fcntl(fd, F_GETFD) & FD_CLOEXEC, 0) << "descriptor " << fd;
  }
  EXPECT_EQ(found, 1);
}

// Standard output is a courtesy copy: while nobody reads it, threads that log
// go on (the bounded call too), the file keeps every record in order, and the
// lines that did not fit are counted in one line once the stream moves.
TEST_F(LogFaultsPosixTest, AStandardOutputNobodyReadsHoldsUpNoLoggingThread) {
  auto logger = MakeInitializedLogger();
  constexpr int kRecords = 10'000;
  const std::string padding(100, 'p');
  BlockedStdout blocked;
  ASSERT_TRUE(blocked.ok());
  auto writer = std::async(std::launch::async, [&] {
    for (int i = 0; i < kRecords; ++i) logger->Info(std::to_string(i) + " " + padding, "Test");
    return logger->LogWithin(LogLevel::kError, "bounded", "Test", std::chrono::milliseconds(100));
  });
  ASSERT_EQ(writer.wait_for(std::chrono::seconds(60)), std::future_status::ready)
      << "a thread that logs waits on standard output";
  EXPECT_TRUE(writer.get());
  const std::string console = blocked.Release();

  const auto lines = ReadLines(DayFile());
  ASSERT_EQ(lines.size(), 3u + kRecords + 1);
  for (int i = 0; i < kRecords; ++i) {
    ASSERT_EQ(WithoutTimestamp(lines[3 + i]), "[INFO] [Test] [I] " + std::to_string(i) + " " + padding);
  }
  // One notice, where the gap is, with the count of the lines left out.
  std::size_t shown = 0;
  unsigned long dropped = 0;
  int notices = 0;
  static const std::regex notice(R"(\[NativeLogger\] 标准输出阻塞，丢弃了 (\d+) 行输出)");
  for (const auto& line : SplitLines(console)) {
    std::smatch count;
    if (std::regex_match(line, count, notice)) {
      ++notices;
      dropped += std::stoul(count[1]);
    } else {
      ++shown;
    }
  }
  EXPECT_EQ(notices, 1);
  EXPECT_GT(dropped, 0u);
  EXPECT_EQ(shown + dropped, kRecords + 1u);
}

// Links a standard user could plant where the elevated host writes: the
// logger neither writes through them nor removes them or their targets.
class PlantedLinkTest : public LoggerTest {
 protected:
  TempDir elsewhere_{"victim"};
  std::filesystem::path Victim() const { return elsewhere_.path() / "victim.txt"; }
  void MakeVictim() { WriteFileWithTime(Victim(), "precious\n", clock_->now() - std::chrono::hours(24 * 30)); }
};

TEST_F(PlantedLinkTest, ALinkedLogDirectoryMeansNoFileForTheRunAndOneLineSayingWhy) {
  std::filesystem::create_directory_symlink(elsewhere_.path(), dir_.logs());
  auto logger = MakeLogger();
  ConsoleCapture console;
  EXPECT_FALSE(logger->Initialize());
  logger->Info("still shown", "Test");
  console.Finish();
  EXPECT_EQ(console.err(), "NativeLogger: 日志目录是链接，本次运行不写日志文件: " + dir_.utf8() + "/logs\n");
  EXPECT_EQ(console.out(), "[NativeLogger] still shown\n");
  EXPECT_TRUE(std::filesystem::is_empty(elsewhere_.path()));
}

TEST_F(PlantedLinkTest, ALinkedDayFileIsNotAppendedTo) {
  MakeVictim();
  std::filesystem::create_directories(dir_.logs());
  std::filesystem::create_symlink(Victim(), DayFile());
  auto logger = MakeLogger();
  ConsoleCapture console;
  EXPECT_FALSE(logger->Initialize());
  console.Finish();
  EXPECT_EQ(console.err(), "NativeLogger: 无法打开日志文件: " + Utf8FromPath(DayFile()) + "\n");
  EXPECT_EQ(ReadFileBytes(Victim()), "precious\n");
}

// A FIFO under the day file's name would hold the open until somebody reads.
TEST_F(PlantedLinkTest, AFifoUnderTheDayFilesNameIsRefusedWithoutWaiting) {
  std::filesystem::create_directories(dir_.logs());
  ASSERT_EQ(mkfifo(DayFile().c_str(), 0666), 0);
  auto logger = MakeLogger();
  ConsoleCapture console;
  auto initialized = std::async(std::launch::async, [&] { return logger->Initialize(); });
  ASSERT_EQ(initialized.wait_for(std::chrono::seconds(10)), std::future_status::ready);
  EXPECT_FALSE(initialized.get());
}

TEST_F(PlantedLinkTest, CleanupLeavesALinkWithAnOwnNameAndItsTargetAlone) {
  MakeVictim();
  std::filesystem::create_directories(dir_.logs());
  const auto link = dir_.logs() / "velqa_20240101.log";
  std::filesystem::create_symlink(Victim(), link);
  auto logger = MakeInitializedLogger();
  EXPECT_TRUE(std::filesystem::is_symlink(link));
  EXPECT_EQ(ReadFileBytes(Victim()), "precious\n");
  EXPECT_THAT(ReadLines(DayFile()).back(), ::testing::HasSubstr("删除了 0 个文件"));
}

}  // namespace
