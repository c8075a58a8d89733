// The stand-in flutter_windows.dll, loaded as the host loads it, driven
// through the real wrappers (FlutterViewController, BinaryMessengerImpl):
// engine creation rules, the scripted Dart side, frames and shutdown.
#include <windows.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <variant>
#include <vector>

#include "base/win_resources_win.h"
#include "channel/embedding_api.h"
#include "channel/encodable_value.h"
#include "channel/flutter_view_controller.h"
#include "channel/standard_method_codec.h"

namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

constexpr char kVpnChannel[] = "com.velqa.assistant/vpn_process";

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::stringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::string Utf8(const fs::path& path) {
  std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

// Stands for the host's top-level window: it receives the tray exit command
// and close requests the scripted Dart side sends.
class HostWindow {
 public:
  HostWindow() {
    static const bool registered = [] {
      WNDCLASSW window_class{};
      window_class.lpfnWndProc = &HostWindow::Proc;
      window_class.hInstance = GetModuleHandleW(nullptr);
      window_class.lpszClassName = L"VelqaStandinTestHost";
      return RegisterClassW(&window_class) != 0;
    }();
    (void)registered;
    window_.Reset(CreateWindowExW(0, L"VelqaStandinTestHost", L"host", WS_OVERLAPPEDWINDOW, 0, 0,
                                  420, 768, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr));
    SetWindowLongPtrW(window_.get(), GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  }

  HWND window() const { return window_.get(); }
  std::vector<std::string> received;

  // Runs the thread's message loop until `done` or the time is up.
  template <typename Done>
  bool PumpUntil(Done done, std::chrono::milliseconds limit = std::chrono::seconds(20)) {
    auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done()) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
      MSG message;
      while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
      }
    }
    return true;
  }

 private:
  static LRESULT CALLBACK Proc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
    auto* self = reinterpret_cast<HostWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (self != nullptr && message == WM_COMMAND && LOWORD(wparam) == 1001) {
      self->received.push_back("exit");
      return 0;
    }
    if (self != nullptr && message == WM_CLOSE) {
      self->received.push_back("close");
      return 0;
    }
    return DefWindowProcW(hwnd, message, wparam, lparam);
  }

  velqa::base::UniqueWindow window_;
};

class StandinEngineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    dir_ = fs::path(temp) / (L"velqa_standin_\x00fc_" + std::to_wstring(GetCurrentProcessId()) +
                             L"_" + fs::path(info->name()).wstring());
    fs::remove_all(dir_);
    fs::create_directories(dir_ / "data" / "flutter_assets");
    std::ofstream(dir_ / "data" / "icudtl.dat") << "icu";
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }

  flutter::EngineProject Project(std::vector<std::string> arguments = {}) {
    flutter::EngineProject project =
        flutter::EngineProject::FromDataDirectory((dir_ / "data").wstring());
    project.entrypoint_arguments = std::move(arguments);
    return project;
  }

  void WriteScript(const std::string& text) { std::ofstream(dir_ / "script.txt") << text; }

  // The project of an engine whose Dart side plays `script`.
  flutter::EngineProject ScriptedProject(const std::string& script) {
    WriteScript(script);
    return Project(DartArguments());
  }

  std::vector<std::string> DartArguments() {
    return {"--dart-script",  Utf8(dir_ / "script.txt"),
            "--dart-replies", Utf8(dir_ / "replies.txt"),
            "--dart-events",  Utf8(dir_ / "events.txt")};
  }

  fs::path dir_;
};

FlutterDesktopEngineRef CreateEngine(const flutter::EngineProject& project) {
  FlutterDesktopEngineProperties properties{};
  properties.assets_path = project.assets_path.c_str();
  properties.icu_data_path = project.icu_data_path.c_str();
  properties.aot_library_path = project.aot_library_path.c_str();
  properties.dart_entrypoint = "";
  return FlutterDesktopEngineCreate(&properties);
}

