// Which processes the installer's helper counts as running from the install
// directory: by full path, whatever the letter case, never a sibling folder.
#include <gtest/gtest.h>

#include <string>

#include "installer/stop_running/process_paths.h"

namespace velqa::installer {
namespace {

struct InsideCase {
  const char* name;
  const wchar_t* path;
  const wchar_t* directory;
  bool inside;
};

class InsideDirectoryTest : public ::testing::TestWithParam<InsideCase> {};

TEST_P(InsideDirectoryTest, ComparesWholeFolderNamesWithoutRegardToCase) {
  EXPECT_EQ(IsInsideDirectory(GetParam().path, GetParam().directory), GetParam().inside);
}

INSTANTIATE_TEST_SUITE_P(
    Paths, InsideDirectoryTest,
    ::testing::Values(
        InsideCase{"Below", L"C:\\Program Files\\Velqa电商助手\\data\\sing-box-amd64.exe",
                   L"C:\\Program Files\\Velqa电商助手", true},
        InsideCase{"OtherCase", L"C:\\PROGRAM FILES\\velqa电商助手\\velqa_assistant.exe",
                   L"c:\\program files\\Velqa电商助手", true},
        InsideCase{"SiblingWithTheSamePrefix", L"C:\\Program Files\\Velqa电商助手2\\a.exe",
                   L"C:\\Program Files\\Velqa电商助手", false},
        InsideCase{"TheFolderItself", L"C:\\Program Files\\Velqa电商助手",
                   L"C:\\Program Files\\Velqa电商助手", false},
        InsideCase{"OtherDrive", L"D:\\Program Files\\Velqa电商助手\\a.exe",
                   L"C:\\Program Files\\Velqa电商助手", false},
        InsideCase{"DriveRoot", L"C:\\a.exe", L"C:\\", true},
        InsideCase{"NoFolder", L"C:\\a.exe", L"", false}),
    [](const ::testing::TestParamInfo<InsideCase>& info) { return std::string(info.param.name); });

TEST(NormalizePathTest, DropsTrailingSeparatorsAndDotsButKeepsADrivesRoot) {
  EXPECT_EQ(NormalizePath(L"C:\\Velqa 目录\\不存在\\."), L"C:\\Velqa 目录\\不存在");
  EXPECT_EQ(NormalizePath(L"C:\\Velqa 目录\\不存在\\\\"), L"C:\\Velqa 目录\\不存在");
  EXPECT_EQ(NormalizePath(L"C:\\."), L"C:\\");
}

TEST(ImageNameTest, OnlySingBoxWithASuffixCountsAsTheProxyChild) {
  EXPECT_TRUE(IsSingBoxImage(L"sing-box-amd64.exe"));
  EXPECT_TRUE(IsSingBoxImage(L"Sing-Box-ARM64.EXE"));
  EXPECT_FALSE(IsSingBoxImage(L"sing-box.exe"));
  EXPECT_FALSE(IsSingBoxImage(L"sing-box-.exe"));
  EXPECT_FALSE(IsSingBoxImage(L"sing-box-amd64.exe.bak"));
  EXPECT_FALSE(IsSingBoxImage(L"my-sing-box-amd64.exe"));
}

}  // namespace
}  // namespace velqa::installer
