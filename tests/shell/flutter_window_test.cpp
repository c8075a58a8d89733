// The Flutter host window with the stand-in engine (bin\flutter_windows.dll,
// its data files in bin\data) and the stand-in plug-ins.
#include "shell/flutter_window.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "logging/console_output.h"
#include "tests/support/scoped_environment_win.h"
#include "vpn/vpn_manager.h"

namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;

constexpr wchar_t kTestTitle[] = L"Velqa host window test";

// Runs this thread's messages until `condition` holds or `timeout_ms` passes.
template <typename Condition>
bool PumpUntil(Condition condition, DWORD timeout_ms) {
  const ULONGLONG deadline = ::GetTickCount64() + timeout_ms;
  while (!condition()) {
    if (::GetTickCount64() >= deadline) return false;
    MSG message;
    while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      ::TranslateMessage(&message);
      ::DispatchMessageW(&message);
    }
    ::Sleep(10);
  }
  return true;
}

TEST(FlutterWindowTest, WithoutItsEngineTheWindowFailsAndMakesNothingElse) {
  const flutter::EngineProject project = flutter::EngineProject::FromDataDirectory(L"no_such_data");
  int factory_calls = 0;
  FlutterWindow window(project, [&] {
    ++factory_calls;
    return std::unique_ptr<VpnManager>();
  });
  EXPECT_FALSE(window.Create(kTestTitle, Point{10, 10}, Size{420, 768}));
  EXPECT_EQ(factory_calls, 0);
  EXPECT_FALSE(window.HasVpnManager());
  EXPECT_FALSE(PumpUntil([&] { return ::IsWindowVisible(window.GetHandle()) != FALSE; }, 500));
}

TEST(FlutterWindowTest, AFailedVpnManagerIsReportedAndTheWindowRunsWithoutIt) {
  const flutter::EngineProject project = flutter::EngineProject::FromDataDirectory(L"data");
  velqa::logging::ConsoleOutput::Instance().Drain(std::chrono::seconds(10));
  ::testing::internal::CaptureStdout();
  FlutterWindow window(project, []() -> std::unique_ptr<VpnManager> {
    throw std::runtime_error("no job objects here");
  });
  const bool created = window.Create(kTestTitle, Point{10, 10}, Size{420, 768});
  velqa::logging::ConsoleOutput::Instance().Drain(std::chrono::seconds(10));
  const std::string output = ::testing::internal::GetCapturedStdout();
  ASSERT_TRUE(created);
  EXPECT_THAT(output, HasSubstr("VPN管理器初始化失败: no job objects here\n"));
  EXPECT_FALSE(window.HasVpnManager());

  // Shown once the engine has drawn its first frame, with the view inside.
  EXPECT_TRUE(PumpUntil([&] { return ::IsWindowVisible(window.GetHandle()) != FALSE; }, 10000));
  EXPECT_NE(::GetWindow(window.GetHandle(), GW_CHILD), nullptr);
}

TEST(FlutterWindowTest, AnExceptionOfAnyOtherKindIsReportedAsUnknown) {
  const flutter::EngineProject project = flutter::EngineProject::FromDataDirectory(L"data");
  velqa::logging::ConsoleOutput::Instance().Drain(std::chrono::seconds(10));
  ::testing::internal::CaptureStdout();
  FlutterWindow window(project, []() -> std::unique_ptr<VpnManager> { throw 42; });
  const bool created = window.Create(kTestTitle, Point{10, 10}, Size{420, 768});
  velqa::logging::ConsoleOutput::Instance().Drain(std::chrono::seconds(10));
  const std::string output = ::testing::internal::GetCapturedStdout();
  ASSERT_TRUE(created);
  EXPECT_THAT(output, HasSubstr("VPN管理器初始化失败: 未知异常\n"));
  EXPECT_FALSE(window.HasVpnManager());
}

std::vector<std::string> ReadLines(const std::filesystem::path& path) {
  std::ifstream file(path, std::ios::binary);
  std::vector<std::string> lines;
  for (std::string line; std::getline(file, line);) lines.push_back(line);
  return lines;
}

// The text after `prefix` on the first line that starts with it.
std::string AfterPrefix(const std::vector<std::string>& lines, const std::string& prefix) {
  for (const std::string& line : lines) {
    if (line.starts_with(prefix)) return line.substr(prefix.size());
  }
  return "<no line " + prefix + ">";
}

TEST(FlutterWindowTest, EachPlugInIsRegisteredOnceInOrderWithTheRegistrarOfItsName) {
  const std::filesystem::path directory = std::filesystem::temp_directory_path();
  const std::wstring stem = L"velqa_plugins_" + std::to_wstring(::GetCurrentProcessId());
  const std::filesystem::path plugin_log = directory / (stem + L".txt");
  const std::filesystem::path events = directory / (stem + L"_events.txt");
  std::filesystem::remove(plugin_log);
  std::filesystem::remove(events);
  const velqa::test::ScopedEnvironmentVariable log_variable(L"VELQA_PLUGIN_LOG",
                                                            plugin_log.wstring());
  flutter::EngineProject project = flutter::EngineProject::FromDataDirectory(L"data");
  const std::u8string events_utf8 = events.u8string();
  project.entrypoint_arguments = {"--dart-events",
                                  std::string(events_utf8.begin(), events_utf8.end())};
  {
    FlutterWindow window(project);
    ASSERT_TRUE(window.Create(kTestTitle, Point{10, 10}, Size{420, 768}));
  }

  // The registrars the engine gave out, by name, as the plug-ins must get them.
  const std::vector<std::string> engine_events = ReadLines(events);
  const std::string url_launcher = AfterPrefix(engine_events, "registrar UrlLauncherWindows ");
  const std::string webview = AfterPrefix(engine_events, "registrar WebviewWindowsPlugin ");
  EXPECT_NE(url_launcher, webview);
  EXPECT_THAT(ReadLines(plugin_log),
              ElementsAre("UrlLauncherWindows registered with registrar " + url_launcher,
                          "WebviewWindowsPlugin registered with registrar " + webview));
  std::filesystem::remove(plugin_log);
  std::filesystem::remove(events);
}

TEST(FlutterWindowTest, TheDefaultVpnManagerIsCreated) {
  const flutter::EngineProject project = flutter::EngineProject::FromDataDirectory(L"data");
  FlutterWindow window(project);
  ASSERT_TRUE(window.Create(kTestTitle, Point{10, 10}, Size{420, 768}));
  EXPECT_TRUE(window.HasVpnManager());
}

}  // namespace
