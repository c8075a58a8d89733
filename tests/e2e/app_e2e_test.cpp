// End-to-end scenarios of the bundled application under Wine: the real
// velqa_assistant.exe with the stand-in engine, plug-ins, sing-box and WinTun.
// The stand-in engine plays the Dart side from a script and records replies,
// engine events and the arguments it received.
#include <windows.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "base/win_resources_win.h"
#include "shell/app_identity.h"
#include "shell/single_instance.h"
#include "shell/win32_window.h"
#include "tests/e2e/app_process.h"
#include "tests/e2e/session_files.h"
#include "tests/support/process_probe.h"
#include "tests/support/scoped_environment_win.h"
#include "tests/support/standin_config.h"

namespace velqa::e2e {
namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using velqa::testing::IsProcessAlive;
using vpn_test::JsonString;

constexpr DWORD kStartTimeoutMs = 30000;
constexpr DWORD kExitTimeoutMs = 20000;
constexpr wchar_t kSingBoxImage[] = L"sing-box-amd64.exe";

std::string Hex(const std::string& bytes) {
  static const char digits[] = "0123456789abcdef";
  std::string hex;
  for (unsigned char c : bytes) {
    hex += digits[c >> 4];
    hex += digits[c & 15];
  }
  return hex;
}

// Index of the first line at or after `from` containing `text`, or -1.
int FindLine(const std::vector<std::string>& lines, const std::string& text, int from = 0) {
  for (int i = std::max(from, 0); i < static_cast<int>(lines.size()); ++i) {
    if (lines[i].find(text) != std::string::npos) return i;
  }
  return -1;
}

class AppTest : public ::testing::Test {
 protected:
  void SetUp() override {
    bundle_ = BundleDirectory();
    ASSERT_TRUE(fs::exists(bundle_ / L"velqa_assistant.exe")) << Utf8(bundle_);
    // A working directory away from the bundle: the data paths must still be
    // found beside the executable.
    work_ = std::make_unique<TempDirectory>(L"velqa_e2e_");
    // Chinese characters and a blank: paths go through the wide interfaces.
    fs::create_directories(work_->path() / L"配置 目录");
    config_ = work_->path() / L"配置 目录" / L"sing-box.json";
    WriteFileBytes(config_, "{\"log\": {\"level\": \"info\"}}\n");
  }

  fs::path Path(const wchar_t* name) const { return work_->path() / name; }

  // Starts the bundle's application (or `executable`) with these arguments.
  void Start(AppProcess& app, const std::vector<std::wstring>& arguments,
             const fs::path& executable = {}) {
    DWORD error = 0;
    const fs::path exe = executable.empty() ? bundle_ / L"velqa_assistant.exe" : executable;
    ASSERT_TRUE(app.Start(exe, arguments, work_->path(), &error)) << "CreateProcess: " << error;
  }

  // Starts with a Dart script and a replies file; returns the replies path.
  fs::path StartScripted(AppProcess& app, const std::string& script,
                         std::vector<std::wstring> extra = {}) {
    const fs::path script_path = Path(L"session.dart-script");
    const fs::path replies = Path(L"replies.txt");
    WriteFileBytes(script_path, script);
    std::vector<std::wstring> arguments = {L"--dart-script",  script_path.wstring(),
                                           L"--dart-replies", replies.wstring(),
                                           L"--dart-events",  Path(L"events.txt").wstring()};
    arguments.insert(arguments.end(), extra.begin(), extra.end());
    Start(app, arguments);
    return replies;
  }

  HWND WaitForVisibleWindow(const AppProcess& app) {
    HWND window = nullptr;
    WaitFor(
        [&] {
          window = FindAppWindow(app.pid());
          return window != nullptr && ::IsWindowVisible(window);
        },
        kStartTimeoutMs);
    return window != nullptr && ::IsWindowVisible(window) ? window : nullptr;
  }

  // The notice that a second copy `app` shows when it is turned away, or
  // null when none of its own appears.
  HWND WaitForNotice(const AppProcess& app) {
    HWND notice = nullptr;
    WaitFor([&] { return (notice = ::FindWindowW(L"#32770", kAlreadyRunningCaption)) != nullptr; },
            kStartTimeoutMs);
    DWORD owner = 0;
    if (notice != nullptr) ::GetWindowThreadProcessId(notice, &owner);
    return owner == app.pid() ? notice : nullptr;
  }

