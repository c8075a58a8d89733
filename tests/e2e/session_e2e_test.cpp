// A scripted session of the bundled application under Wine, end to end: the
// replies the Dart side gets, the log, the arguments it receives, and where
// the application may be installed or fail to start.
#include <windows.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/scoped_environment_win.h"

#include "tests/e2e/app_test_fixture.h"

namespace velqa::e2e {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;

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

}  // namespace
}  // namespace velqa::e2e
