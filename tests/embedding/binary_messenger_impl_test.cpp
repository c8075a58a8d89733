#include "channel/binary_messenger_impl.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <new>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "channel/flutter_engine.h"
#include "channel/method_channel.h"
#include "channel/standard_method_codec.h"
#include "tests/embedding/fake_embedding.h"
#include "tests/embedding/fake_embedding_test.h"
#include "tests/embedding/probe.h"
#include "tests/support/out_of_memory.h"

namespace flutter {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using velqa::testing::FakeEmbedding;
using velqa::testing::MakeProbe;
using velqa::testing::PendingReply;

constexpr char kChannel[] = "com.velqa.assistant/vpn_process";

class BinaryMessengerImplTest : public velqa::testing::FakeEmbeddingTest {
 protected:
  // Installs a handler that keeps every reply it is given.
  void InstallKeepingHandler() {
    messenger_.SetMessageHandler(kChannel, [this](const uint8_t*, size_t, BinaryReply reply) {
      replies_.push_back(std::move(reply));
    });
  }

  BinaryMessengerImpl messenger_{FakeEmbedding::MessengerHandle()};
  std::vector<BinaryReply> replies_;
};

TEST_F(BinaryMessengerImplTest, ReinstallingReplacesTheHandlerAtTheSameAddress) {
  std::vector<std::string> calls;
  messenger_.SetMessageHandler(kChannel,
                               [&](const uint8_t*, size_t, BinaryReply) { calls.push_back("1"); });
  messenger_.SetMessageHandler(kChannel, [&](const uint8_t* bytes, size_t size, BinaryReply) {
    calls.push_back("2:" + std::string(bytes, bytes + size));
  });

  ASSERT_EQ(fake_.set_callback_calls.size(), 2u);
  EXPECT_NE(fake_.set_callback_calls[0].second, nullptr);
  EXPECT_EQ(fake_.set_callback_calls[0].second, fake_.set_callback_calls[1].second);
  fake_.Deliver(kChannel, {'h', 'i'});
  EXPECT_THAT(calls, ElementsAre("2:hi"));
}

TEST_F(BinaryMessengerImplTest, HandlersOfOtherChannelsKeepTheirAddresses) {
  messenger_.SetMessageHandler("b", [](const uint8_t*, size_t, BinaryReply) {});
  void* b_address = fake_.set_callback_calls.back().second;
  // Adding and removing neighbours in the map must not move b's handler.
  for (const char* name : {"a", "c", "a0", "bb"}) {
    messenger_.SetMessageHandler(name, [](const uint8_t*, size_t, BinaryReply) {});
  }
  messenger_.SetMessageHandler("a", nullptr);
  messenger_.SetMessageHandler("b", [](const uint8_t*, size_t, BinaryReply) {});
  EXPECT_EQ(fake_.set_callback_calls.back().second, b_address);
}

TEST_F(BinaryMessengerImplTest, RemovalClearsTheCallbackAndFreesTheHandler) {
  auto probe = MakeProbe("handler");
  messenger_.SetMessageHandler(kChannel, [probe](const uint8_t*, size_t, BinaryReply) {});
  probe.reset();
  messenger_.SetMessageHandler(kChannel, nullptr);

  EXPECT_THAT(fake_.Events(), ElementsAre("handler freed"));
  EXPECT_EQ(fake_.callbacks.count(kChannel), 0u);
  EXPECT_EQ(fake_.set_callback_calls.back(), (std::pair<std::string, void*>(kChannel, nullptr)));
}

TEST_F(BinaryMessengerImplTest, RemovingAChannelWithoutHandlerStillClearsItsCallback) {
  messenger_.SetMessageHandler("never/installed", nullptr);
  ASSERT_EQ(fake_.set_callback_calls.size(), 1u);
  EXPECT_EQ(fake_.set_callback_calls[0].first, "never/installed");
  EXPECT_EQ(fake_.set_callback_calls[0].second, nullptr);
}

TEST_F(BinaryMessengerImplTest, HandlerReceivesTheMessageBytes) {
  std::vector<uint8_t> received;
  messenger_.SetMessageHandler(kChannel, [&](const uint8_t* bytes, size_t size, BinaryReply) {
    received.assign(bytes, bytes + size);
  });
  fake_.Deliver(kChannel, {7, 3, 'a', 'b', 'c'});
  EXPECT_THAT(received, ElementsAre(7, 3, 'a', 'b', 'c'));
}

TEST_F(BinaryMessengerImplTest, ReplyIsSentOnceUnderTheLock) {
  InstallKeepingHandler();
  auto handle = fake_.Deliver(kChannel, {1});
  ASSERT_EQ(replies_.size(), 1u);
  const uint8_t answer[] = {0, 1};

  ::testing::internal::CaptureStderr();
  replies_[0](answer, sizeof(answer));
  replies_[0](answer, sizeof(answer));
  std::string errors = ::testing::internal::GetCapturedStderr();

  ASSERT_EQ(fake_.responses.size(), 1u);
  EXPECT_EQ(fake_.responses[0].handle, handle);
  EXPECT_THAT(fake_.responses[0].bytes, ElementsAre(0, 1));
  EXPECT_TRUE(fake_.responses[0].under_lock);
  EXPECT_EQ(errors, "Error: Response can be set only once. Ignoring duplicate response.\n");
}

TEST_F(BinaryMessengerImplTest, CopiesOfOneReplyShareItsSingleAnswer) {
  InstallKeepingHandler();
  fake_.Deliver(kChannel, {1});
  BinaryReply copy = replies_[0];
  ::testing::internal::CaptureStderr();
  copy(nullptr, 0);
  replies_[0](nullptr, 0);
  ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(fake_.responses.size(), 1u);
}

TEST_F(BinaryMessengerImplTest, EmptyAnswerIsSentAsNullAndZero) {
  InstallKeepingHandler();
  fake_.Deliver(kChannel, {1});
  replies_[0](nullptr, 0);
  ASSERT_EQ(fake_.responses.size(), 1u);
  EXPECT_TRUE(fake_.responses[0].data_was_null);
  EXPECT_THAT(fake_.responses[0].bytes, IsEmpty());
}

TEST_F(BinaryMessengerImplTest, ReplyAfterTheEngineEndedIsDroppedSilently) {
  InstallKeepingHandler();
  fake_.Deliver(kChannel, {1});
  fake_.EndEngine();
  const uint8_t answer[] = {0, 0};
  ::testing::internal::CaptureStderr();
  replies_[0](answer, sizeof(answer));
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
  EXPECT_THAT(fake_.responses, IsEmpty());
}

TEST_F(BinaryMessengerImplTest, ReplyWorksWhenTheLockGivesNothingBack) {
  fake_.lock_returns_null = true;
  InstallKeepingHandler();
  fake_.Deliver(kChannel, {1});
  replies_[0](nullptr, 0);
  EXPECT_EQ(fake_.responses.size(), 1u);
}

TEST_F(BinaryMessengerImplTest, MessengerIsHeldUntilTheLastCopyOfTheReplyIsGone) {
  InstallKeepingHandler();
  fake_.Deliver(kChannel, {1});
  fake_.Deliver(kChannel, {2});
  EXPECT_EQ(fake_.messenger_refs, 2);
  BinaryReply copy = replies_[0];
  replies_.erase(replies_.begin());
  EXPECT_EQ(fake_.messenger_refs, 2);
  copy = nullptr;
  EXPECT_EQ(fake_.messenger_refs, 1);
  replies_.clear();
  EXPECT_EQ(fake_.messenger_refs, 0);
}

TEST_F(BinaryMessengerImplTest, HandlerThatDropsTheReplyReleasesTheMessenger) {
  messenger_.SetMessageHandler(kChannel, [](const uint8_t*, size_t, BinaryReply) {});
  fake_.Deliver(kChannel, {1});
  EXPECT_EQ(fake_.messenger_refs, 0);
  EXPECT_THAT(fake_.responses, IsEmpty());
}

TEST_F(BinaryMessengerImplTest, ExceptionFromAHandlerStaysOnOurSide) {
  messenger_.SetMessageHandler(
      kChannel, [](const uint8_t*, size_t, BinaryReply) { throw std::runtime_error("boom"); });
  ::testing::internal::CaptureStderr();
  EXPECT_NO_THROW(fake_.Deliver(kChannel, {1}));
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "Message handler failed: boom\n");
  EXPECT_EQ(fake_.messenger_refs, 0);
  // The caller is not left waiting: it gets the empty answer.
  ASSERT_EQ(fake_.responses.size(), 1u);
  EXPECT_TRUE(fake_.responses[0].data_was_null);
}