TEST_F(StandinEngineTest, EngineNeedsItsAssetsAndIcuData) {
  FlutterDesktopEngineRef engine = CreateEngine(Project());
  ASSERT_NE(engine, nullptr);
  EXPECT_TRUE(FlutterDesktopEngineDestroy(engine));

  fs::remove(dir_ / "data" / "icudtl.dat");
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(CreateEngine(Project()), nullptr);
  EXPECT_THAT(::testing::internal::GetCapturedStderr(), HasSubstr("ICU data not found"));

  std::ofstream(dir_ / "data" / "icudtl.dat") << "icu";
  fs::remove_all(dir_ / "data" / "flutter_assets");
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(CreateEngine(Project()), nullptr);
  EXPECT_THAT(::testing::internal::GetCapturedStderr(), HasSubstr("assets directory not found"));
}

TEST_F(StandinEngineTest, RelativePathsCountFromTheExecutable) {
  // The build puts data\flutter_assets and data\icudtl.dat beside the tests.
  flutter::EngineProject project = flutter::EngineProject::FromDataDirectory(L"data");
  wchar_t elsewhere[MAX_PATH];
  GetTempPathW(MAX_PATH, elsewhere);
  fs::path before = fs::current_path();
  fs::current_path(elsewhere);
  FlutterDesktopEngineRef engine = CreateEngine(project);
  fs::current_path(before);
  ASSERT_NE(engine, nullptr);
  FlutterDesktopEngineDestroy(engine);
}

TEST_F(StandinEngineTest, FailedEngineLeavesTheWrapperWithoutAView) {
  fs::remove_all(dir_ / "data");
  ::testing::internal::CaptureStderr();
  flutter::FlutterViewController controller(100, 100, Project());
  std::string errors = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(controller.view(), nullptr);
  EXPECT_THAT(errors, HasSubstr("Failed to create view controller."));
}

// The whole road: script -> messenger -> host handler (answering at once,
// from another thread, or not at all) -> replies file; frame callback,
// argument record and the exit command to the top-level window.
TEST_F(StandinEngineTest, ScriptedDartSideTalksToTheHost) {
  WriteScript(
      "# the host's channel\n"
      "call echo {\"config_path\": \"C:\\\\\xE9\x85\x8D\xE7\xBD\xAE.json\", \"n\": 3000000000}\n"
      "call later\n"
      "raw bogus 0305000000\n"
      "call nope\n"
      "sleep 20\n"
      "exit\n");
  std::vector<std::string> arguments = DartArguments();
  arguments.insert(arguments.end(),
                   {"--dart-args-out", Utf8(dir_ / "args.txt"), "a b", "\xC3\xBC", ""});
  HostWindow host;
  std::vector<std::thread> repliers;
  {
    flutter::FlutterViewController controller(400, 600, Project(arguments));
    ASSERT_NE(controller.view(), nullptr);
    HWND view = controller.view()->GetNativeWindow();
    ASSERT_TRUE(IsWindow(view));
    RECT size{};
    GetClientRect(view, &size);
    EXPECT_EQ(size.right, 400);
    EXPECT_EQ(size.bottom, 600);
    SetParent(view, host.window());

    const auto& codec = flutter::StandardMethodCodec::GetInstance();
    controller.engine()->messenger()->SetMessageHandler(
        kVpnChannel, [&](const uint8_t* bytes, size_t size, flutter::BinaryReply reply) {
          auto call = codec.DecodeMethodCall(bytes, size);
          if (call == nullptr || call->method_name() == "nope") {
            reply(nullptr, 0);
          } else if (call->method_name() == "later") {
            repliers.emplace_back([reply, &codec] {
              flutter::EncodableValue value(true);
              auto answer = codec.EncodeSuccessEnvelope(&value);
              reply(answer->data(), answer->size());
            });
          } else {
            auto answer = codec.EncodeSuccessEnvelope(call->arguments());
            reply(answer->data(), answer->size());
          }
        });
    DWORD frame_thread = 0;
    int frames = 0;
    controller.engine()->SetNextFrameCallback([&] {
      ++frames;
      frame_thread = GetCurrentThreadId();
    });
    controller.ForceRedraw();

    ASSERT_TRUE(host.PumpUntil([&] { return !host.received.empty(); }))
        << ReadFile(dir_ / "events.txt");
    EXPECT_EQ(frames, 1);
    EXPECT_EQ(frame_thread, GetCurrentThreadId());
    // A later frame does not call it again.
    controller.ForceRedraw();
    host.PumpUntil([] { return false; }, std::chrono::milliseconds(100));
    EXPECT_EQ(frames, 1);
  }
  for (auto& thread : repliers) thread.join();

  EXPECT_THAT(host.received, ElementsAre("exit"));
  std::vector<std::string> replies = Lines(ReadFile(dir_ / "replies.txt"));
  ASSERT_EQ(replies.size(), 4u);
  EXPECT_THAT(replies[0], HasSubstr("echo\t000d02"));
  EXPECT_THAT(replies[0],
              HasSubstr("\tsuccess {\"config_path\":\"C:\\\\\xE9\x85\x8D\xE7\xBD\xAE.json\","
                        "\"n\":3000000000}"));
  EXPECT_EQ(replies[1], "later\t0001\tsuccess true");
  EXPECT_EQ(replies[2], "bogus\t\tnot implemented");
  EXPECT_EQ(replies[3], "nope\t\tnot implemented");

  std::vector<std::string> args = Lines(ReadFile(dir_ / "args.txt"));
  ASSERT_EQ(args.size(), arguments.size());
  EXPECT_EQ(args[0], "2d2d646172742d736372697074");  // --dart-script
  EXPECT_EQ(args[args.size() - 3], "612062");
  EXPECT_EQ(args[args.size() - 2], "c3bc");
  EXPECT_EQ(args.back(), "");

  std::string events = ReadFile(dir_ / "events.txt");
  EXPECT_THAT(events, HasSubstr("engine running 400x600\nframe 1\nnext-frame callback\n"
                                "script started\n"));
  EXPECT_THAT(events, HasSubstr("exit sent\nscript done\n"));
  EXPECT_THAT(events, HasSubstr("engine destroyed"));
}

