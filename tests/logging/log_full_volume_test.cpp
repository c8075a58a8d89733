// A full disk: the host goes on, says so once, counts what it could not
// store, and resumes with a record naming the count once there is room.
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "base/utf8_path.h"
#include "tests/logging/logger_test_support.h"
#include "tests/logging/small_volume.h"

namespace {

class FullVolumeTest : public LoggerTest {
 protected:
  void SetUp() override {
    volume_ = SmallVolumeInstallDirectory(dir_.path() / "small");
    if (!volume_) GTEST_SKIP() << "no small volume can be made here";
    install_directory_ = [this] { return velqa::base::Utf8FromPath(*volume_); };
  }
  void TearDown() override {
    if (volume_) ReleaseSmallVolume(*volume_);
  }
  std::filesystem::path Logs() const { return *volume_ / "logs"; }

  std::optional<std::filesystem::path> volume_;
};

TEST_F(FullVolumeTest, AFullVolumeIsReportedOnceAndTheLossRecordedWhenThereIsRoomAgain) {
  auto logger = MakeInitializedLogger();
  const std::filesystem::path filler = Logs() / "filler";
  {
    std::ofstream out(filler, std::ios::binary);
    const std::string block(4096, 'f');
    while (out.write(block.data(), block.size())) {
    }
  }
  ConsoleCapture console;
  // The day file's last block may still have room for a few records.
  int lost = 0;
  for (int i = 0; i < 10'000 && lost == 0; ++i) {
    const auto before = NativeLoggerTestPeer::RecordCount(*logger);
    logger->Info("filling the last block", "Test");
    if (NativeLoggerTestPeer::RecordCount(*logger) == before) ++lost;
  }
  ASSERT_EQ(lost, 1);
  logger->Info("lost", "Test");
  logger->Info("lost", "Test");
  std::filesystem::remove(filler);
  logger->Info("back", "Test");
  console.Finish();

  EXPECT_THAT(SplitLines(console.err()),
              ::testing::ElementsAre(::testing::StartsWith("NativeLogger: 写入日志失败: ")));
  const auto lines = ReadLines(Logs() / "velqa_20250301.log");
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(WithoutTimestamp(lines[lines.size() - 2]),
            "[WARNING] [NativeLogger] [W] 日志写入已恢复，此前有 3 条记录未能写入日志文件");
  EXPECT_EQ(WithoutTimestamp(lines.back()), "[INFO] [Test] [I] back");
}

}  // namespace