// A one-shot channel takes itself down, or a handler puts another in its
// place, while it runs: what it captured stays alive until it returns.
TEST_F(BinaryMessengerImplTest, HandlerMayRemoveOrReplaceItselfWhileRunning) {
  for (const bool replace : {false, true}) {
    fake_.Reset();
    const std::string state(100, replace ? 'r' : 'o');  // on the heap
    messenger_.SetMessageHandler(kChannel, [this, replace, state, probe = MakeProbe("handler")](
                                               const uint8_t*, size_t, BinaryReply reply) {
      messenger_.SetMessageHandler(
          kChannel,
          replace ? BinaryMessageHandler([](const uint8_t*, size_t, BinaryReply) {}) : nullptr);
      reply(reinterpret_cast<const uint8_t*>(state.data()), state.size());
      fake_.Record("handler returns");
    });
    fake_.Deliver(kChannel, {1});

    EXPECT_THAT(fake_.Events(), ElementsAre("handler returns", "handler freed")) << replace;
    ASSERT_EQ(fake_.responses.size(), 1u);
    EXPECT_EQ(std::string(fake_.responses[0].bytes.begin(), fake_.responses[0].bytes.end()), state);
    EXPECT_EQ(fake_.callbacks.count(kChannel), replace ? 1u : 0u);
  }
}

