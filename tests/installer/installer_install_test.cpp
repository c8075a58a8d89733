// What a silent install puts in place, what an upgrade while the application
// and its sing-box run replaces and removes, and what an uninstall leaves:
// the setups run the way an administrator would, from a folder with Chinese
// characters and a blank, into "C:\Program Files\Velqa电商助手".
#include <windows.h>

#include <objbase.h>
#include <shobjidl.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "installer/stop_running/process_paths.h"
#include "shell/app_identity.h"
#include "shell/win32_window.h"
#include "tests/installer/installer_fixture.h"

namespace velqa::e2e {
namespace {

namespace fs = std::filesystem;

// The "ProductVersion" text of the executable's version record (its strings
// are in the Chinese (PRC), Unicode block).
std::wstring ProductVersion(const fs::path& file) {
  DWORD ignored = 0;
  std::vector<char> record(::GetFileVersionInfoSizeW(file.c_str(), &ignored));
  wchar_t* value = nullptr;
  UINT size = 0;
  if (record.empty() ||
      !::GetFileVersionInfoW(file.c_str(), 0, static_cast<DWORD>(record.size()), record.data()) ||
      !::VerQueryValueW(record.data(), L"\\StringFileInfo\\080404b0\\ProductVersion",
                        reinterpret_cast<void**>(&value), &size)) {
    return {};
  }
  return value;
}

// What a shortcut starts. The target comes from the shortcut's item list,
// which Windows follows: Wine's own reading of a shortcut goes through the
// ANSI copy of the path, where Chinese folder names do not survive a
// non-Chinese code page.
struct Shortcut {
  std::wstring target;
  std::wstring working_directory;
  std::wstring icon;
};
std::optional<Shortcut> ReadShortcut(const fs::path& file) {
  IShellLinkW* link = nullptr;
  if (FAILED(::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                reinterpret_cast<void**>(&link)))) {
    return std::nullopt;
  }
  std::optional<Shortcut> result;
  IPersistFile* persist = nullptr;
  if (SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&persist)))) {
    PIDLIST_ABSOLUTE items = nullptr;
    if (SUCCEEDED(persist->Load(file.c_str(), STGM_READ)) && SUCCEEDED(link->GetIDList(&items))) {
      wchar_t target[MAX_PATH] = {};
      wchar_t directory[MAX_PATH] = {};
      wchar_t icon[MAX_PATH] = {};
      int icon_index = 0;
      ::SHGetPathFromIDListW(items, target);
      ::CoTaskMemFree(items);
      link->GetWorkingDirectory(directory, MAX_PATH);
      link->GetIconLocation(icon, MAX_PATH, &icon_index);
      result = Shortcut{target, directory, icon};
    }
    persist->Release();
  }
  link->Release();
  return result;
}

RegistryValue Number(DWORD number) {
  RegistryValue value;
  value.type = REG_DWORD;
  value.number = number;
  return value;
}

// Windows Error Reporting's local dumps of the installed executable go into
// its logs folder, five at most, as mini dumps.
void ExpectLocalDumpsInto(const fs::path& install_dir) {
  RegistryValue folder;
  folder.type = REG_EXPAND_SZ;
  folder.text = (install_dir / L"logs").wstring();
  EXPECT_EQ(MachineValue(kLocalDumpsKey, L"DumpFolder"), std::optional<RegistryValue>(folder));
  EXPECT_EQ(MachineValue(kLocalDumpsKey, L"DumpCount"), std::optional<RegistryValue>(Number(5)));
  EXPECT_EQ(MachineValue(kLocalDumpsKey, L"DumpType"), std::optional<RegistryValue>(Number(1)));
}