TEST_F(StandinEngineTest, CloseGoesToTheTopLevelWindow) {
  HostWindow host;
  flutter::FlutterViewController controller(200, 300, ScriptedProject("close\n"));
  ASSERT_NE(controller.view(), nullptr);
  SetParent(controller.view()->GetNativeWindow(), host.window());
  ASSERT_TRUE(host.PumpUntil([&] { return !host.received.empty(); }));
  EXPECT_THAT(host.received, ElementsAre("close"));
}

TEST_F(StandinEngineTest, RepliesAfterTheEngineEndedAreDropped) {
  WriteScript("call hold\n");
  HostWindow host;
  flutter::BinaryReply kept;
  {
    flutter::FlutterViewController controller(200, 300, Project(DartArguments()));
    ASSERT_NE(controller.view(), nullptr);
    controller.engine()->messenger()->SetMessageHandler(
        kVpnChannel,
        [&](const uint8_t*, size_t, flutter::BinaryReply reply) { kept = std::move(reply); });
    ASSERT_TRUE(host.PumpUntil([&] { return static_cast<bool>(kept); }));
  }
  ::testing::internal::CaptureStderr();
  kept(nullptr, 0);  // the messenger object is still valid, the engine is not
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
  kept = nullptr;
  EXPECT_FALSE(fs::exists(dir_ / "replies.txt"));
}

TEST_F(StandinEngineTest, RejectedScriptSendsNothing) {
  HostWindow host;
  flutter::FlutterViewController controller(200, 300, ScriptedProject("call ok\nfly away\n"));
  ASSERT_NE(controller.view(), nullptr);
  ASSERT_TRUE(host.PumpUntil(
      [&] { return ReadFile(dir_ / "events.txt").find("script rejected") != std::string::npos; }));
  EXPECT_THAT(ReadFile(dir_ / "events.txt"), HasSubstr("line 2: unknown command 'fly'"));
  EXPECT_FALSE(fs::exists(dir_ / "replies.txt"));
}