// Through a method channel the throwing handler's caller gets the error, and
// only that: the messenger's own fallback sees the message answered.
TEST_F(BinaryMessengerImplTest, ThrowingMethodHandlerIsAnsweredWithOneError) {
  MethodChannel<> channel(&messenger_, kChannel, &StandardMethodCodec::GetInstance());
  channel.SetMethodCallHandler([](const MethodCall<>&, std::unique_ptr<MethodResult<>>) {
    throw std::runtime_error("handler fault");
  });
  const auto call =
      StandardMethodCodec::GetInstance().EncodeMethodCall(MethodCall<>("get_vpn_status", nullptr));
  ::testing::internal::CaptureStderr();
  fake_.Deliver(kChannel, *call);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "Message handler failed: handler fault\n");
  ASSERT_EQ(fake_.responses.size(), 1u);
  EXPECT_EQ(fake_.responses[0].bytes, *StandardMethodCodec::GetInstance().EncodeErrorEnvelope(
                                          kHandlerFailedCode, kHandlerFailedMessage));
}

// A handler hands its reply on to a worker, which answers and lets go of it;
// then the handler throws. The fallback must find the message answered, and
// must look only after that answer, not merely after it in time: the
// handler's wait below orders nothing, so ThreadSanitizer sees every
// unordered look.
TEST_F(BinaryMessengerImplTest, HandlerThatThrowsAfterAWorkerAnsweredGetsNoSecondAnswer) {
  for (const bool through_channel : {false, true}) {
    fake_.Reset();
    std::thread worker;
    std::atomic<bool> worker_done{false};
    auto hand_on_then_throw = [&](std::function<void()> answer_and_let_go) {
      worker = std::thread([&worker_done, answer = std::move(answer_and_let_go)] {
        answer();
        worker_done.store(true, std::memory_order_relaxed);
      });
      while (!worker_done.load(std::memory_order_relaxed)) std::this_thread::yield();
      throw std::runtime_error("late fault");
    };
    MethodChannel<> channel(&messenger_, kChannel, &StandardMethodCodec::GetInstance());
    if (through_channel) {
      channel.SetMethodCallHandler([&](const MethodCall<>&, std::unique_ptr<MethodResult<>> result) {
        hand_on_then_throw([result = std::shared_ptr<MethodResult<>>(std::move(result))]() mutable {
          result->Success();
          result.reset();
        });
      });
    } else {
      messenger_.SetMessageHandler(kChannel, [&](const uint8_t*, size_t, BinaryReply reply) {
        hand_on_then_throw([reply = std::move(reply)]() mutable {
          const uint8_t answer[] = {0, 0};
          reply(answer, sizeof(answer));
          reply = nullptr;
        });
      });
    }
    const auto call =
        StandardMethodCodec::GetInstance().EncodeMethodCall(MethodCall<>("get_vpn_status", nullptr));
    ::testing::internal::CaptureStderr();
    fake_.Deliver(kChannel, *call);
    worker.join();
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "Message handler failed: late fault\n");
    ASSERT_EQ(fake_.responses.size(), 1u) << through_channel;
    EXPECT_THAT(fake_.responses[0].bytes, ElementsAre(0, 0));
  }
}