  std::vector<ReplyLine> WaitForReplies(const fs::path& replies, size_t count) {
    WaitFor([&] { return ReadReplies(replies).size() >= count; }, kStartTimeoutMs);
    return ReadReplies(replies);
  }

  // Copies the bundle (without its logs) to `target`.
  void CopyBundle(const fs::path& target, bool with_flutter_assets = true) const {
    for (const auto& entry : fs::recursive_directory_iterator(bundle_)) {
      const fs::path relative = fs::relative(entry.path(), bundle_);
      const std::wstring text = relative.wstring();
      const bool assets =
          text == L"data\\flutter_assets" || text.starts_with(L"data\\flutter_assets\\");
      if (text == L"logs" || text.starts_with(L"logs\\") || (assets && !with_flutter_assets)) {
        continue;
      }
      if (entry.is_directory()) {
        fs::create_directories(target / relative);
      } else {
        fs::create_directories((target / relative).parent_path());
        fs::copy_file(entry.path(), target / relative);
      }
    }
  }

  std::string StartVpnCall() const {
    return "call start_vpn {\"config_path\": " + JsonString(Utf8(config_)) + "}\n";
  }

  fs::path bundle_;
  std::unique_ptr<TempDirectory> work_;
  fs::path config_;
};

TEST_F(AppTest, AScriptedSessionGetsTheDocumentedRepliesAndTheLogRecordsThemInOrder) {
  LogWatch log(bundle_);
  AppProcess app;
  const fs::path replies =
      StartScripted(app,
                    "call check_tun_driver\n"
                    "call install_wintun_driver\n"
                    "call start_vpn\n"
                    "call start_vpn {\"config_path\": 5}\n"
                    "call start_vpn {\"other\": \"x\"}\n"
                    "call start_vpn {\"config_path\": \"C:\\\\velqa\\\\missing.json\"}\n" +
                        StartVpnCall() +
                        "call get_vpn_status\n"
                        "call stop_vpn\n"
                        "call stop_vpn\n"
                        "call Start_vpn\n"
                        "exit\n");
  const std::optional<DWORD> exit_code = app.WaitForExit(60000);
  ASSERT_EQ(exit_code, std::optional<DWORD>(0)) << app.Output();

  const std::vector<ReplyLine> lines = ReadReplies(replies);
  ASSERT_EQ(lines.size(), 11u) << ReadFileBytes(replies);
  const auto success = [&](size_t i, const std::string& method, const std::string& value) {
    EXPECT_EQ(lines[i].method, method) << i;
    EXPECT_EQ(lines[i].reply.kind, Reply::Kind::kSuccess) << i << " " << lines[i].hex;
    EXPECT_EQ(lines[i].reply.value, value) << i;
  };
  const auto error = [&](size_t i, const std::string& code, const std::string& message) {
    EXPECT_EQ(lines[i].method, "start_vpn") << i;
    EXPECT_EQ(lines[i].reply.kind, Reply::Kind::kError) << i << " " << lines[i].hex;
    EXPECT_EQ(lines[i].reply.code, code) << i;
    EXPECT_EQ(lines[i].reply.message, message) << i;
    EXPECT_FALSE(lines[i].reply.has_details) << i;
  };
  success(0, "check_tun_driver", "true");
  success(1, "install_wintun_driver", "true");
  error(2, "INVALID_ARGUMENTS", "Arguments must be a map");
  error(3, "INVALID_ARGUMENTS", "config_path must be a string");
  error(4, "INVALID_ARGUMENTS", "Missing config_path argument");
  error(5, "CONFIG_NOT_FOUND", "Configuration file not found");
  success(6, "start_vpn", "null");
  success(7, "get_vpn_status", "true");
  success(8, "stop_vpn", "null");
  success(9, "stop_vpn", "null");
  EXPECT_EQ(lines[10].method, "Start_vpn");
  EXPECT_EQ(lines[10].reply.kind, Reply::Kind::kNotImplemented) << lines[10].hex;

  // The log holds this run's records in the order they happened; after the
  // logger's own set-up records, the entry's start record comes first.
  std::vector<std::string> records = log.NewRecords();
  std::erase_if(records, [](const std::string& record) {
    return record.find("[NativeLogger]") != std::string::npos;
  });
  ASSERT_FALSE(records.empty()) << Utf8(log.File());
  EXPECT_THAT(records.front(), HasSubstr("[Main]"));
  EXPECT_THAT(records.front(), HasSubstr("应用启动"));
  // Then what support needs first, the version from the executable's record.
  ASSERT_GE(records.size(), 2u);
  EXPECT_THAT(records[1], ::testing::MatchesRegex(
                              ".*\\[INFO\\] \\[Main\\] \\[I\\] 启动信息: 版本 " VELQA_VERSION
                              ", Windows \\d+\\.\\d+\\.\\d+\\.?\\d*, 系统架构 x64, "
                              "进程架构 x64, 安装目录 .*, 管理员权限 是"));
  EXPECT_THAT(records[1], HasSubstr("安装目录 " + Utf8(bundle_) + ", "));
  int at = 0;
  for (const char* expected :
       {"HandleCheckTunDriverMethod called", "Checking TUN driver availability...",
        "HandleInstallWinTunDriverMethod called", "HandleStartVpnMethod called",
        "HandleStartVpnMethod called", "HandleStopVpnMethod called",
        "HandleStopVpnMethod called"}) {
    const int found = FindLine(records, expected, at);
    ASSERT_GE(found, 0) << "missing after line " << at << ": " << expected;
    at = found + 1;
  }
  // Redirected standard output kept working: the records reached our pipe.
  EXPECT_TRUE(app.WaitForOutput("应用启动", 5000)) << app.Output();

  // The plug-ins were registered in their order before anything was drawn.
  const std::vector<std::string> events = SplitLines(ReadFileBytes(Path(L"events.txt")));
  const int url_launcher = FindLine(events, "registrar UrlLauncherWindows");
  const int webview = FindLine(events, "registrar WebviewWindowsPlugin");
  ASSERT_GE(url_launcher, 0) << ReadFileBytes(Path(L"events.txt"));
  EXPECT_GT(webview, url_launcher);
}

TEST_F(AppTest, WithoutFlutterAssetsTheStartFailsWithExitCodeOneAndFreesTheSingleInstance) {
  // A copy of the bundle without data\flutter_assets: the engine cannot start.
  const fs::path broken = Path(L"broken bundle");
  CopyBundle(broken, /*with_flutter_assets=*/false);
  ASSERT_FALSE(fs::exists(broken / L"data" / L"flutter_assets"));

  // The stand-in plug-ins note every registration in this file, so it exists
  // only when a registration happened.
  const fs::path plugin_log = Path(L"plugins.txt");
  const test::ScopedEnvironmentVariable log_variable(L"VELQA_PLUGIN_LOG", plugin_log.wstring());

  AppProcess failing;
  Start(failing, {L"--dart-events", Path(L"broken-events.txt").wstring()},
        broken / L"velqa_assistant.exe");
  bool window_seen = false;
  std::optional<DWORD> exit_code;
  WaitFor(
      [&] {
        HWND window = FindAppWindow(failing.pid());
        if (window != nullptr && ::IsWindowVisible(window)) window_seen = true;
        exit_code = failing.WaitForExit(0);
        return exit_code.has_value();
      },
      kExitTimeoutMs);
  EXPECT_EQ(exit_code, std::optional<DWORD>(1)) << failing.Output();
  EXPECT_FALSE(window_seen);
  EXPECT_THAT(ReadFileBytes(Path(L"broken-events.txt")), ::testing::Not(HasSubstr("registrar")));
  EXPECT_FALSE(fs::exists(plugin_log)) << ReadFileBytes(plugin_log);

  // The mutex went with the failed start: a new copy runs at once.
  AppProcess next;
  const fs::path replies = StartScripted(next, "call get_vpn_status\nexit\n");
  EXPECT_EQ(next.WaitForExit(kStartTimeoutMs), std::optional<DWORD>(0)) << next.Output();
  EXPECT_EQ(ReadReplies(replies).size(), 1u);
  // The same file shows the registrations of a start that gets that far.
  EXPECT_THAT(SplitLines(ReadFileBytes(plugin_log)),
              ElementsAre(HasSubstr("UrlLauncherWindows registered with registrar"),
                          HasSubstr("WebviewWindowsPlugin registered with registrar")));
}

TEST_F(AppTest, RunsFromAnInstallDirectoryWithChineseCharacters) {
  const fs::path installed = Path(L"安装 目录");
  CopyBundle(installed);
  const fs::path script = Path(L"session.dart-script");
  const fs::path replies = Path(L"replies.txt");
  WriteFileBytes(script, "call check_tun_driver\n" + StartVpnCall() +
                             "call get_vpn_status\ncall stop_vpn\nexit\n");
  AppProcess app;
  Start(app, {L"--dart-script", script.wstring(), L"--dart-replies", replies.wstring()},
        installed / L"velqa_assistant.exe");
  ASSERT_EQ(app.WaitForExit(60000), std::optional<DWORD>(0)) << app.Output();

  const std::vector<ReplyLine> lines = ReadReplies(replies);
  ASSERT_EQ(lines.size(), 4u) << ReadFileBytes(replies);
  EXPECT_EQ(lines[0].reply.value, "true");  // WinTun found beside the executable
  EXPECT_EQ(lines[1].reply.kind, Reply::Kind::kSuccess) << lines[1].hex;  // sing-box found
  EXPECT_EQ(lines[2].reply.value, "true");
  EXPECT_EQ(lines[3].reply.value, "null");
  // The log lives beside the executable (a fresh folder: all of it is ours).
  const fs::path log_file = LogWatch(installed).File();
  ASSERT_FALSE(log_file.empty());
  EXPECT_THAT(ReadFileBytes(log_file), HasSubstr("应用启动"));
}

enum class FirstWindowState { kShown, kMinimised, kHiddenToTray };

// A visible top-level window of the test made the foreground window, and
// destroyed again.
class ForegroundWindowOfTheTest {
 public:
  ForegroundWindowOfTheTest()
      : window_(::CreateWindowExW(0, L"STATIC", L"velqa e2e foreground", WS_OVERLAPPEDWINDOW, 600,
                                  100, 200, 100, nullptr, nullptr, nullptr, nullptr)) {
    ::ShowWindow(window_.get(), SW_SHOW);
    ::SetForegroundWindow(window_.get());
  }

