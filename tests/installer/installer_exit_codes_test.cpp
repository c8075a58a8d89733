// The exit codes setup and the registered uninstall command return, each
// reached the way it happens on a desktop: a copy that does not exit (3), a
// file setup cannot write (2) and one the uninstaller cannot remove (4).
#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>

#include "base/win_resources_win.h"
#include "shell/single_instance.h"
#include "tests/installer/installer_fixture.h"

namespace velqa::e2e {
namespace {

namespace fs = std::filesystem;

constexpr DWORD kCopyDidNotExit = 3;

// Holds `file` open as another program may: others may read it, not write
// or delete it.
base::UniqueHandle HoldOpen(const fs::path& file) {
  return base::UniqueHandle(::CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                          OPEN_EXISTING, 0, nullptr));
}

// Every path below `directory`, one a line, for a failure's message.
std::string Listing(const fs::path& directory) {
  std::string text;
  std::error_code error;
  for (const auto& entry : fs::recursive_directory_iterator(directory, error)) {
    text += Utf8(entry.path()) + "\n";
  }
  return text;
}

// This process holds the single-instance mutex like a copy that hangs.
base::UniqueHandle HangingCopy() {
  return base::UniqueHandle(::CreateMutexW(nullptr, FALSE, kSingleInstanceMutexName));
}

TEST_F(InstallerTest, ACopyThatDoesNotExitStopsTheInstallBeforeAnythingIsWritten) {
  const base::UniqueHandle mutex = HangingCopy();
  ASSERT_TRUE(mutex.is_valid());
  const fs::path target = work_->path() / L"目标 目录" / L"Velqa电商助手";
  const ULONGLONG started = ::GetTickCount64();
  EXPECT_EQ(Run(setup_, {L"/S", L"/D=" + target.wstring()}),
            std::optional<DWORD>(kCopyDidNotExit));
  EXPECT_GE(::GetTickCount64() - started, 9000u) << "did not wait for the copy";
  EXPECT_FALSE(fs::exists(target));
  EXPECT_FALSE(MachineKeyExists(kUninstallKey));
  EXPECT_FALSE(fs::exists(start_menu_shortcut_));
}

TEST_F(InstallerTest, ACopyThatDoesNotExitStopsTheUninstallBeforeAnythingIsRemoved) {
  ASSERT_EQ(Run(setup_, {L"/S"}), std::optional<DWORD>(0));
  const base::UniqueHandle mutex = HangingCopy();
  ASSERT_TRUE(mutex.is_valid());
  EXPECT_EQ(RunQuietUninstall(), std::optional<DWORD>(kCopyDidNotExit));
  EXPECT_TRUE(fs::exists(install_dir_ / L"velqa_assistant.exe"));
  EXPECT_TRUE(fs::exists(install_dir_ / L"uninstall.exe"));
  EXPECT_TRUE(MachineKeyExists(kUninstallKey));
  EXPECT_TRUE(MachineKeyExists(kLocalDumpsKey));
}

TEST_F(InstallerTest, AFileTheUninstallerCannotRemoveMakesItReturnFourAfterRemovingTheRest) {
  ASSERT_EQ(Run(setup_, {L"/S"}), std::optional<DWORD>(0));
  const fs::path held = install_dir_ / L"data" / L"icudtl.dat";
  base::UniqueHandle file = HoldOpen(held);
  ASSERT_TRUE(file.is_valid());
  EXPECT_EQ(RunQuietUninstall(), std::optional<DWORD>(4));
  EXPECT_TRUE(fs::exists(held));
  EXPECT_FALSE(fs::exists(install_dir_ / L"velqa_assistant.exe"));
  EXPECT_FALSE(MachineKeyExists(kUninstallKey));
}

// Setup cannot replace a file another program holds: it stops with code 2,
// leaving some files of each version, all named in the installed-file list,
// and the old registration. Run again, it completes the upgrade, and the
// uninstaller then removes everything.
TEST_F(InstallerTest, ASetupStoppedByAFileItCannotWriteReturnsTwoAndItsNextRunCompletesIt) {
  ASSERT_EQ(Run(setup_, {L"/S"}), std::optional<DWORD>(0));
  const fs::path exe = install_dir_ / L"velqa_assistant.exe";
  {
    base::UniqueHandle file = HoldOpen(install_dir_ / L"flutter_windows.dll");
    ASSERT_TRUE(file.is_valid());
    EXPECT_EQ(Run(upgrade_setup_, {L"/S"}), std::optional<DWORD>(2));
    EXPECT_EQ(UninstallValue(L"DisplayVersion"), std::optional<std::wstring>(kVersion));
  }
  ASSERT_EQ(Run(upgrade_setup_, {L"/S"}), std::optional<DWORD>(0));
  EXPECT_TRUE(ReadFileBytes(exe).ends_with(VELQA_TEST_UPGRADE_MARKER));
  EXPECT_FALSE(fs::exists(install_dir_ / kDroppedFile));
  EXPECT_EQ(UninstallValue(L"DisplayVersion"), std::optional<std::wstring>(kUpgradeVersion));
  ASSERT_EQ(RunQuietUninstall(), std::optional<DWORD>(0));
  EXPECT_TRUE(WaitForOnlyLogsLeft()) << Listing(install_dir_);
  EXPECT_FALSE(fs::exists(install_dir_ / L"logs")) << "the application never ran";
}

}  // namespace
}  // namespace velqa::e2e
