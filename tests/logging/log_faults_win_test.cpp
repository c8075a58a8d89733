// Faults that come from Windows sharing rules.
#include <windows.h>

#include <cstdint>
#include <filesystem>
#include <fstream>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "base/win_resources_win.h"
#include "tests/logging/logger_test_support.h"

namespace fs = std::filesystem;
using ::testing::HasSubstr;

namespace {

using LogFaultsWinTest = LoggerTest;

// Another program reading the log (without delete sharing) makes the rename
// refused; the logger goes on in the same file and rotates once it is free.
TEST_F(LogFaultsWinTest, RenameRefusedWhileAnotherReaderHoldsTheFileLosesNothing) {
  auto logger = MakeInitializedLogger();
  ConsoleCapture console;
  while (NativeLoggerTestPeer::RecordCount(*logger) < 99) logger->Info("fill", "Test");
  fs::resize_file(DayFile(), kRotationThreshold + 1);
  {
    std::ifstream reader(DayFile());
    ASSERT_TRUE(reader.is_open());
    logger->Info("trigger", "Test");
  }
  logger->Info("kept", "Test");
  EXPECT_FALSE(fs::exists(dir_.logs() / "velqa_20250301_091502.log"));
  EXPECT_EQ(WithoutTimestamp(ReadTailLines(DayFile(), 200).back()), "[INFO] [Test] [I] kept");
  while (NativeLoggerTestPeer::RecordCount(*logger) < 200) logger->Info("fill", "Test");
  console.Finish();
  EXPECT_THAT(console.err(), testing::StartsWith("NativeLogger: 检查日志文件大小失败: "));
  EXPECT_THAT(console.err(), testing::Not(HasSubstr("日志文件未打开")));
  EXPECT_TRUE(fs::exists(dir_.logs() / "velqa_20250301_091502.log"));
}

// A child started with handle inheritance on must not get the log file: its
// handle is not inheritable. Windows lists no process's handles, so every
// value a young process uses is tried.
TEST_F(LogFaultsWinTest, LogFileHandleIsNotInheritable) {
  auto logger = MakeInitializedLogger();
  const velqa::base::UniqueHandle probe(
      CreateFileW(DayFile().c_str(), FILE_READ_ATTRIBUTES,
                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                  FILE_ATTRIBUTE_NORMAL, nullptr));
  ASSERT_NE(probe.get(), INVALID_HANDLE_VALUE);
  BY_HANDLE_FILE_INFORMATION log_file{};
  ASSERT_TRUE(GetFileInformationByHandle(probe.get(), &log_file));
  int found = 0;
  for (std::uintptr_t value = 4; value < (1u << 16); value += 4) {
    const HANDLE handle = reinterpret_cast<HANDLE>(value);
    DWORD flags = 0;
    BY_HANDLE_FILE_INFORMATION info{};
    if (handle == probe.get() || !GetHandleInformation(handle, &flags) ||
        GetFileType(handle) != FILE_TYPE_DISK || !GetFileInformationByHandle(handle, &info) ||
        info.dwVolumeSerialNumber != log_file.dwVolumeSerialNumber ||
        info.nFileIndexHigh != log_file.nFileIndexHigh ||
        info.nFileIndexLow != log_file.nFileIndexLow) {
      continue;
    }
    ++found;
    EXPECT_EQ(flags & HANDLE_FLAG_INHERIT, 0u) << "handle " << value;
  }
  EXPECT_EQ(found, 1);
}

}  // namespace