TEST_F(StandinEngineTest, PanelButtonsSendTheirCalls) {
  HostWindow host;
  flutter::FlutterViewController controller(
      420, 700, ScriptedProject("# nothing scripted: only the buttons\n"));
  ASSERT_NE(controller.view(), nullptr);
  HWND view = controller.view()->GetNativeWindow();
  std::vector<std::string> calls;
  const auto& codec = flutter::StandardMethodCodec::GetInstance();
  controller.engine()->messenger()->SetMessageHandler(
      kVpnChannel, [&](const uint8_t* bytes, size_t size, flutter::BinaryReply reply) {
        auto call = codec.DecodeMethodCall(bytes, size);
        ASSERT_NE(call, nullptr);
        const auto* arguments = std::get_if<flutter::EncodableMap>(call->arguments());
        std::string path;
        if (arguments != nullptr) {
          path = std::get<std::string>(arguments->at(flutter::EncodableValue("config_path")));
        }
        calls.push_back(call->method_name() + " " + path);
        flutter::EncodableValue answer(false);
        auto envelope = codec.EncodeSuccessEnvelope(&answer);
        reply(envelope->data(), envelope->size());
      });

  HWND edit = FindWindowExW(view, nullptr, L"EDIT", nullptr);
  ASSERT_NE(edit, nullptr);
  SetWindowTextW(edit, L"D:\\\x914d\x7f6e.json");
  for (const wchar_t* method : {L"start_vpn", L"get_vpn_status"}) {
    HWND button = FindWindowExW(view, nullptr, L"BUTTON", method);
    ASSERT_NE(button, nullptr);
    SendMessageW(button, BM_CLICK, 0, 0);
  }
  ASSERT_TRUE(host.PumpUntil([&] { return Lines(ReadFile(dir_ / "replies.txt")).size() == 2; }));
  EXPECT_THAT(calls, ElementsAre("start_vpn D:\\\xE9\x85\x8D\xE7\xBD\xAE.json", "get_vpn_status "));
  EXPECT_THAT(Lines(ReadFile(dir_ / "replies.txt")),
              ElementsAre("start_vpn\t0002\tsuccess false", "get_vpn_status\t0002\tsuccess false"));
  HWND answers = FindWindowExW(view, nullptr, L"LISTBOX", nullptr);
  EXPECT_EQ(SendMessageW(answers, LB_GETCOUNT, 0, 0), 2);
}

TEST_F(StandinEngineTest, ViewClaimsOnlyTheMessagesItIsToldTo) {
  std::vector<std::string> arguments = DartArguments();
  arguments.push_back("--dart-consume=29");
  flutter::FlutterViewController plain(200, 300, Project(DartArguments()));
  flutter::FlutterViewController claiming(200, 300, Project(arguments));
  ASSERT_NE(plain.view(), nullptr);
  ASSERT_NE(claiming.view(), nullptr);
  EXPECT_EQ(plain.HandleTopLevelWindowProc(nullptr, WM_FONTCHANGE, 0, 0), std::nullopt);
  EXPECT_EQ(claiming.HandleTopLevelWindowProc(nullptr, WM_FONTCHANGE, 0, 0),
            std::optional<LRESULT>(0));
  EXPECT_EQ(claiming.HandleTopLevelWindowProc(nullptr, WM_SIZE, 0, 0), std::nullopt);
  EXPECT_THAT(ReadFile(dir_ / "events.txt"), HasSubstr("consumed 29\n"));
}

TEST(StandinEngineHelpersTest, DpiOfTheMonitorIsReported) {
  POINT origin{0, 0};
  UINT dpi = FlutterDesktopGetDpiForMonitor(MonitorFromPoint(origin, MONITOR_DEFAULTTONEAREST));
  EXPECT_GE(dpi, 96u);
  EXPECT_LE(dpi, 480u);
}

}  // namespace
