#include "tests/installer/installer_fixture.h"

#include <objbase.h>
#include <cstring>

#include "base/win_resources_win.h"
#include "tests/support/process_probe.h"
#include "tests/support/standin_config.h"

namespace velqa::e2e {

namespace fs = std::filesystem;

std::optional<RegistryValue> MachineValue(const wchar_t* key, const wchar_t* name) {
  HKEY raw = nullptr;
  if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, key, 0, KEY_READ | KEY_WOW64_64KEY, &raw) !=
      ERROR_SUCCESS) {
    return std::nullopt;
  }
  base::UniqueRegistryKey owner(raw);
  BYTE data[2048] = {};
  DWORD size = sizeof(data) - sizeof(wchar_t);
  RegistryValue value;
  if (::RegQueryValueExW(raw, name, nullptr, &value.type, data, &size) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  if (value.type == REG_DWORD) {
    std::memcpy(&value.number, data, sizeof(DWORD));
  } else {
    value.text = reinterpret_cast<const wchar_t*>(data);
  }
  return value;
}

std::optional<std::wstring> UninstallValue(const wchar_t* name) {
  const std::optional<RegistryValue> value = MachineValue(kUninstallKey, name);
  if (!value || value->type != REG_SZ) return std::nullopt;
  return value->text;
}

bool MachineKeyExists(const wchar_t* key) {
  HKEY raw = nullptr;
  if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, key, 0, KEY_READ | KEY_WOW64_64KEY, &raw) !=
      ERROR_SUCCESS) {
    return false;
  }
  base::UniqueRegistryKey owner(raw);
  return true;
}

fs::path KnownFolder(REFKNOWNFOLDERID id) {
  wchar_t* path = nullptr;
  if (FAILED(::SHGetKnownFolderPath(id, 0, nullptr, &path))) return {};
  fs::path result(path);
  ::CoTaskMemFree(path);
  return result;
}

bool RunningUnderWine() {
  return ::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
}

std::vector<std::wstring> DirectoryEntries(const fs::path& directory) {
  std::vector<std::wstring> names;
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(directory, error)) {
    names.push_back(entry.path().filename().wstring());
  }
  return names;
}

void InstallerTest::SetUpTestSuite() {
  // Wine turns every shortcut saved in the Start menu or on the desktop into
  // a menu entry of the Linux desktop running the tests; its menu builder is
  // switched off for the test prefix (no effect on Windows).
  HKEY key = nullptr;
  if (::RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Wine\\DllOverrides", 0, nullptr, 0,
                        KEY_SET_VALUE, nullptr, &key, nullptr) == ERROR_SUCCESS) {
    base::UniqueRegistryKey owner(key);
    ::RegSetValueExW(key, L"winemenubuilder.exe", 0, REG_SZ, reinterpret_cast<const BYTE*>(L""),
                     sizeof(wchar_t));
  }
}

