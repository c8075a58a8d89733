// What the shell offers for support: the tray's log-folder command and the
// limit on kept crash dumps.
#include <windows.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "base/win_resources_win.h"
#include "logging/log_directory.h"
#include "shell/crash_dump_win.h"
#include "shell/crash_watcher/crash_report_win.h"
#include "shell/win32_window.h"
#include "tests/shell/fake_embedding.h"
#include "tests/support/minidump_reader.h"

namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using velqa::testing::CrashCodeText;
using velqa::testing::DumpFiles;
using velqa::testing::MinidumpFacts;
using velqa::testing::ReadMinidump;

std::vector<fs::path> opened_folders;
bool RecordOpenedFolder(const fs::path& folder) {
  opened_folders.push_back(folder);
  return true;
}

void PumpPendingMessages() {
  MSG message;
  while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    ::TranslateMessage(&message);
    ::DispatchMessageW(&message);
  }
}

struct MenuItem {
  std::wstring text;
  UINT id;
  bool operator==(const MenuItem&) const = default;
};

// Waits for the popup menu, reads its items and chooses the first one with
// the keyboard, as a user would.
std::vector<MenuItem> ReadMenuAndChooseFirst() {
  HWND menu = nullptr;
  const ULONGLONG deadline = ::GetTickCount64() + 10000;
  while (menu == nullptr && ::GetTickCount64() < deadline) {
    menu = ::FindWindowW(L"#32768", nullptr);
    if (menu != nullptr && !::IsWindowVisible(menu)) menu = nullptr;
    if (menu == nullptr) ::Sleep(20);
  }
  std::vector<MenuItem> items;
  if (menu == nullptr) return items;
  HMENU handle = reinterpret_cast<HMENU>(::SendMessageW(menu, MN_GETHMENU, 0, 0));
  for (int i = 0; i < ::GetMenuItemCount(handle); ++i) {
    wchar_t text[64] = {};
    ::GetMenuStringW(handle, i, text, 64, MF_BYPOSITION);
    items.push_back(MenuItem{text, ::GetMenuItemID(handle, i)});
  }
  ::PostMessageW(menu, WM_KEYDOWN, VK_DOWN, 0);
  ::PostMessageW(menu, WM_KEYDOWN, VK_RETURN, 0);
  return items;
}

TEST(TrayMenuTest, TheLogFolderItemStandsAboveExitAndOpensTheLogDirectory) {
  SetFakeMonitorDpi(96);
  const fs::path logs = velqa::logging::LogDirectory();
  ASSERT_FALSE(logs.empty());
  std::error_code ignored;
  fs::remove(logs, ignored);  // only when empty: the command creates it
  opened_folders.clear();

  WindowSystem system = WindowSystem::Default();
  system.set_dark_title_bar = [](HWND, bool) {};
  system.open_folder = &RecordOpenedFolder;
  Win32Window window(system);
  ASSERT_TRUE(window.Create(L"Velqa tray menu test", Point{10, 10}, Size{420, 640}));

  std::vector<MenuItem> items;
  std::thread user([&] { items = ReadMenuAndChooseFirst(); });
  // Returns once the menu is closed; the choice arrives as a command.
  ::SendMessageW(window.GetHandle(), kTrayCallbackMessage, kTrayIconId, WM_RBUTTONUP);
  user.join();
  PumpPendingMessages();

  EXPECT_THAT(items, ElementsAre(MenuItem{kTrayOpenLogFolderText, kTrayOpenLogFolderCommand},
                                 MenuItem{kTrayExitText, kTrayExitCommand}));
  EXPECT_THAT(opened_folders, ElementsAre(logs));
  EXPECT_TRUE(fs::is_directory(logs));
}

TEST(CrashDumpTest, OnlyTheNewestDumpsStayAndOtherFilesAreLeftAlone) {
  const fs::path directory =
      fs::temp_directory_path() / ("velqa_dumps_" + std::to_string(::GetCurrentProcessId()));
  fs::create_directories(directory / "velqa_20200101_000000.dmp");  // a directory: not a dump
  const std::set<std::string> dumps = {"velqa_20251231_235959.dmp",   "velqa_20260101_000000.dmp",
                                       "velqa_20260101_000000_1.dmp", "velqa_20260101_000001.dmp",
                                       "velqa_20260102_080000.dmp",   "velqa_20260103_080000.dmp",
                                       "velqa_20260103_080000_1.dmp"};
  // Windows Error Reporting's dumps share the folder and keep their own count.
  const std::set<std::string> others = {"other.dmp", "velqa_20200101.log", "velqa_20200101.dmp.txt",
                                        "velqa_assistant.exe.4242.dmp"};
  for (const std::set<std::string>* names : {&dumps, &others}) {
    for (const std::string& name : *names) std::ofstream(directory / name) << "x";
  }

  velqa::shell::PruneCrashDumps(directory, velqa::shell::kMaxKeptCrashDumps);

  std::set<std::string> left;
  for (const auto& entry : fs::directory_iterator(directory)) {
    left.insert(entry.path().filename().string());
  }
  fs::remove_all(directory);
  EXPECT_THAT(left, ElementsAre("other.dmp", "velqa_20200101.dmp.txt", "velqa_20200101.log",
                                "velqa_20200101_000000.dmp", "velqa_20260101_000000_1.dmp",
                                "velqa_20260101_000001.dmp", "velqa_20260102_080000.dmp",
                                "velqa_20260103_080000.dmp", "velqa_20260103_080000_1.dmp",
                                "velqa_assistant.exe.4242.dmp"));
}