// Memory runs out in a handler, a reply or a frame callback, so
// std::bad_alloc reaches the C callback: its line and the fallback answer must need no memory, and
// nothing may unwind into the embedding.
TEST_F(BinaryMessengerImplTest, CallbacksThatRunOutOfMemoryStayOnOurSide) {
  using velqa::testing::OutOfMemoryScope;
  const auto exhaust = [](OutOfMemoryScope& memory) {
    memory.Arm();
    throw std::bad_alloc();
  };
  struct Case {
    const char* callback;
    std::function<void(OutOfMemoryScope&)> run;  // sets up, then calls into the callback
    const char* line;
    size_t answers;  // all of them empty
  };
  FlutterEngine engine(EngineProject{});  // outlives the memory shortage
  const Case cases[] = {
      {"message handler",
       [&](OutOfMemoryScope& memory) {
         messenger_.SetMessageHandler(
             kChannel, [&](const uint8_t*, size_t, BinaryReply) { exhaust(memory); });
         fake_.Deliver(kChannel, {1});
       },
       "Message handler failed: std::bad_alloc\n", 1},
      {"method handler",
       [&](OutOfMemoryScope& memory) {
         MethodChannel<> channel(&messenger_, kChannel, &StandardMethodCodec::GetInstance());
         channel.SetMethodCallHandler(
             [&](const MethodCall<>&, std::unique_ptr<MethodResult<>>) { exhaust(memory); });
         fake_.Deliver(kChannel, *StandardMethodCodec::GetInstance().EncodeMethodCall(
                                     MethodCall<>("get_vpn_status", nullptr)));
       },
       "Message handler failed: std::bad_alloc\n", 1},
      {"reply",
       [&](OutOfMemoryScope& memory) {
         messenger_.Send("out", nullptr, 0, [&](const uint8_t*, size_t) { exhaust(memory); });
         const PendingReply pending = fake_.pending_replies.at(0);
         pending.reply(nullptr, 0, pending.user_data);
       },
       "Reply handler failed: std::bad_alloc\n", 0},
      {"next frame",
       [&](OutOfMemoryScope& memory) {
         engine.SetNextFrameCallback([&] { exhaust(memory); });
         fake_.DrawFrame();
       },
       "Next-frame callback failed: std::bad_alloc\n", 0},
  };
  for (const Case& c : cases) {
    fake_.Reset();
    ::testing::internal::CaptureStderr();
    bool escaped = false;
    {
      OutOfMemoryScope memory;
      try {
        c.run(memory);
      } catch (...) {
        escaped = true;
      }
    }
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), c.line) << c.callback;
    EXPECT_FALSE(escaped) << c.callback;
    ASSERT_EQ(fake_.responses.size(), c.answers) << c.callback;
    for (const auto& response : fake_.responses) EXPECT_TRUE(response.data_was_null);
  }
}

