// The Flutter host window with the stand-in engine (bin\flutter_windows.dll,
// its data files in bin\data) and the stand-in plug-ins.
#include "shell/flutter_window.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "vpn/vpn_manager.h"

namespace {

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
  ::testing::internal::CaptureStdout();
  FlutterWindow window(project, []() -> std::unique_ptr<VpnManager> {
    throw std::runtime_error("no job objects here");
  });
  const bool created = window.Create(kTestTitle, Point{10, 10}, Size{420, 768});
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
  ::testing::internal::CaptureStdout();
  FlutterWindow window(project, []() -> std::unique_ptr<VpnManager> { throw 42; });
  const bool created = window.Create(kTestTitle, Point{10, 10}, Size{420, 768});
  const std::string output = ::testing::internal::GetCapturedStdout();
  ASSERT_TRUE(created);
  EXPECT_THAT(output, HasSubstr("VPN管理器初始化失败: 未知异常\n"));
  EXPECT_FALSE(window.HasVpnManager());
}

TEST(FlutterWindowTest, TheDefaultVpnManagerIsCreated) {
  const flutter::EngineProject project = flutter::EngineProject::FromDataDirectory(L"data");
  FlutterWindow window(project);
  ASSERT_TRUE(window.Create(kTestTitle, Point{10, 10}, Size{420, 768}));
  EXPECT_TRUE(window.HasVpnManager());
}

}  // namespace