std::string ReadText(const fs::path& path) {
  std::ifstream file(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

struct OwnRuntimeCrash {
  const char* name;
  const wchar_t* kind;
  DWORD code;
};

class OwnRuntimeCrashTest : public ::testing::TestWithParam<OwnRuntimeCrash> {};

// The handlers of the executable's own runtime, which the stand-in engine
// cannot reach: a copy of the probe, with the crash watcher beside it, runs
// in a directory of its own, so its log and dump are the only ones there.
TEST_P(OwnRuntimeCrashTest, WritesTheDumpAndTheRecordAndExitsWithTheCode) {
  wchar_t self[MAX_PATH] = {};
  ::GetModuleFileNameW(nullptr, self, MAX_PATH);
  const fs::path directory =
      fs::temp_directory_path() / ("velqa_probe_" + std::to_string(::GetCurrentProcessId()));
  fs::create_directories(directory);
  const fs::path probe = directory / "crash_probe.exe";
  for (const wchar_t* name : {L"crash_probe.exe", velqa::shell::kCrashWatcherFileName}) {
    fs::copy_file(fs::path(self).parent_path() / name, directory / name,
                  fs::copy_options::overwrite_existing);
  }

  std::wstring command = L"\"" + probe.wstring() + L"\" " + GetParam().kind;
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info{};
  ASSERT_TRUE(::CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                               directory.c_str(), &startup, &info));
  velqa::base::UniqueHandle process(info.hProcess);
  velqa::base::UniqueHandle thread(info.hThread);
  ASSERT_EQ(::WaitForSingleObject(process.get(), 60000), WAIT_OBJECT_0);
  DWORD exit_code = 0;
  ::GetExitCodeProcess(process.get(), &exit_code);

  const std::set<fs::path> dump_files = DumpFiles(directory / "logs");
  const std::vector<fs::path> dumps(dump_files.begin(), dump_files.end());
  fs::path log;
  for (const auto& entry : fs::directory_iterator(directory / "logs")) {
    if (entry.path().extension() == ".log") log = entry.path();
  }
  const std::string log_text = ReadText(log);
  const MinidumpFacts dump = dumps.size() == 1 ? ReadMinidump(dumps[0]) : MinidumpFacts{};
  const std::string dump_name = dumps.size() == 1 ? dumps[0].filename().string() : "";
  // The watcher ends a moment after the probe it reported on, and its file
  // cannot be removed before.
  std::error_code busy;
  for (int tries = 0; fs::remove_all(directory, busy), busy && tries < 100; ++tries) ::Sleep(100);

  EXPECT_EQ(CrashCodeText(exit_code), CrashCodeText(GetParam().code));
  ASSERT_EQ(dumps.size(), 1u);
  EXPECT_TRUE(dump.signature);
  EXPECT_EQ(CrashCodeText(dump.crash_code), CrashCodeText(GetParam().code));
  EXPECT_THAT(dump.threads_with_stack, ::testing::Contains(dump.exception_thread));
  EXPECT_THAT(log_text, ::testing::HasSubstr("[ERROR] [Main] [E] "));
  EXPECT_THAT(log_text, ::testing::HasSubstr(CrashCodeText(GetParam().code)));
  EXPECT_THAT(log_text, ::testing::HasSubstr(dump_name));
}

INSTANTIATE_TEST_SUITE_P(
    Probe, OwnRuntimeCrashTest,
    ::testing::Values(OwnRuntimeCrash{"Terminate", L"terminate", velqa::shell::kTerminateCrashCode},
                      OwnRuntimeCrash{"PureVirtualCall", L"pure-virtual",
                                      velqa::shell::kPureVirtualCallCrashCode},
                      OwnRuntimeCrash{"InvalidParameter", L"invalid-parameter",
                                      velqa::shell::kInvalidParameterCrashCode}),
    [](const ::testing::TestParamInfo<OwnRuntimeCrash>& info) {
      return std::string(info.param.name);
    });

}  // namespace
