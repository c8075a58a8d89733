// Faults that only POSIX file systems allow while the logger holds the file.
#include <fcntl.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tests/logging/logger_test_support.h"

namespace {

using LogFaultsPosixTest = LoggerTest;

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

}  // namespace
