// The stand-in engine's messenger: delivery, answers, the lock and the end
// of the engine, without any window (tasks are queued and run by the test).
#include "standins/flutter_windows/messenger.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <deque>
#include <thread>

namespace velqa::standin {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

class StandinMessengerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    messenger_ = Messenger::Create([this](Messenger::Task task) {
      std::lock_guard lock(mutex_);
      tasks_.push_back(std::move(task));
      return true;
    });
  }
  void TearDown() override { messenger_->Release(); }

  void RunTasks() {
    while (true) {
      Messenger::Task task;
      {
        std::lock_guard lock(mutex_);
        if (tasks_.empty()) return;
        task = std::move(tasks_.front());
        tasks_.pop_front();
      }
      task();
    }
  }

  // Installs a callback that records the message record it is given.
  void Listen(const std::string& channel) {
    messenger_->SetCallback(
        channel,
        [](FlutterDesktopMessengerRef, const FlutterDesktopMessage* message, void* user_data) {
          auto* self = static_cast<StandinMessengerTest*>(user_data);
          self->received_channel_ = message->channel;
          self->received_.assign(message->message, message->message + message->message_size);
          self->handle_ = message->response_handle;
          EXPECT_EQ(message->struct_size, sizeof(FlutterDesktopMessage));
        },
        this);
  }

  Messenger* messenger_ = nullptr;
  std::mutex mutex_;
  std::deque<Messenger::Task> tasks_;
  std::string received_channel_;
  std::vector<uint8_t> received_;
  const FlutterDesktopMessageResponseHandle* handle_ = nullptr;
  std::vector<std::vector<uint8_t>> answers_;
  Messenger::AnswerHandler Collect() {
    return [this](const std::vector<uint8_t>& answer) { answers_.push_back(answer); };
  }
};

TEST_F(StandinMessengerTest, AnswerReturnsOnThePlatformTaskQueue) {
  Listen("vpn");
  messenger_->DeliverToHost("vpn", {1, 2, 3}, Collect());
  EXPECT_EQ(received_channel_, "vpn");
  EXPECT_THAT(received_, ElementsAre(1, 2, 3));
  ASSERT_NE(handle_, nullptr);

  const uint8_t answer[] = {0, 1};
  EXPECT_TRUE(messenger_->SendResponse(handle_, answer, sizeof(answer)));
  EXPECT_THAT(answers_, IsEmpty());  // not before the platform thread runs it
  RunTasks();
  EXPECT_THAT(answers_, ElementsAre(ElementsAre(0, 1)));
  EXPECT_EQ(messenger_->PendingAnswers(), 0u);
}

TEST_F(StandinMessengerTest, AHandleAnswersOnce) {
  Listen("vpn");
  messenger_->DeliverToHost("vpn", {}, Collect());
  EXPECT_TRUE(messenger_->SendResponse(handle_, nullptr, 0));
  testing::internal::CaptureStderr();
  EXPECT_FALSE(messenger_->SendResponse(handle_, nullptr, 0));
  testing::internal::GetCapturedStderr();
  RunTasks();
  EXPECT_THAT(answers_, ElementsAre(IsEmpty()));
}

TEST_F(StandinMessengerTest, ChannelWithoutListenerAnswersEmpty) {
  Listen("vpn");
  messenger_->SetCallback("vpn", nullptr, nullptr);
  messenger_->DeliverToHost("vpn", {9}, Collect());
  EXPECT_TRUE(received_.empty());
  RunTasks();
  EXPECT_THAT(answers_, ElementsAre(IsEmpty()));
}

TEST_F(StandinMessengerTest, EndedEngineDropsUnansweredMessages) {
  Listen("vpn");
  messenger_->DeliverToHost("vpn", {1}, Collect());
  EXPECT_TRUE(messenger_->IsAvailable());
  messenger_->Shutdown();
  EXPECT_FALSE(messenger_->IsAvailable());
  testing::internal::CaptureStderr();
  EXPECT_FALSE(messenger_->SendResponse(handle_, nullptr, 0));
  testing::internal::GetCapturedStderr();
  RunTasks();
  EXPECT_THAT(answers_, IsEmpty());
}

TEST_F(StandinMessengerTest, ShutdownWaitsForAHeldLock) {
  messenger_->Lock();
  std::atomic<bool> ended{false};
  std::thread engine_end([&] {
    messenger_->Shutdown();
    ended = true;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_FALSE(ended);
  EXPECT_TRUE(messenger_->IsAvailable());  // the holder may still answer
  messenger_->Unlock();
  engine_end.join();
  EXPECT_FALSE(messenger_->IsAvailable());
}

TEST_F(StandinMessengerTest, ExtraReferencesKeepItAlivePastTheEngine) {
  messenger_->AddRef();
  messenger_->Shutdown();
  messenger_->Release();                    // the engine's reference
  EXPECT_FALSE(messenger_->IsAvailable());  // still a valid object
}

TEST_F(StandinMessengerTest, MessagesForTheDartSideAreAnsweredEmpty) {
  static std::vector<size_t> sizes;
  sizes.clear();
  EXPECT_TRUE(messenger_->SendToDart(
      "events", nullptr, 0, [](const uint8_t*, size_t size, void*) { sizes.push_back(size); },
      nullptr));
  RunTasks();
  EXPECT_THAT(sizes, ElementsAre(0u));
}

TEST_F(StandinMessengerTest, TheDartSideHearsWhichThreadAHostMessageCameFrom) {
  std::vector<std::pair<std::vector<uint8_t>, bool>> heard;
  messenger_->SetDartListener(
      [&](const std::string& channel, const std::vector<uint8_t>& message, bool off_thread) {
        EXPECT_EQ(channel, "events");
        heard.emplace_back(message, off_thread);
      });
  const uint8_t bytes[] = {0, 1};
  EXPECT_TRUE(messenger_->SendToDart("events", bytes, 2, nullptr, nullptr));
  std::thread([&] { messenger_->SendToDart("events", bytes, 1, nullptr, nullptr); }).join();
  RunTasks();
  ASSERT_EQ(heard.size(), 2u);
  EXPECT_THAT(heard[0].first, ElementsAre(0, 1));
  EXPECT_FALSE(heard[0].second);
  EXPECT_THAT(heard[1].first, ElementsAre(0));
  EXPECT_TRUE(heard[1].second);
}

}  // namespace
}  // namespace velqa::standin
