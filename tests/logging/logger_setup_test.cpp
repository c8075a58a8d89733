// Initialize: where the file goes, what it starts with, and how set-up fails.
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "base/utf8_path.h"
#include "logging/executable_directory.h"
#include "tests/logging/logger_test_support.h"

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using velqa::base::PathFromUtf8;

namespace {

using LoggerSetupTest = LoggerTest;

TEST(ExecutableDirectoryTest, WindowsDirectoryKeepsTheSeparatorOfARoot) {
  const struct {
    std::wstring_view module_path;
    std::wstring_view directory;
  } cases[] = {
      {L"C:\\Program Files\\Velqa\\velqa_assistant.exe", L"C:\\Program Files\\Velqa"},
      // "E:" would be the current directory of drive E, and "E:logs" below it.
      {L"E:\\velqa_assistant.exe", L"E:\\"},
      {L"\\\\?\\E:\\velqa_assistant.exe", L"\\\\?\\E:\\"},
      {L"\\velqa_assistant.exe", L"\\"},
      {L"\\\\server\\share\\velqa_assistant.exe", L"\\\\server\\share"},
      {L"velqa_assistant.exe", L"velqa_assistant.exe"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(std::wstring(velqa::logging::DirectoryOfWindowsPath(c.module_path)),
              std::wstring(c.directory));
  }
}

TEST_F(LoggerSetupTest, CreatesLogsDirectoryAndDayFileWithStartupRecordsInOrder) {
  auto logger = MakeLogger();
  ConsoleCapture console;
  ASSERT_TRUE(logger->Initialize());
  console.Finish();

  EXPECT_TRUE(fs::is_directory(dir_.logs()));
  const fs::path expected = dir_.logs() / "velqa_20250301.log";
  EXPECT_EQ(NativeLoggerTestPeer::LogFilePath(*logger), velqa::base::Utf8FromPath(expected));
  const std::string path_text = velqa::base::Utf8FromPath(expected);
  const std::string prefix = "[2025-03-01 09:15:02.047] [INFO] [NativeLogger] [I] ";
  EXPECT_THAT(ReadLines(expected),
              ElementsAre(prefix + "NativeLogger初始化成功", prefix + "日志文件路径: " + path_text,
                          prefix + "日志清理完成: 删除了 0 个文件，当前日志总大小: 0.00MB"));
  // Standard output carries the same records in the same order.
  EXPECT_EQ(SplitLines(console.out()), ReadLines(expected));
  EXPECT_THAT(console.err(), IsEmpty());
}

TEST_F(LoggerSetupTest, SecondInitializeAfterSuccessWritesNothing) {
  auto logger = MakeInitializedLogger();
  const std::string before = ReadFileBytes(DayFile());
  ConsoleCapture console;
  EXPECT_TRUE(logger->Initialize());
  console.Finish();
  EXPECT_EQ(ReadFileBytes(DayFile()), before);
  EXPECT_THAT(console.out(), IsEmpty());
  EXPECT_EQ(NativeLoggerTestPeer::RecordCount(*logger), 3);
}

TEST_F(LoggerSetupTest, ExistingDayFileIsContinuedNotTruncated) {
  fs::create_directories(dir_.logs());
  {
    std::ofstream earlier(DayFile(), std::ios::binary);
    earlier << "from an earlier run" << kFileLineEnd;
  }
  auto logger = MakeInitializedLogger();
  const auto lines = ReadLines(DayFile());
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[0], "from an earlier run");
  EXPECT_THAT(lines[1], HasSubstr("NativeLogger初始化成功"));
}

TEST_F(LoggerSetupTest, BeforeInitializeOnlyTheShortFormReachesStandardOutput) {
  auto logger = MakeLogger();
  ConsoleCapture console;
  logger->Log(LogLevel::kError, "早期消息", "VpnManager");
  logger->Log(static_cast<LogLevel>(7), "", "");
  console.Finish();
  EXPECT_EQ(console.out(), "[NativeLogger] 早期消息\n[NativeLogger] \n");
  EXPECT_THAT(console.err(), IsEmpty());
  EXPECT_FALSE(fs::exists(dir_.logs()));
  EXPECT_EQ(NativeLoggerTestPeer::RecordCount(*logger), 0);
}

TEST_F(LoggerSetupTest, UnknownInstallDirectoryFails) {
  install_directory_ = [] { return std::string(); };
  auto logger = MakeLogger();
  ConsoleCapture console;
  EXPECT_FALSE(logger->Initialize());
  logger->Info("still usable", "Main");
  console.Finish();
  EXPECT_EQ(console.err(), "NativeLogger: 无法获取安装目录\n");
  EXPECT_EQ(console.out(), "[NativeLogger] still usable\n");
  EXPECT_TRUE(NativeLoggerTestPeer::LogFilePath(*logger).empty());
}

TEST_F(LoggerSetupTest, LogsPathThatIsAFileFailsToOpenAndIsLeftAlone) {
  {
    std::ofstream blocker(dir_.logs(), std::ios::binary);
    blocker << "not a directory";
  }
  auto logger = MakeLogger();
  ConsoleCapture console;
  EXPECT_FALSE(logger->Initialize());
  logger->Info("after failure", "Main");
  console.Finish();
  const std::string path_text = velqa::base::Utf8FromPath(DayFile());
  EXPECT_EQ(console.err(), "NativeLogger: 无法打开日志文件: " + path_text + "\n");
  EXPECT_EQ(console.out(), "[NativeLogger] after failure\n");
  EXPECT_EQ(ReadFileBytes(dir_.logs()), "not a directory");
  EXPECT_EQ(NativeLoggerTestPeer::LogFilePath(*logger), path_text);
}

TEST_F(LoggerSetupTest, DirectoryThatCannotBeCreatedReportsTheSetupFailure) {
  // The install directory lies below an ordinary file, so "logs" cannot be made.
  { std::ofstream file(dir_.path() / "file", std::ios::binary); }
  install_directory_ = [this] { return dir_.utf8() + "/file/inner"; };
  auto logger = MakeLogger();
  ConsoleCapture console;
  EXPECT_FALSE(logger->Initialize());
  console.Finish();
  EXPECT_THAT(console.err(), testing::StartsWith("NativeLogger: 初始化失败: "));
  EXPECT_THAT(console.out(), IsEmpty());
}

TEST_F(LoggerSetupTest, DayFileNameTakenByADirectoryFailsAndARetryStartsOver) {
  fs::create_directories(DayFile() / "occupied");
  auto logger = MakeLogger();
  {
    ConsoleCapture console;
    EXPECT_FALSE(logger->Initialize());
    console.Finish();
    EXPECT_THAT(console.err(), HasSubstr("NativeLogger: 无法打开日志文件: "));
  }
  fs::remove_all(DayFile());
  ConsoleCapture console;
  EXPECT_TRUE(logger->Initialize());
  console.Finish();
  EXPECT_THAT(console.err(), IsEmpty());
  EXPECT_EQ(ReadLines(DayFile()).size(), 3u);
}

// Users' profile and install directories often hold Chinese characters; the
// stored UTF-8 path must reach the file system unchanged (on Windows through
// the wide interfaces, whatever the ANSI code page).
class ChineseDirectoryTest : public LoggerTest {
 protected:
  ChineseDirectoryTest() : LoggerTest("张三/AppData/Local/Velqa电商助手") {}
};

TEST_F(ChineseDirectoryTest, CreatesWritesRotatesAndCleansUnderTheUtf8Path) {
  fs::create_directories(dir_.logs());
  const fs::path old_file = dir_.logs() / "velqa_20250221.log";
  WriteFileWithTime(old_file, "old", clock_->now() - std::chrono::hours(24 * 8));

  auto logger = MakeLogger();
  ConsoleCapture console;
  ASSERT_TRUE(logger->Initialize());
  logger->Info("中文消息", "Main");
  fs::resize_file(DayFile(), kRotationThreshold + 1);
  for (int i = NativeLoggerTestPeer::RecordCount(*logger); i < 100; ++i) logger->Info("x", "Main");
  console.Finish();

  EXPECT_THAT(console.err(), IsEmpty());
  EXPECT_THAT(NativeLoggerTestPeer::LogFilePath(*logger), HasSubstr("张三"));
  EXPECT_FALSE(fs::exists(old_file));
  const fs::path rotated = dir_.logs() / "velqa_20250301_091502.log";
  ASSERT_TRUE(fs::exists(rotated));
  EXPECT_EQ(WithoutTimestamp(ReadTailLines(rotated, 4096).back()), "[INFO] [Main] [I] x");
  const auto lines = ReadLines(DayFile());
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(WithoutTimestamp(lines[0]),
            "[INFO] [NativeLogger] [I] 日志文件轮转: " + velqa::base::Utf8FromPath(rotated));
  // Exactly the names we asked for, nothing mangled through a code page.
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir_.logs())) {
    names.push_back(velqa::base::Utf8FromPath(entry.path().filename()));
  }
  EXPECT_THAT(names,
              testing::UnorderedElementsAre("velqa_20250301.log", "velqa_20250301_091502.log"));
  const auto stdout_lines = SplitLines(console.out());
  ASSERT_GE(stdout_lines.size(), 3u);
  EXPECT_EQ(WithoutTimestamp(stdout_lines[2]),
            "[INFO] [NativeLogger] [I] 删除旧日志文件: " + velqa::base::Utf8FromPath(old_file));
}

}  // namespace
