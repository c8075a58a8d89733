#include "channel/flutter_engine.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <optional>

#include "channel/flutter_view_controller.h"
#include "tests/embedding/fake_embedding.h"
#include "tests/embedding/fake_embedding_test.h"
#include "tests/embedding/probe.h"

namespace flutter {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

template <typename T>
T FieldAt(const std::vector<uint8_t>& record, size_t offset) {
  T value;
  std::memcpy(&value, record.data() + offset, sizeof(T));
  return value;
}

EngineProject BundleProject() {
  EngineProject project = EngineProject::FromDataDirectory(L"data");
  project.entrypoint_arguments = {"--flag", "a b", "\xC3\xBC"};
  return project;
}

using EmbeddingWrapperTest = velqa::testing::FakeEmbeddingTest;

TEST_F(EmbeddingWrapperTest, PropertiesRecordHasTheBinaryLayout) {
  EngineProject project = BundleProject();
  project.first_option = 7;
  project.second_option = -3;
  FlutterEngine engine(project);

  const std::vector<uint8_t>& record = fake_.properties_bytes;
  ASSERT_EQ(record.size(), 56u);
  EXPECT_EQ(std::wstring(FieldAt<const wchar_t*>(record, 0)), L"data\\flutter_assets");
  EXPECT_EQ(std::wstring(FieldAt<const wchar_t*>(record, 8)), L"data\\icudtl.dat");
  EXPECT_EQ(std::wstring(FieldAt<const wchar_t*>(record, 16)), L"data\\app.so");
  EXPECT_EQ(FieldAt<int32_t>(record, 32), 3);
  EXPECT_EQ(FieldAt<int32_t>(record, 36), 0);
  EXPECT_NE(FieldAt<const char**>(record, 40), nullptr);
  EXPECT_EQ(FieldAt<int32_t>(record, 48), 7);
  EXPECT_EQ(FieldAt<int32_t>(record, 52), -3);
  // What the embedding read while the record was alive.
  EXPECT_EQ(fake_.entrypoint, std::optional<std::string>(""));
  ASSERT_TRUE(fake_.arguments.has_value());
  EXPECT_THAT(*fake_.arguments, ElementsAre("--flag", "a b", "\xC3\xBC"));
}

TEST_F(EmbeddingWrapperTest, NoArgumentsGiveACountOfZeroAndANullArray) {
  FlutterEngine engine(EngineProject::FromDataDirectory(L"data"));
  EXPECT_EQ(FieldAt<int32_t>(fake_.properties_bytes, 32), 0);
  EXPECT_EQ(FieldAt<const char**>(fake_.properties_bytes, 40), nullptr);
  EXPECT_EQ(FieldAt<int64_t>(fake_.properties_bytes, 48), 0);
  EXPECT_FALSE(fake_.arguments.has_value());
}

TEST_F(EmbeddingWrapperTest, EngineCreatesThenAsksForItsMessenger) {
  FlutterEngine engine(EngineProject{});
  EXPECT_THAT(fake_.Events(), ElementsAre("EngineCreate", "EngineGetMessenger"));
  ASSERT_NE(engine.messenger(), nullptr);
  engine.messenger()->SetMessageHandler("c", [](const uint8_t*, size_t, BinaryReply) {});
  EXPECT_EQ(fake_.callbacks.count("c"), 1u);
}

TEST_F(EmbeddingWrapperTest, FailedEngineIsNotAskedForAnything) {
  fake_.engine_create_succeeds = false;
  FlutterEngine engine(EngineProject{});
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(engine.GetRegistrarForPlugin("UrlLauncherWindows"), nullptr);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(),
            "Cannot get plugin registrar on an engine that isn't running; call Run first.\n");
  engine.SetNextFrameCallback([] {});
  engine.ReloadSystemFonts();
  ASSERT_NE(engine.messenger(), nullptr);
  engine.messenger()->SetMessageHandler("c", [](const uint8_t*, size_t, BinaryReply) {});
  EXPECT_THAT(fake_.Events(), ElementsAre("EngineCreate"));
}