void InstallerTest::SetUp() {
  ASSERT_TRUE(SUCCEEDED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
  install_dir_ = KnownFolder(FOLDERID_ProgramFiles) / L"Velqa电商助手";
  constexpr wchar_t kShortcutName[] = L"Velqa电商助手.lnk";
  start_menu_shortcut_ = KnownFolder(FOLDERID_CommonPrograms) / kShortcutName;
  desktop_shortcut_ = KnownFolder(FOLDERID_PublicDesktop) / kShortcutName;
  // These tests install into the machine's program files and remove what is
  // there afterwards: in a Wine prefix that belongs to the tests, but on a
  // Windows machine a real installation must be left alone.
  if (!RunningUnderWine() && (MachineKeyExists(kUninstallKey) || fs::exists(install_dir_))) {
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
  upgrade_setup_ = setups_ / (std::wstring(L"velqa-assistant-") + kUpgradeVersion + L"-setup.exe");
  fs::copy_file(built / setup_.filename(), setup_);
  fs::copy_file(built / L"upgrade" / upgrade_setup_.filename(), upgrade_setup_);

  fs::create_directories(work_->path() / L"配置 目录");
  config_ = work_->path() / L"配置 目录" / L"sing-box.json";
  WriteFileBytes(config_, "{\"log\": {\"level\": \"info\"}}\n");
}

void InstallerTest::TearDown() {
  for (AppProcess* process : {&app_, &stray_, &foreign_}) process->Kill();
  if (!IsSkipped()) RemoveInstallation();
  ::CoUninitialize();
}

void InstallerTest::RemoveInstallation() {
  std::error_code ignored;
  fs::remove_all(install_dir_, ignored);
  fs::remove(start_menu_shortcut_, ignored);
  fs::remove(desktop_shortcut_, ignored);
  ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, kUninstallKey);
  ::RegDeleteKeyExW(HKEY_LOCAL_MACHINE, kLocalDumpsKey, KEY_WOW64_64KEY, 0);
}

std::optional<DWORD> InstallerTest::Run(const fs::path& program,
                                        const std::vector<std::wstring>& arguments) {
  AppProcess process;
  DWORD error = 0;
  if (!process.Start(program, arguments, setups_, &error)) {
    ADD_FAILURE() << "CreateProcess " << Utf8(program) << ": " << error;
    return std::nullopt;
  }
  return process.WaitForExit(kSetupTimeoutMs);
}

std::optional<DWORD> InstallerTest::RunQuietUninstall() {
  std::optional<std::wstring> quiet = UninstallValue(L"QuietUninstallString");
  if (!quiet) {
    ADD_FAILURE() << "no QuietUninstallString";
    return std::nullopt;
  }
  // Verbatim, as the list of installed programs does: "_?=" takes the rest
  // of the line, blanks included, and must not be quoted.
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info{};
  if (!::CreateProcessW(nullptr, quiet->data(), nullptr, nullptr, FALSE, 0, nullptr,
                        setups_.c_str(), &startup, &info)) {
    ADD_FAILURE() << "CreateProcess " << Utf8(*quiet) << ": " << ::GetLastError();
    return std::nullopt;
  }
  base::UniqueHandle process(info.hProcess);
  base::UniqueHandle thread(info.hThread);
  DWORD code = 0;
  if (::WaitForSingleObject(process.get(), kSetupTimeoutMs) != WAIT_OBJECT_0 ||
      !::GetExitCodeProcess(process.get(), &code)) {
    ADD_FAILURE() << "the uninstall did not end";
    ::TerminateProcess(process.get(), 1);
    return std::nullopt;
  }
  return code;
}

bool InstallerTest::WaitForOnlyLogsLeft() {
  return WaitFor(
      [&] {
        if (!fs::exists(install_dir_)) return true;
        return DirectoryEntries(install_dir_) == std::vector<std::wstring>{L"logs"};
      },
      30000);
}

DWORD InstallerTest::StartInstalledCopyWithSingBox(AppProcess& app) {
  const fs::path script = work_->path() / L"session.dart-script";
  const fs::path replies = work_->path() / L"replies.txt";
  std::error_code ignored;
  fs::remove(replies, ignored);
  WriteFileBytes(script, "call start_vpn {\"config_path\": " + vpn_test::JsonString(Utf8(config_)) +
                             "}\nsleep 120000\n");
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

void InstallerTest::StartSingBox(AppProcess& process, const fs::path& executable) {
  DWORD error = 0;
  ASSERT_TRUE(process.Start(executable, {L"run", L"-c", config_.wstring()}, work_->path(), &error))
      << Utf8(executable) << ": " << error;
  ASSERT_TRUE(process.WaitForOutput("started", kStartTimeoutMs)) << process.Output();
}

bool InstallerTest::Gone(DWORD pid) {
  return velqa::testing::WaitUntilGone(pid, std::chrono::milliseconds(5000));
}

}  // namespace velqa::e2e
