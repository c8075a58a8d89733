// Faults that come from Windows sharing rules.
#include <filesystem>
#include <fstream>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tests/logging/logger_test_support.h"

namespace fs = std::filesystem;
using ::testing::HasSubstr;

namespace {

using LogFaultsWinTest = LoggerTest;

// Another program reading the log (without delete sharing) makes the rename refused.
TEST_F(LogFaultsWinTest, RenameRefusedWhileAnotherReaderHoldsTheFile) {
  auto logger = MakeInitializedLogger();
  ConsoleCapture console;
  while (NativeLoggerTestPeer::RecordCount(*logger) < 99) logger->Info("fill", "Test");
  fs::resize_file(DayFile(), kRotationThreshold + 1);
  {
    std::ifstream reader(DayFile());
    ASSERT_TRUE(reader.is_open());
    logger->Info("trigger", "Test");
  }
  logger->Info("dropped", "Test");
  console.Finish();
  EXPECT_THAT(console.err(), testing::StartsWith("NativeLogger: 检查日志文件大小失败: "));
  EXPECT_THAT(console.err(), testing::EndsWith("NativeLogger: 日志文件未打开\n"));
  EXPECT_FALSE(fs::exists(dir_.logs() / "velqa_20250301_091502.log"));
  EXPECT_THAT(console.out(), testing::Not(HasSubstr("dropped")));
}

}  // namespace
