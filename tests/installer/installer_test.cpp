// The NSIS installer and uninstaller of the built bundle under Wine, run the
// way an administrator would: silently, from a folder with Chinese characters
// and a blank, into the default folder "C:\Program Files\Velqa电商助手", while
// the installed application and its sing-box run.
#include <windows.h>

#include <objbase.h>
#include <shellapi.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "base/win_resources_win.h"
#include "installer/stop_running/process_paths.h"
#include "shell/app_identity.h"
#include "shell/single_instance.h"
#include "shell/win32_window.h"
#include "tests/e2e/app_process.h"
#include "tests/e2e/session_files.h"
#include "tests/support/process_probe.h"

namespace velqa::e2e {
namespace {

namespace fs = std::filesystem;
using velqa::testing::IsProcessAlive;

constexpr wchar_t kUninstallKey[] =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\VelqaAssistant";
constexpr wchar_t kShortcutName[] = L"Velqa电商助手.lnk";
constexpr wchar_t kSingBoxImage[] = L"sing-box-amd64.exe";
constexpr wchar_t kVersion[] = L"" VELQA_TEST_VERSION;
constexpr wchar_t kUpgradeVersion[] = L"" VELQA_TEST_UPGRADE_VERSION;
constexpr DWORD kSetupTimeoutMs = 90000;
constexpr DWORD kStartTimeoutMs = 30000;

fs::path KnownFolder(REFKNOWNFOLDERID id) {
  wchar_t* path = nullptr;
  if (FAILED(::SHGetKnownFolderPath(id, 0, nullptr, &path))) return {};
  fs::path result(path);
  ::CoTaskMemFree(path);
  return result;
}

std::optional<std::wstring> UninstallValue(const wchar_t* name) {
  wchar_t buffer[1024] = {};
  DWORD size = sizeof(buffer);
  if (::RegGetValueW(HKEY_LOCAL_MACHINE, kUninstallKey, name, RRF_RT_REG_SZ, nullptr, buffer,
                     &size) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  return std::wstring(buffer);
}

std::optional<DWORD> UninstallNumber(const wchar_t* name) {
  DWORD value = 0;
  DWORD size = sizeof(value);
  if (::RegGetValueW(HKEY_LOCAL_MACHINE, kUninstallKey, name, RRF_RT_REG_DWORD, nullptr, &value,
                     &size) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  return value;
}

bool UninstallKeyExists() {
  HKEY key = nullptr;
  if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kUninstallKey, 0, KEY_READ, &key) != ERROR_SUCCESS) {
    return false;
  }
  base::UniqueRegistryKey owner(key);
  return true;
}

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

bool RunningUnderWine() {
  return ::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
}

bool EndsWith(const std::string& text, const std::string& suffix) {
  return text.size() >= suffix.size() &&
         text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

std::vector<std::wstring> DirectoryEntries(const fs::path& directory) {
  std::vector<std::wstring> names;
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(directory, error)) {
    names.push_back(entry.path().filename().wstring());
  }
  return names;
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

class InstallerTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    // Wine turns every shortcut saved in the Start menu or on the desktop
    // into a menu entry of the Linux desktop running the tests; its menu
    // builder is switched off for the test prefix (no effect on Windows).
    HKEY key = nullptr;
    if (::RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Wine\\DllOverrides", 0, nullptr, 0,
                          KEY_SET_VALUE, nullptr, &key, nullptr) == ERROR_SUCCESS) {
      base::UniqueRegistryKey owner(key);
      ::RegSetValueExW(key, L"winemenubuilder.exe", 0, REG_SZ, reinterpret_cast<const BYTE*>(L""),
                       sizeof(wchar_t));
    }
  }

  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    install_dir_ = KnownFolder(FOLDERID_ProgramFiles) / L"Velqa电商助手";
    start_menu_shortcut_ = KnownFolder(FOLDERID_CommonPrograms) / kShortcutName;
    desktop_shortcut_ = KnownFolder(FOLDERID_PublicDesktop) / kShortcutName;
    // These tests install into the machine's program files and remove what
    // is there afterwards: in a Wine prefix that belongs to the tests, but on
    // a Windows machine a real installation must be left alone.
    if (!RunningUnderWine() && (UninstallKeyExists() || fs::exists(install_dir_))) {
      GTEST_SKIP() << "Velqa电商助手 is installed on this machine; not touching it";
    }
    RemoveInstallation();
    ASSERT_FALSE(fs::exists(install_dir_)) << Utf8(install_dir_);

