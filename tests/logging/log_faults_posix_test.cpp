// Faults that only POSIX file systems allow while the logger holds the file.
#include <filesystem>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tests/logging/logger_test_support.h"

namespace fs = std::filesystem;
using ::testing::ElementsAre;

namespace {

using LogFaultsPosixTest = LoggerTest;

// A deleted file would swallow every later record; the size check starts a
// fresh file under the same name.
TEST_F(LogFaultsPosixTest, FileDeletedUnderTheLoggerIsRecreatedAtTheNextCheck) {
  auto logger = MakeInitializedLogger();
  ConsoleCapture console;
  fs::remove(DayFile());
  while (NativeLoggerTestPeer::RecordCount(*logger) < 100) logger->Info("unlinked", "Test");
  logger->Info("kept", "Test");
  console.Finish();
  EXPECT_TRUE(console.err().empty()) << console.err();
  EXPECT_THAT(ReadLines(DayFile()),
              ElementsAre("[2025-03-01 09:15:02.047] [INFO] [Test] [I] kept"));
  EXPECT_EQ(NativeLoggerTestPeer::RecordCount(*logger), 101);
}

}  // namespace