  bool IsForeground() const { return window_ && ::GetForegroundWindow() == window_.get(); }

 private:
  base::UniqueWindow window_;
};

class SecondCopyTest : public AppTest, public ::testing::WithParamInterface<FirstWindowState> {};

TEST_P(SecondCopyTest, BringsTheFirstForwardShowsTheNoticeAndLeavesTheFirstRunning) {
  AppProcess first;
  // The stand-in engine records the first window's activations there.
  const fs::path first_events = Path(L"first-events.txt");
  Start(first, {L"--dart-events", first_events.wstring()});
  HWND window = WaitForVisibleWindow(first);
  ASSERT_NE(window, nullptr) << first.Output();
  if (GetParam() == FirstWindowState::kMinimised) {
    ::ShowWindow(window, SW_MINIMIZE);
    ASSERT_TRUE(WaitFor([&] { return ::IsIconic(window) != FALSE; }, 5000));
  } else if (GetParam() == FirstWindowState::kHiddenToTray) {
    ::PostMessageW(window, WM_CLOSE, 0, 0);
    ASSERT_TRUE(WaitFor([&] { return !::IsWindowVisible(window); }, 5000));
  }
  // Another window has the foreground when the second copy starts, so that
  // bringing the first window forward is a change that can be seen.
  ForegroundWindowOfTheTest other;
  ASSERT_TRUE(other.IsForeground());
  const auto activations = [&] {
    const std::vector<std::string> events = SplitLines(ReadFileBytes(first_events));
    return std::count(events.begin(), events.end(), "window activated");
  };
  const auto activations_before = activations();

  LogWatch log(bundle_);
  AppProcess second;
  Start(second, {});
  HWND notice = WaitForNotice(second);
  ASSERT_NE(notice, nullptr) << second.Output();
  // The second copy never gets a window of its own.
  EXPECT_EQ(FindAppWindow(second.pid()), nullptr);
  // The notice is in front of the window just brought forward.
  EXPECT_TRUE(WaitFor([&] { return ::GetForegroundWindow() == notice; }, 5000));

  // The first window was made the foreground window (before the notice took
  // it over), restored when minimised, and shown only if it was visible.
  EXPECT_TRUE(WaitFor([&] { return activations() > activations_before; }, 5000))
      << ReadFileBytes(first_events);
  EXPECT_TRUE(WaitFor([&] { return !::IsIconic(window); }, 5000)) << "not restored";
  EXPECT_EQ(::IsWindowVisible(window) != FALSE, GetParam() != FirstWindowState::kHiddenToTray)
      << "only the tray icon shows a hidden window again";

  ::PostMessageW(notice, WM_COMMAND, IDOK, 0);
  EXPECT_EQ(second.WaitForExit(kExitTimeoutMs), std::optional<DWORD>(0));
  // The second copy logged its start and nothing else.
  std::vector<std::string> records = log.NewRecords();
  std::erase_if(records, [](const std::string& record) {
    return record.find("[NativeLogger]") != std::string::npos;
  });
  ASSERT_EQ(records.size(), 1u);
  EXPECT_THAT(records[0], HasSubstr("应用启动"));
  EXPECT_TRUE(first.IsRunning());
  EXPECT_EQ(FindAppWindow(first.pid()), window);

  ::PostMessageW(window, WM_COMMAND, kTrayExitCommand, 0);
  EXPECT_EQ(first.WaitForExit(kExitTimeoutMs), std::optional<DWORD>(0));
}

INSTANTIATE_TEST_SUITE_P(FirstCopy, SecondCopyTest,
                         ::testing::Values(FirstWindowState::kShown, FirstWindowState::kMinimised,
                                           FirstWindowState::kHiddenToTray),
                         [](const ::testing::TestParamInfo<FirstWindowState>& info) {
                           switch (info.param) {
                             case FirstWindowState::kShown:
                               return std::string("Shown");
                             case FirstWindowState::kMinimised:
                               return std::string("Minimised");
                             case FirstWindowState::kHiddenToTray:
                               break;
                           }
                           return std::string("HiddenToTray");
                         });

TEST_F(AppTest, CommandLineArgumentsReachTheDartSideInOrderAsUtf8) {
  const fs::path script = Path(L"exit.dart-script");
  const fs::path args_out = Path(L"arguments.txt");
  WriteFileBytes(script, "exit\n");
  AppProcess app;
  Start(app, {L"--dart-script", script.wstring(), L"--dart-args-out", args_out.wstring(), L"a",
              L"b c", L"\u00fc", L"x\xD800y", L"", L"电商"});
  ASSERT_EQ(app.WaitForExit(kStartTimeoutMs), std::optional<DWORD>(0)) << app.Output();

  EXPECT_THAT(SplitLines(ReadFileBytes(args_out)),
              ElementsAre(Hex("--dart-script"), Hex(Utf8(script)), Hex("--dart-args-out"),
                          Hex(Utf8(args_out)), Hex("a"), Hex("b c"), "c3bc",
                          "",  // the unpaired surrogate
                          "", Hex("电商")));
}

TEST_F(AppTest, CloseHidesToTheTrayTheIconShowsItAndTheTrayMenuExitEndsEverything) {
  AppProcess app;
  const fs::path replies = StartScripted(app, StartVpnCall() + "sleep 120000\n");
  HWND window = WaitForVisibleWindow(app);
  ASSERT_NE(window, nullptr) << app.Output();
  const std::vector<ReplyLine> started = WaitForReplies(replies, 1);
  ASSERT_EQ(started.size(), 1u) << app.Output();
  ASSERT_EQ(started[0].reply.kind, Reply::Kind::kSuccess) << started[0].hex;
  const std::vector<DWORD> sing_box = ChildProcesses(app.pid(), kSingBoxImage);
  ASSERT_EQ(sing_box.size(), 1u);

  // The window's close button: hidden, still running.
  ::PostMessageW(window, WM_CLOSE, 0, 0);
  ASSERT_TRUE(WaitFor([&] { return !::IsWindowVisible(window); }, 5000));
  EXPECT_TRUE(app.IsRunning());

  // What the shell sends for a left click on the icon.
  ::PostMessageW(window, kTrayCallbackMessage, kTrayIconId, WM_LBUTTONUP);
  EXPECT_TRUE(WaitFor([&] { return ::IsWindowVisible(window) != FALSE; }, 5000));

  // A right click opens the real menu; choose its last item, Exit, with the
  // keyboard.
  ::PostMessageW(window, kTrayCallbackMessage, kTrayIconId, WM_RBUTTONUP);
  HWND menu = nullptr;
  ASSERT_TRUE(WaitFor(
      [&] {
        menu = ::FindWindowW(L"#32768", nullptr);
        return menu != nullptr && ::IsWindowVisible(menu);
      },
      5000));
  ::PostMessageW(menu, WM_KEYDOWN, VK_DOWN, 0);
  ::PostMessageW(menu, WM_KEYDOWN, VK_DOWN, 0);
  ::PostMessageW(menu, WM_KEYDOWN, VK_RETURN, 0);

  EXPECT_EQ(app.WaitForExit(kExitTimeoutMs), std::optional<DWORD>(0)) << app.Output();
  EXPECT_TRUE(WaitFor([&] { return !IsProcessAlive(sing_box[0]); }, 5000)) << "sing-box left";
}

TEST_F(AppTest, TheWindowKeepsItsOuterSizeAndTheFontsFollowTheSystem) {
  AppProcess app;
  StartScripted(app, "sleep 120000\n");
  HWND window = WaitForVisibleWindow(app);
  ASSERT_NE(window, nullptr) << app.Output();

  wchar_t title[64] = {};
  ::GetWindowTextW(window, title, 64);
  EXPECT_STREQ(title, kApplicationTitle);
  RECT before{};
  ::GetWindowRect(window, &before);
  // Wine reports 96 dpi: the logical geometry unscaled.
  EXPECT_EQ(before.left, 10);
  EXPECT_EQ(before.top, 10);
  EXPECT_EQ(before.right - before.left, 420);
  EXPECT_EQ(before.bottom - before.top, 768);

  ::SetWindowPos(window, nullptr, 0, 0, 900, 400, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  RECT after{};
  ::GetWindowRect(window, &after);
  EXPECT_EQ(after.right - after.left, 420);
  EXPECT_EQ(after.bottom - after.top, 768);

  // The view fills the client area.
  HWND view = ::GetWindow(window, GW_CHILD);
  ASSERT_NE(view, nullptr);
  RECT client{};
  RECT view_rect{};
  ::GetClientRect(window, &client);
  ::GetClientRect(view, &view_rect);
  EXPECT_EQ(view_rect.right, client.right);
  EXPECT_EQ(view_rect.bottom, client.bottom);

  ::PostMessageW(window, WM_FONTCHANGE, 0, 0);
  EXPECT_TRUE(WaitFor(
      [&] {
        return ReadFileBytes(Path(L"events.txt")).find("fonts reloaded") != std::string::npos;
      },
      5000));

  ::PostMessageW(window, WM_COMMAND, kTrayExitCommand, 0);
  EXPECT_EQ(app.WaitForExit(kExitTimeoutMs), std::optional<DWORD>(0));
}

TEST_F(AppTest, ACopyStartedWhileTheFirstExitsDoesNotStartBesideTheFirstsSingBox) {
  AppProcess first;
  // The first copy's engine takes 8 s to shut down, so its exit lasts.
  const fs::path replies =
      StartScripted(first, StartVpnCall() + "sleep 120000\n", {L"--dart-shutdown-ms", L"8000"});
  HWND window = WaitForVisibleWindow(first);
  ASSERT_NE(window, nullptr) << first.Output();
  const std::vector<ReplyLine> started = WaitForReplies(replies, 1);
  ASSERT_EQ(started.size(), 1u) << first.Output();
  ASSERT_EQ(started[0].reply.kind, Reply::Kind::kSuccess) << started[0].hex;
  const std::vector<DWORD> sing_box = ChildProcesses(first.pid(), kSingBoxImage);
  ASSERT_EQ(sing_box.size(), 1u);

  ::PostMessageW(window, WM_COMMAND, kTrayExitCommand, 0);
  AppProcess second;
  Start(second, {});
  // Still the first copy's turn: the second is turned away.
  HWND notice = WaitForNotice(second);
  ASSERT_NE(notice, nullptr) << second.Output();
  EXPECT_TRUE(first.IsRunning());
  EXPECT_TRUE(ChildProcesses(second.pid(), kSingBoxImage).empty());
  ::PostMessageW(notice, WM_COMMAND, IDOK, 0);
  EXPECT_EQ(second.WaitForExit(kExitTimeoutMs), std::optional<DWORD>(0));

  EXPECT_EQ(first.WaitForExit(kExitTimeoutMs), std::optional<DWORD>(0)) << first.Output();
  EXPECT_FALSE(IsProcessAlive(sing_box[0]));
}

TEST_F(AppTest, KillingTheApplicationHardEndsItsSingBox) {
  AppProcess app;
  const fs::path replies = StartScripted(app, StartVpnCall() + "sleep 120000\n");
  const std::vector<ReplyLine> started = WaitForReplies(replies, 1);
  ASSERT_EQ(started.size(), 1u) << app.Output();
  ASSERT_EQ(started[0].reply.kind, Reply::Kind::kSuccess) << started[0].hex;
  const std::vector<DWORD> sing_box = ChildProcesses(app.pid(), kSingBoxImage);
  ASSERT_EQ(sing_box.size(), 1u);

  ::TerminateProcess(app.handle(), 9);
  ASSERT_EQ(app.WaitForExit(kExitTimeoutMs), std::optional<DWORD>(9));
  EXPECT_TRUE(WaitFor([&] { return !IsProcessAlive(sing_box[0]); }, 10000)) << "sing-box left";
}

}  // namespace
}  // namespace velqa::e2e