TEST_F(EmbeddingWrapperTest, RegistrarComesFromTheEngineByName) {
  FlutterEngine engine(EngineProject{});
  EXPECT_EQ(engine.GetRegistrarForPlugin("WebviewWindowsPlugin"),
            velqa::testing::FakeEmbedding::RegistrarFor("WebviewWindowsPlugin"));
  EXPECT_EQ(fake_.Events().back(), "GetPluginRegistrar WebviewWindowsPlugin");
}

TEST_F(EmbeddingWrapperTest, OwnedEngineEndsBeforeItsCallbackAndMessengerAreFreed) {
  {
    FlutterEngine engine(EngineProject{});
    auto handler_probe = velqa::testing::MakeProbe("handler");
    auto frame_probe = velqa::testing::MakeProbe("frame callback");
    engine.messenger()->SetMessageHandler("c",
                                          [handler_probe](const uint8_t*, size_t, BinaryReply) {});
    engine.SetNextFrameCallback([frame_probe] {});
  }
  EXPECT_THAT(fake_.Events(),
              ElementsAre("EngineCreate", "EngineGetMessenger", "SetNextFrameCallback",
                          "EngineDestroy", "frame callback freed", "handler freed"));
}

TEST_F(EmbeddingWrapperTest, RelinquishedEngineIsNotDestroyedByTheWrapper) {
  {
    FlutterEngine engine(EngineProject{});
    EXPECT_EQ(engine.RelinquishEngine(), velqa::testing::FakeEmbedding::EngineHandle());
    // The wrapper keeps using the handle for its own calls.
    EXPECT_NE(engine.GetRegistrarForPlugin("p"), nullptr);
  }
  for (const std::string& event : fake_.Events()) EXPECT_NE(event, "EngineDestroy");
}

TEST_F(EmbeddingWrapperTest, NextFrameCallbackRunsOnce) {
  FlutterEngine engine(EngineProject{});
  int runs = 0;
  engine.SetNextFrameCallback([&] { ++runs; });
  auto trampoline = fake_.frame_callback;
  auto user_data = fake_.frame_user_data;
  fake_.DrawFrame();
  fake_.DrawFrame();
  EXPECT_EQ(runs, 1);
  // An embedding calling the trampoline again finds nothing left to run.
  trampoline(user_data);
  EXPECT_EQ(runs, 1);
}

TEST_F(EmbeddingWrapperTest, LaterNextFrameCallbackReplacesAPendingOne) {
  FlutterEngine engine(EngineProject{});
  std::vector<int> runs;
  engine.SetNextFrameCallback([&] { runs.push_back(1); });
  engine.SetNextFrameCallback([&] { runs.push_back(2); });
  auto trampoline = fake_.frame_callback;
  auto user_data = fake_.frame_user_data;
  fake_.DrawFrame();
  trampoline(user_data);  // an embedding that calls once per registration
  EXPECT_THAT(runs, ElementsAre(2));
}

TEST_F(EmbeddingWrapperTest, CallbackMaySetTheNextOneFromInside) {
  FlutterEngine engine(EngineProject{});
  std::vector<int> runs;
  engine.SetNextFrameCallback([&] {
    runs.push_back(1);
    engine.SetNextFrameCallback([&] { runs.push_back(2); });
  });
  fake_.DrawFrame();
  fake_.DrawFrame();
  fake_.DrawFrame();
  EXPECT_THAT(runs, ElementsAre(1, 2));
}