    work_ = std::make_unique<TempDirectory>(L"velqa_installer_");
    // The setups are run from a folder with Chinese characters and a blank.
    setups_ = work_->path() / L"安装 程序";
    fs::create_directories(setups_);
    const fs::path built = BundleDirectory().parent_path() / L"package";
    setup_ = setups_ / (std::wstring(L"velqa-assistant-") + kVersion + L"-setup.exe");
    upgrade_setup_ =
        setups_ / (std::wstring(L"velqa-assistant-") + kUpgradeVersion + L"-setup.exe");
    fs::copy_file(built / setup_.filename(), setup_);
    fs::copy_file(built / L"upgrade" / upgrade_setup_.filename(), upgrade_setup_);

    fs::create_directories(work_->path() / L"配置 目录");
    config_ = work_->path() / L"配置 目录" / L"sing-box.json";
    WriteFileBytes(config_, "{\"log\": {\"level\": \"info\"}}\n");
  }

  void TearDown() override {
    for (AppProcess* process : {&app_, &stray_, &foreign_}) process->Kill();
    if (!IsSkipped()) RemoveInstallation();
    ::CoUninitialize();
  }

  // What an installation leaves, removed by hand so each test starts clean
  // whatever the previous one did.
  void RemoveInstallation() {
    std::error_code ignored;
    fs::remove_all(install_dir_, ignored);
    fs::remove(start_menu_shortcut_, ignored);
    fs::remove(desktop_shortcut_, ignored);
    ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, kUninstallKey);
  }

  // Runs a setup (or another command) and returns its exit code.
  std::optional<DWORD> Run(const fs::path& program, const std::vector<std::wstring>& arguments) {
    AppProcess process;
    DWORD error = 0;
    if (!process.Start(program, arguments, setups_, &error)) {
      ADD_FAILURE() << "CreateProcess " << Utf8(program) << ": " << error;
      return std::nullopt;
    }
    return process.WaitForExit(kSetupTimeoutMs);
  }

  // Starts the installed application playing start_vpn, then waiting; returns
  // the sing-box it started.
  DWORD StartInstalledCopyWithSingBox(AppProcess& app) {
    const fs::path script = work_->path() / L"session.dart-script";
    const fs::path replies = work_->path() / L"replies.txt";
    std::error_code ignored;
    fs::remove(replies, ignored);
    std::string path = Utf8(config_);
    std::string escaped;
    for (char c : path) escaped += c == '\\' ? std::string("\\\\") : std::string(1, c);
    WriteFileBytes(script, "call start_vpn {\"config_path\": \"" + escaped + "\"}\nsleep 120000\n");
    DWORD error = 0;
    if (!app.Start(install_dir_ / L"velqa_assistant.exe",
                   {L"--dart-script", script.wstring(), L"--dart-replies", replies.wstring()},
                   work_->path(), &error)) {
      ADD_FAILURE() << "CreateProcess: " << error;
      return 0;
    }
    WaitFor([&] { return !ReadReplies(replies).empty(); }, kStartTimeoutMs);
    const std::vector<ReplyLine> lines = ReadReplies(replies);
    if (lines.size() != 1 || lines[0].reply.kind != Reply::Kind::kSuccess) {
      ADD_FAILURE() << "start_vpn did not succeed: " << ReadFileBytes(replies) << app.Output();
      return 0;
    }
    const std::vector<DWORD> children = ChildProcesses(app.pid(), kSingBoxImage);
    if (children.size() != 1) {
      ADD_FAILURE() << children.size() << " sing-box children";
      return 0;
    }
    return children[0];
  }

  // A sing-box started directly (not by the application) from `executable`.
  void StartSingBox(AppProcess& process, const fs::path& executable) {
    DWORD error = 0;
    ASSERT_TRUE(
        process.Start(executable, {L"run", L"-c", config_.wstring()}, work_->path(), &error))
        << Utf8(executable) << ": " << error;
    ASSERT_TRUE(process.WaitForOutput("started", kStartTimeoutMs)) << process.Output();
  }

  bool Gone(DWORD pid) {
    return WaitFor([&] { return !IsProcessAlive(pid); }, 5000);
  }

  fs::path install_dir_;
  fs::path start_menu_shortcut_;
  fs::path desktop_shortcut_;
  std::unique_ptr<TempDirectory> work_;
  fs::path setups_;
  fs::path setup_;
  fs::path upgrade_setup_;
  fs::path config_;
  AppProcess app_;
  AppProcess stray_;
  AppProcess foreign_;
};