TEST_F(InstallerTest, SilentInstallUpgradeWhileRunningAndUninstallLeaveNothingBehind) {
  // Install.
  ASSERT_EQ(Run(setup_, {L"/S"}), std::optional<DWORD>(0));
  const fs::path exe = install_dir_ / L"velqa_assistant.exe";
  const fs::path uninstaller = install_dir_ / L"uninstall.exe";
  const fs::path dropped = install_dir_ / kDroppedFile;
  for (const fs::path& file :
       {exe, install_dir_ / L"flutter_windows.dll", install_dir_ / L"data" / kSingBoxImage,
        install_dir_ / L"wintun" / L"wintun_x64.dll", uninstaller, dropped}) {
    EXPECT_TRUE(fs::exists(file)) << Utf8(file);
  }
  EXPECT_EQ(UninstallValue(L"DisplayName"), std::optional<std::wstring>(kApplicationTitle));
  // One version number: the executable's record and the installed programs list.
  EXPECT_EQ(UninstallValue(L"DisplayVersion"), std::optional<std::wstring>(kVersion));
  EXPECT_EQ(ProductVersion(exe), kVersion);
  EXPECT_EQ(UninstallValue(L"Publisher"), std::optional<std::wstring>(L"Velqa"));
  EXPECT_EQ(UninstallValue(L"InstallLocation"), std::optional<std::wstring>(install_dir_));
  EXPECT_EQ(UninstallValue(L"DisplayIcon"), std::optional<std::wstring>(exe.wstring() + L",0"));
  EXPECT_EQ(UninstallValue(L"QuietUninstallString"),
            std::optional<std::wstring>(L"\"" + uninstaller.wstring() + L"\" /S _?=" +
                                        install_dir_.wstring()));
  EXPECT_GT(MachineValue(kUninstallKey, L"EstimatedSize").value_or(RegistryValue{}).number,
            100u);  // KB
  ExpectLocalDumpsInto(install_dir_);
  for (const fs::path& link : {start_menu_shortcut_, desktop_shortcut_}) {
    const std::optional<Shortcut> shortcut = ReadShortcut(link);
    ASSERT_TRUE(shortcut.has_value()) << Utf8(link);
    EXPECT_EQ(shortcut->target, exe.wstring());
    EXPECT_EQ(shortcut->working_directory, install_dir_.wstring());
    EXPECT_EQ(shortcut->icon, exe.wstring());
  }

  // The installed copy runs with its sing-box; beside them a sing-box started
  // from the install folder by hand, and one of the same name elsewhere.
  const DWORD child = StartInstalledCopyWithSingBox(app_);
  ASSERT_NE(child, 0u);
  ASSERT_NO_FATAL_FAILURE(StartSingBox(stray_, install_dir_ / L"data" / kSingBoxImage));
  const fs::path elsewhere = work_->path() / L"别的 目录";
  fs::create_directories(elsewhere);
  fs::copy_file(install_dir_ / L"data" / kSingBoxImage, elsewhere / kSingBoxImage);
  ASSERT_NO_FATAL_FAILURE(StartSingBox(foreign_, elsewhere / kSingBoxImage));
  const fs::path log = LogWatch(install_dir_).File();
  ASSERT_FALSE(log.empty()) << "no log beside the installed executable";
  const std::string log_text = ReadFileBytes(log);

  // Upgrade while all of that runs.
  ASSERT_EQ(Run(upgrade_setup_, {L"/S"}), std::optional<DWORD>(0));
  EXPECT_EQ(app_.WaitForExit(0), std::optional<DWORD>(0)) << "the old copy still runs";
  EXPECT_TRUE(Gone(child)) << "its sing-box still runs";
  EXPECT_FALSE(stray_.IsRunning()) << "sing-box from the install folder still runs";
  EXPECT_TRUE(foreign_.IsRunning()) << "a sing-box elsewhere was ended";
  EXPECT_TRUE(ReadFileBytes(exe).ends_with(VELQA_TEST_UPGRADE_MARKER)) << "executable not replaced";
  EXPECT_FALSE(fs::exists(dropped)) << "a file the new version no longer ships is left";
  EXPECT_EQ(UninstallValue(L"DisplayVersion"), std::optional<std::wstring>(kUpgradeVersion));
  EXPECT_EQ(UninstallValue(L"InstallLocation"), std::optional<std::wstring>(install_dir_));
  EXPECT_TRUE(ReadFileBytes(log).starts_with(log_text)) << "logs/ not kept";
  ExpectLocalDumpsInto(install_dir_);

  // Uninstall, as the list of installed programs does it, while the new copy
  // and its sing-box run and the web view has left its data beside the
  // executable. The command returns once all is done.
  AppProcess upgraded;
  const DWORD new_child = StartInstalledCopyWithSingBox(upgraded);
  ASSERT_NE(new_child, 0u);
  WriteFileBytes(install_dir_ / L"velqa_assistant.exe.WebView2" / L"EBWebView" / L"Local State",
                 "{}");
  ASSERT_EQ(RunQuietUninstall(), std::optional<DWORD>(0));
  EXPECT_EQ(upgraded.WaitForExit(0), std::optional<DWORD>(0)) << "the copy still runs";
  EXPECT_TRUE(Gone(new_child)) << "its sing-box still runs";
  EXPECT_TRUE(foreign_.IsRunning()) << "a sing-box elsewhere was ended";
  EXPECT_FALSE(MachineKeyExists(kUninstallKey));
  EXPECT_FALSE(MachineKeyExists(kLocalDumpsKey));
  EXPECT_FALSE(fs::exists(start_menu_shortcut_));
  EXPECT_FALSE(fs::exists(desktop_shortcut_));
  // Silent mode keeps the logs and nothing else, once the uninstaller's own
  // file has gone after it.
  EXPECT_TRUE(WaitForOnlyLogsLeft()) << Utf8(install_dir_);
}

