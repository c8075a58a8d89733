// Rotation past 50 MiB, checked every 100th record, and its failures. Each
// rotation also asks for a cleanup pass, whose records come from another
// thread: the tests wait for it before they count records.
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "base/utf8_path.h"
#include "logging/log_format.h"
#include "tests/logging/logger_test_support.h"

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;
using velqa::base::Utf8FromPath;

namespace {

class LogRotationTest : public LoggerTest {
 protected:
  // Writes "fill" records until the counter stands at `count`.
  void LogUntilCount(NativeLogger& logger, int count) {
    NativeLoggerTestPeer::WaitForCleanup(logger);
    while (NativeLoggerTestPeer::RecordCount(logger) < count) logger.Info("fill", "Test");
  }

  // Bytes one "fill" record adds to the file at the fake clock's time.
  std::uintmax_t FillRecordSize() const {
    return velqa::logging::FormatLogEntry(LogLevel::kInfo, "fill", "Test",
                                          "2025-03-01 09:15:02.047")
               .size() +
           std::string(kFileLineEnd).size();
  }

  // Grows the file so that after the next "fill" record it holds `size` bytes.
  void SizeAfterNextRecord(std::uintmax_t size) {
    fs::resize_file(DayFile(), size - FillRecordSize());
  }

  fs::path Rotated(const std::string& name) const { return dir_.logs() / name; }
};

TEST_F(LogRotationTest, ExactlyFiftyMebibytesAtACheckIsLeftAlone) {
  auto logger = MakeInitializedLogger();
  ConsoleCapture console;
  LogUntilCount(*logger, 99);
  SizeAfterNextRecord(kRotationThreshold);
  logger->Info("fill", "Test");  // the 100th: checked
  console.Finish();
  EXPECT_EQ(fs::file_size(DayFile()), kRotationThreshold);
  EXPECT_FALSE(fs::exists(Rotated("velqa_20250301_091502.log")));
}

TEST_F(LogRotationTest, OneByteMoreIsRotatedAtTheHundredthRecordNotBefore) {
  auto logger = MakeInitializedLogger();
  ConsoleCapture console;
  LogUntilCount(*logger, 50);
  fs::resize_file(DayFile(), kRotationThreshold + 1000);
  LogUntilCount(*logger, 99);
  EXPECT_FALSE(fs::exists(Rotated("velqa_20250301_091502.log")));  // no check between multiples
  logger->Info("trigger", "Test");
  NativeLoggerTestPeer::WaitForCleanup(*logger);
  logger->Info("next", "Test");
  console.Finish();

  const fs::path rotated = Rotated("velqa_20250301_091502.log");
  ASSERT_TRUE(fs::exists(rotated));
  EXPECT_GT(fs::file_size(rotated), kRotationThreshold);
  EXPECT_EQ(ReadTailLines(rotated, 200).back(),
            "[2025-03-01 09:15:02.047] [INFO] [Test] [I] trigger");
  const std::string notice =
      "[2025-03-01 09:15:02.047] [INFO] [NativeLogger] [I] 日志文件轮转: " + Utf8FromPath(rotated);
  EXPECT_THAT(ReadLines(DayFile()),
              ElementsAre(notice,
                          "[2025-03-01 09:15:02.047] [INFO] [NativeLogger] [I] 日志清理完成: 删除了 "
                          "0 个文件，当前日志总大小: 50.00MB",
                          "[2025-03-01 09:15:02.047] [INFO] [Test] [I] next"));
  // The rotation record went the usual way: console too, and counted.
  EXPECT_THAT(console.out(), HasSubstr(notice));
  EXPECT_EQ(NativeLoggerTestPeer::RecordCount(*logger), 103);
  EXPECT_THAT(console.err(), IsEmpty());
}

TEST_F(LogRotationTest, FileThatCrossesTheThresholdLaterIsRotatedAtTheNextCheck) {
  auto logger = MakeInitializedLogger();
  ConsoleCapture console;
  LogUntilCount(*logger, 100);  // checked while small
  fs::resize_file(DayFile(), kRotationThreshold + 1);
  LogUntilCount(*logger, 199);
  EXPECT_FALSE(fs::exists(Rotated("velqa_20250301_091502.log")));
  LogUntilCount(*logger, 200);
  NativeLoggerTestPeer::WaitForCleanup(*logger);
  console.Finish();
  EXPECT_TRUE(fs::exists(Rotated("velqa_20250301_091502.log")));
  // The rotation record and the cleanup pass's summary.
  EXPECT_EQ(ReadLines(DayFile()).size(), 2u);
}

TEST_F(LogRotationTest, TwoRotationsInOneSecondKeepBothRotatedFiles) {
  auto logger = MakeInitializedLogger();
  ConsoleCapture console;
  LogUntilCount(*logger, 99);
  fs::resize_file(DayFile(), kRotationThreshold + 1);
  logger->Info("first batch ends", "Test");
  LogUntilCount(*logger, 199);
  fs::resize_file(DayFile(), kRotationThreshold + 2);
  logger->Info("second batch ends", "Test");
  LogUntilCount(*logger, 299);
  fs::resize_file(DayFile(), kRotationThreshold + 3);
  logger->Info("third batch ends", "Test");
  console.Finish();

  const fs::path first = Rotated("velqa_20250301_091502.log");
  const fs::path second = Rotated("velqa_20250301_091502_1.log");
  const fs::path third = Rotated("velqa_20250301_091502_2.log");
  EXPECT_THAT(WithoutTimestamp(ReadTailLines(first, 200).back()),
              "[INFO] [Test] [I] first batch ends");
  EXPECT_THAT(WithoutTimestamp(ReadTailLines(second, 200).back()),
              "[INFO] [Test] [I] second batch ends");
  EXPECT_THAT(WithoutTimestamp(ReadTailLines(third, 200).back()),
              "[INFO] [Test] [I] third batch ends");
  EXPECT_EQ(WithoutTimestamp(ReadLines(DayFile()).front()),
            "[INFO] [NativeLogger] [I] 日志文件轮转: " + Utf8FromPath(third));
  EXPECT_THAT(console.err(), IsEmpty());
}

TEST_F(LogRotationTest, RefusedRenameKeepsAppendingAndIsTriedAgainAtTheNextCheck) {
  bool refuse = true;
  rename_ = [&refuse](const fs::path& from, const fs::path& to) {
    if (refuse) {
      throw fs::filesystem_error("rename refused", from, to,
                                 std::make_error_code(std::errc::permission_denied));
    }
    fs::rename(from, to);
  };
  auto logger = MakeInitializedLogger();
  ConsoleCapture console;
  LogUntilCount(*logger, 99);
  fs::resize_file(DayFile(), kRotationThreshold + 1);
  logger->Info("trigger", "Test");
  logger->Info("kept", "Test");
  EXPECT_TRUE(NativeLoggerTestPeer::FileOpen(*logger));
  EXPECT_EQ(WithoutTimestamp(ReadTailLines(DayFile(), 200).back()), "[INFO] [Test] [I] kept");
  EXPECT_FALSE(fs::exists(Rotated("velqa_20250301_091502.log")));

  refuse = false;
  LogUntilCount(*logger, 200);
  console.Finish();
  const fs::path rotated = Rotated("velqa_20250301_091502.log");
  ASSERT_TRUE(fs::exists(rotated));
  EXPECT_GT(fs::file_size(rotated), kRotationThreshold);
  EXPECT_EQ(WithoutTimestamp(ReadLines(DayFile()).front()),
            "[INFO] [NativeLogger] [I] 日志文件轮转: " + Utf8FromPath(rotated));
  // One report of the refusal, and no record dropped.
  EXPECT_THAT(SplitLines(console.err()),
              ElementsAre(testing::StartsWith("NativeLogger: 检查日志文件大小失败: ")));
  EXPECT_THAT(console.err(), HasSubstr("rename refused"));
  EXPECT_THAT(console.out(), HasSubstr("[INFO] [Test] [I] kept"));
}

// A reopen that fails leaves no logger closed for good: records are counted,
// said once on standard error, the file is tried again each second (its
// folder recreated), and the first record stored names the loss.
TEST_F(LogRotationTest, AFailedReopenIsTriedAgainEachSecondAndTheLossIsRecorded) {
  // Whoever renames the file leaves a directory under its name: the reopen fails.
  rename_ = [](const fs::path& from, const fs::path& to) {
    fs::rename(from, to);
    fs::create_directory(from);
  };
  auto logger = MakeInitializedLogger();
  ConsoleCapture console;
  LogUntilCount(*logger, 99);
  fs::resize_file(DayFile(), kRotationThreshold + 1);
  logger->Info("trigger", "Test");
  // The cleanup pass that the rotation asked for: its summary is lost too.
  NativeLoggerTestPeer::WaitForCleanup(*logger);
  logger->Info("lost", "Test");
  fs::remove(DayFile());
  logger->Info("lost within the second", "Test");
  EXPECT_FALSE(fs::exists(DayFile()));
  // A second later the folder is gone as well: both come back.
  fs::remove_all(dir_.logs());
  clock_->Advance(std::chrono::milliseconds(1000));
  logger->Info("back", "Test");
  console.Finish();

  EXPECT_EQ(console.err(), "NativeLogger: 日志文件未打开\n");
  EXPECT_THAT(console.out(), HasSubstr("[INFO] [Test] [I] lost within the second"));
  EXPECT_THAT(ReadLines(DayFile()),
              ElementsAre("[2025-03-01 09:15:03.047] [WARNING] [NativeLogger] [W] "
                          "日志写入已恢复，此前有 4 条记录未能写入日志文件",
                          "[2025-03-01 09:15:03.047] [INFO] [Test] [I] back"));
  EXPECT_EQ(NativeLoggerTestPeer::RecordCount(*logger), 102);
}

}  // namespace