TEST_F(InstallerTest, SilentInstallUpgradeWhileRunningAndUninstallLeaveNothingBehind) {
  // Install.
  ASSERT_EQ(Run(setup_, {L"/S"}), std::optional<DWORD>(0));
  const fs::path exe = install_dir_ / L"velqa_assistant.exe";
  const fs::path uninstaller = install_dir_ / L"uninstall.exe";
  for (const fs::path& file :
       {exe, install_dir_ / L"flutter_windows.dll", install_dir_ / L"data" / kSingBoxImage,
        install_dir_ / L"wintun" / L"wintun_x64.dll", uninstaller}) {
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
            std::optional<std::wstring>(L"\"" + uninstaller.wstring() + L"\" /S"));
  EXPECT_GT(UninstallNumber(L"EstimatedSize").value_or(0), 100u);  // KB
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
  EXPECT_TRUE(EndsWith(ReadFileBytes(exe), VELQA_TEST_UPGRADE_MARKER)) << "executable not replaced";
  EXPECT_EQ(UninstallValue(L"DisplayVersion"), std::optional<std::wstring>(kUpgradeVersion));
  EXPECT_EQ(UninstallValue(L"InstallLocation"), std::optional<std::wstring>(install_dir_));
  EXPECT_TRUE(ReadFileBytes(log).starts_with(log_text)) << "logs/ not kept";

  // Uninstall, as the list of installed programs does it, while the new copy
  // and its sing-box run.
  AppProcess upgraded;
  const DWORD new_child = StartInstalledCopyWithSingBox(upgraded);
  ASSERT_NE(new_child, 0u);
  const std::optional<std::wstring> quiet = UninstallValue(L"QuietUninstallString");
  ASSERT_TRUE(quiet.has_value());
  int argc = 0;
  base::UniqueLocalMemory<wchar_t*> argv(::CommandLineToArgvW(quiet->c_str(), &argc));
  ASSERT_TRUE(argv.get() != nullptr && argc >= 1);
  ASSERT_EQ(Run(argv.get()[0], std::vector<std::wstring>(argv.get() + 1, argv.get() + argc)),
            std::optional<DWORD>(0));
  // The uninstaller carries on from a copy of itself in the temporary folder;
  // its last step, removing the folder if empty, can briefly hide the
  // folder's entries under Wine.
  const std::vector<std::wstring> only_logs = {L"logs"};
  EXPECT_TRUE(WaitFor(
      [&] {
        return !UninstallKeyExists() && !fs::exists(uninstaller) &&
               DirectoryEntries(install_dir_) == only_logs;
      },
      kSetupTimeoutMs));
  EXPECT_EQ(upgraded.WaitForExit(0), std::optional<DWORD>(0)) << "the copy still runs";
  EXPECT_TRUE(Gone(new_child)) << "its sing-box still runs";
  EXPECT_TRUE(foreign_.IsRunning()) << "a sing-box elsewhere was ended";
  // Silent mode keeps the logs and nothing else.
  EXPECT_EQ(DirectoryEntries(install_dir_), only_logs);
  EXPECT_FALSE(UninstallKeyExists());
  EXPECT_FALSE(fs::exists(start_menu_shortcut_));
  EXPECT_FALSE(fs::exists(desktop_shortcut_));
}

TEST_F(InstallerTest, ACopyThatDoesNotExitStopsTheInstallBeforeAnythingIsWritten) {
  // This process holds the single-instance mutex like a copy that hangs.
  base::UniqueHandle mutex(::CreateMutexW(nullptr, FALSE, kSingleInstanceMutexName));
  ASSERT_TRUE(mutex.is_valid());
  const fs::path target = work_->path() / L"目标 目录" / L"Velqa电商助手";
  const ULONGLONG started = ::GetTickCount64();
  EXPECT_EQ(Run(setup_, {L"/S", L"/D=" + target.wstring()}), std::optional<DWORD>(3));
  EXPECT_GE(::GetTickCount64() - started, 9000u) << "did not wait for the copy";
  EXPECT_FALSE(fs::exists(target));
  EXPECT_FALSE(UninstallKeyExists());
  EXPECT_FALSE(fs::exists(start_menu_shortcut_));
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