// Replies are sent from many threads while the engine ends part way: every
// handle is answered at most once, always under the lock and while the
// engine is available, and every messenger reference comes back.
TEST_F(BinaryMessengerImplTest, RepliesFromOtherThreadsWhileTheEngineEnds) {
  InstallKeepingHandler();
  constexpr int kMessages = 64;
  for (int i = 0; i < kMessages; ++i) fake_.Deliver(kChannel, {static_cast<uint8_t>(i)});
  ASSERT_EQ(replies_.size(), static_cast<size_t>(kMessages));

  std::atomic<bool> go{false};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      while (!go) std::this_thread::yield();
      for (int i = t; i < kMessages; i += 4) {
        const uint8_t answer[] = {0, static_cast<uint8_t>(i)};
        BinaryReply mine = std::move(replies_[i]);
        mine(answer, sizeof(answer));
        // The second answer through a copy must never reach the engine.
        BinaryReply again = mine;
        again(answer, sizeof(answer));
      }
    });
  }
  go = true;
  std::this_thread::sleep_for(std::chrono::microseconds(200));
  fake_.EndEngine();
  for (auto& thread : threads) thread.join();

  std::lock_guard lock(fake_.mutex);
  EXPECT_LE(fake_.responses.size(), static_cast<size_t>(kMessages));
  std::set<const FlutterDesktopMessageResponseHandle*> seen;
  for (const auto& response : fake_.responses) {
    EXPECT_TRUE(response.under_lock);
    EXPECT_TRUE(seen.insert(response.handle).second) << "a handle was answered twice";
  }
  EXPECT_EQ(fake_.messenger_refs, 0);
}

TEST_F(BinaryMessengerImplTest, SendWithoutReplyGoesOutPlain) {
  const uint8_t bytes[] = {4, 5};
  messenger_.Send("out", bytes, sizeof(bytes), nullptr);
  EXPECT_THAT(fake_.Events(), ElementsAre("Send out"));
  EXPECT_THAT(fake_.sent_messages, ElementsAre(ElementsAre(4, 5)));
}

TEST_F(BinaryMessengerImplTest, RefusedSendWithReplyFreesTheReplyUncalled) {
  fake_.send_with_reply_succeeds = false;
  bool called = false;
  auto probe = MakeProbe("reply");
  messenger_.Send("out", nullptr, 0, [&called, probe](const uint8_t*, size_t) { called = true; });
  probe.reset();
  EXPECT_FALSE(called);
  EXPECT_THAT(fake_.Events(), ElementsAre("SendWithReply out", "reply freed"));
}

TEST_F(BinaryMessengerImplTest, AcceptedSendWithReplyCallsTheReplyOnceThenFreesIt) {
  std::vector<uint8_t> got;
  auto probe = MakeProbe("reply");
  messenger_.Send("out", nullptr, 0, [&got, probe](const uint8_t* bytes, size_t size) {
    got.assign(bytes, bytes + size);
  });
  probe.reset();
  ASSERT_EQ(fake_.pending_replies.size(), 1u);
  EXPECT_THAT(fake_.Events(), ElementsAre("SendWithReply out"));

  const uint8_t answer[] = {0, 2};
  fake_.pending_replies[0].reply(answer, sizeof(answer), fake_.pending_replies[0].user_data);
  EXPECT_THAT(got, ElementsAre(0, 2));
  EXPECT_THAT(fake_.Events(), ElementsAre("SendWithReply out", "reply freed"));
}

TEST(BinaryMessengerImplWithoutEngineTest, KeepsHandlersButCallsNothing) {
  FakeEmbedding::Get().Reset();
  BinaryMessengerImpl messenger(nullptr);
  bool called = false;
  messenger.SetMessageHandler("x", [](const uint8_t*, size_t, BinaryReply) {});
  messenger.Send("x", nullptr, 0, [&](const uint8_t*, size_t) { called = true; });
  EXPECT_TRUE(FakeEmbedding::Get().set_callback_calls.empty());
  EXPECT_TRUE(FakeEmbedding::Get().Events().empty());
  EXPECT_FALSE(called);
}

}  // namespace
}  // namespace flutter