TEST_F(EmbeddingWrapperTest, ViewControllerTakesTheEngineOverAndExposesTheView) {
  FlutterViewController controller(420, 768, BundleProject());
  EXPECT_THAT(fake_.Events(), ElementsAre("EngineCreate", "EngineGetMessenger",
                                          "ViewControllerCreate", "ViewControllerGetView"));
  EXPECT_EQ(fake_.create_width, 420);
  EXPECT_EQ(fake_.create_height, 768);
  EXPECT_EQ(fake_.controller_engine, velqa::testing::FakeEmbedding::EngineHandle());
  ASSERT_NE(controller.engine(), nullptr);
  ASSERT_NE(controller.view(), nullptr);
  EXPECT_EQ(controller.view()->GetNativeWindow(), velqa::testing::FakeEmbedding::ViewWindow());
}

TEST_F(EmbeddingWrapperTest, ViewControllerEndsTheEngineBeforeTheMessengerGoes) {
  {
    FlutterViewController controller(10, 20, EngineProject{});
    auto probe = velqa::testing::MakeProbe("handler");
    controller.engine()->messenger()->SetMessageHandler(
        "c", [probe](const uint8_t*, size_t, BinaryReply) {});
    controller.engine()->SetNextFrameCallback([] {});
  }
  std::vector<std::string> events = fake_.Events();
  std::vector<std::string> tail(events.end() - 2, events.end());
  EXPECT_THAT(tail, ElementsAre("ViewControllerDestroy", "handler freed"));
  for (const std::string& event : events) EXPECT_NE(event, "EngineDestroy");
}

TEST_F(EmbeddingWrapperTest, RepliesAfterTheViewControllerIsGoneAreDropped) {
  BinaryReply kept;
  {
    FlutterViewController controller(10, 20, EngineProject{});
    controller.engine()->messenger()->SetMessageHandler(
        "c", [&](const uint8_t*, size_t, BinaryReply reply) { kept = std::move(reply); });
    fake_.Deliver("c", {1});
  }
  kept(nullptr, 0);
  EXPECT_THAT(fake_.responses, IsEmpty());
  kept = nullptr;
  EXPECT_EQ(fake_.messenger_refs, 0);
}

TEST_F(EmbeddingWrapperTest, FailedViewControllerLeavesNoView) {
  fake_.controller_create_succeeds = false;
  ::testing::internal::CaptureStderr();
  {
    FlutterViewController controller(10, 20, EngineProject{});
    EXPECT_NE(controller.engine(), nullptr);
    EXPECT_EQ(controller.view(), nullptr);
    controller.ForceRedraw();
    EXPECT_EQ(controller.HandleTopLevelWindowProc(nullptr, 5, 0, 0), std::nullopt);
  }
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "Failed to create view controller.\n");
  EXPECT_THAT(fake_.Events(),
              ElementsAre("EngineCreate", "EngineGetMessenger", "ViewControllerCreate"));
}

TEST_F(EmbeddingWrapperTest, FailedEngineIsNotHandedToTheViewController) {
  fake_.engine_create_succeeds = false;
  ::testing::internal::CaptureStderr();
  FlutterViewController controller(10, 20, EngineProject{});
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "Failed to create view controller.\n");
  EXPECT_EQ(controller.view(), nullptr);
  EXPECT_THAT(fake_.Events(), ElementsAre("EngineCreate"));
}

TEST_F(EmbeddingWrapperTest, TopLevelMessagesGoToTheViewFirst) {
  FlutterViewController controller(10, 20, EngineProject{});
  EXPECT_EQ(controller.HandleTopLevelWindowProc(nullptr, 0x1D, 0, 0), std::nullopt);
  fake_.handles_window_proc = true;
  fake_.window_proc_result = 42;
  EXPECT_EQ(controller.HandleTopLevelWindowProc(nullptr, 0x1D, 0, 0), std::optional<LRESULT>(42));
  controller.ForceRedraw();
  controller.engine()->ReloadSystemFonts();
  std::vector<std::string> events = fake_.Events();
  std::vector<std::string> tail(events.end() - 4, events.end());
  EXPECT_THAT(tail, ElementsAre("HandleTopLevelWindowProc 29", "HandleTopLevelWindowProc 29",
                                "ForceRedraw", "ReloadSystemFonts"));
}

}  // namespace
}  // namespace flutter
