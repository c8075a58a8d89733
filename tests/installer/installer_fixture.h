// What the installer tests share: the setups of this build copied into a
// folder with Chinese characters and a blank, the default install folder
// "C:\Program Files\Velqa电商助手" (cleared before and after each test), the
// registry values a setup writes, shortcuts, and the installed application
// started with its sing-box. Run on the test's thread only.
#ifndef VELQA_TESTS_INSTALLER_INSTALLER_FIXTURE_H_
#define VELQA_TESTS_INSTALLER_INSTALLER_FIXTURE_H_

#include <windows.h>

#include <shlobj.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tests/e2e/app_process.h"
#include "tests/e2e/session_files.h"

namespace velqa::e2e {

inline constexpr wchar_t kUninstallKey[] =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\VelqaAssistant";
inline constexpr wchar_t kLocalDumpsKey[] =
    L"SOFTWARE\\Microsoft\\Windows\\Windows Error Reporting\\LocalDumps\\velqa_assistant.exe";
inline constexpr wchar_t kVersion[] = L"" VELQA_TEST_VERSION;
inline constexpr wchar_t kUpgradeVersion[] = L"" VELQA_TEST_UPGRADE_VERSION;
// A file the first version ships and the upgrade no longer does (with
// forward slashes, relative to the install folder).
inline constexpr wchar_t kDroppedFile[] = L"" VELQA_TEST_UPGRADE_DROPS;
inline constexpr DWORD kSetupTimeoutMs = 90000;

// A value of HKLM's 64-bit view: its type and its text or number.
struct RegistryValue {
  DWORD type = REG_NONE;
  std::wstring text;
  DWORD number = 0;
  bool operator==(const RegistryValue&) const = default;
};
std::optional<RegistryValue> MachineValue(const wchar_t* key, const wchar_t* name);
std::optional<std::wstring> UninstallValue(const wchar_t* name);
bool MachineKeyExists(const wchar_t* key);

std::filesystem::path KnownFolder(REFKNOWNFOLDERID id);
bool RunningUnderWine();
std::vector<std::wstring> DirectoryEntries(const std::filesystem::path& directory);

class InstallerTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite();
  void SetUp() override;
  void TearDown() override;

  // What an installation leaves, removed by hand so each test starts clean
  // whatever the previous one did.
  void RemoveInstallation();
  // Runs a setup (or another command) and returns its exit code.
  std::optional<DWORD> Run(const std::filesystem::path& program,
                           const std::vector<std::wstring>& arguments);
  // Runs the registered "QuietUninstallString" as the list of installed
  // programs does, and returns its exit code.
  std::optional<DWORD> RunQuietUninstall();
  // The uninstaller's file goes right after the uninstall command returns
  // (a program cannot delete itself); waits until only logs/ is left in
  // the install folder, or nothing at all when there are no logs.
  bool WaitForOnlyLogsLeft();
  // Starts the installed application playing start_vpn, then waiting;
  // returns the sing-box it started (0 after a failure, which is reported).
  DWORD StartInstalledCopyWithSingBox(AppProcess& app);
  // A sing-box started directly (not by the application) from `executable`.
  void StartSingBox(AppProcess& process, const std::filesystem::path& executable);
  bool Gone(DWORD pid);

  std::filesystem::path install_dir_;
  std::filesystem::path start_menu_shortcut_;
  std::filesystem::path desktop_shortcut_;
  std::unique_ptr<TempDirectory> work_;
  std::filesystem::path setups_;
  std::filesystem::path setup_;
  std::filesystem::path upgrade_setup_;
  std::filesystem::path config_;
  AppProcess app_;
  AppProcess stray_;
  AppProcess foreign_;
};

}  // namespace velqa::e2e

#endif  // VELQA_TESTS_INSTALLER_INSTALLER_FIXTURE_H_