// A copy installed before setups kept a file list: its old assets must not
// mix with the new version's.
TEST_F(InstallerTest, AnUpgradeOfACopyWithoutAFileListLeavesNoOldAsset) {
  ASSERT_EQ(Run(setup_, {L"/S"}), std::optional<DWORD>(0));
  fs::remove(install_dir_ / L"installed_files.txt");
  const fs::path stale = install_dir_ / L"data" / L"flutter_assets" / L"旧 资源.bin";
  std::ofstream(stale) << "old";
  ASSERT_EQ(Run(upgrade_setup_, {L"/S"}), std::optional<DWORD>(0));
  EXPECT_FALSE(fs::exists(stale));
  EXPECT_TRUE(fs::exists(install_dir_ / L"data" / L"flutter_assets"));
  ASSERT_EQ(RunQuietUninstall(), std::optional<DWORD>(0));
  EXPECT_TRUE(WaitForOnlyLogsLeft()) << Utf8(install_dir_);
}

TEST_F(InstallerTest, TheStartMenuShortcutStartsTheInstalledCopy) {
  ASSERT_EQ(Run(setup_, {L"/S"}), std::optional<DWORD>(0));
  ASSERT_TRUE(fs::exists(start_menu_shortcut_));
  // Started the way the shortcut says: its target in its working folder.
  const std::optional<Shortcut> shortcut = ReadShortcut(start_menu_shortcut_);
  ASSERT_TRUE(shortcut.has_value());
  AppProcess started;
  DWORD error = 0;
  ASSERT_TRUE(started.Start(shortcut->target, {}, shortcut->working_directory, &error,
                            /*redirect_output=*/false))
      << Utf8(shortcut->target) << ": " << error;
  HWND window = nullptr;
  ASSERT_TRUE(WaitFor(
      [&] {
        window = ::FindWindowW(kWindowClassName, kApplicationTitle);
        return window != nullptr && ::IsWindowVisible(window);
      },
      kStartTimeoutMs));
  DWORD pid = 0;
  ::GetWindowThreadProcessId(window, &pid);
  EXPECT_EQ(pid, started.pid());
  EXPECT_EQ(
      installer::ProcessImagePath(pid),
      std::optional<std::wstring>(installer::NormalizePath(install_dir_ / L"velqa_assistant.exe")));
  ::PostMessageW(window, WM_COMMAND, kTrayExitCommand, 0);
  EXPECT_EQ(started.WaitForExit(20000), std::optional<DWORD>(0));
}

}  // namespace
}  // namespace velqa::e2e
