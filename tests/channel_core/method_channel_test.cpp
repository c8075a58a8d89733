// Calls through a MethodChannel on a messenger: every message gets exactly one
// answer, and misuse of a result is reported, not sent.
#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "channel/engine_method_result.h"
#include "channel/method_channel.h"
#include "channel/standard_method_codec.h"
#include "tests/channel_core/codec_test_support.h"
#include "tests/channel_core/recording_messenger.h"

namespace velqa_test {
namespace {

using flutter::EncodableMap;
using flutter::EncodableValue;
using flutter::MethodCall;
using flutter::MethodChannel;
using flutter::MethodResult;
using flutter::StandardMethodCodec;

constexpr char kChannel[] = "com.velqa.assistant/vpn_process";
constexpr char kDuplicateLine[] =
    "Error: Only one of Success, Error, or NotImplemented can be called, and it can be called "
    "exactly once. Ignoring duplicate result.";
constexpr char kLeakLine[] = "Warning: Failed to respond to a message. This is a memory leak.";
constexpr char kUnconstructableLine[] =
    "Unable to construct method call from message on channel com.velqa.assistant/vpn_process";
constexpr char kNotAStringLine[] = "Invalid method call; method name is not a string.";
constexpr char kHandlerFailedLine[] = "Message handler failed: handler fault";

Bytes CallBytes(const std::string& name, std::unique_ptr<EncodableValue> arguments = nullptr) {
  return *StandardMethodCodec::GetInstance().EncodeMethodCall(
      MethodCall<>(name, std::move(arguments)));
}

class MethodChannelTest : public testing::Test {
 protected:
  using Handler = flutter::MethodCallHandler<>;

  void Install(Handler handler) { channel_.SetMethodCallHandler(std::move(handler)); }

  std::vector<std::string> Deliver(const Bytes& message) {
    return StderrLinesOf([&] { messenger_.Deliver(kChannel, message); });
  }

  RecordingMessenger messenger_;
  MethodChannel<> channel_{&messenger_, kChannel, &StandardMethodCodec::GetInstance()};
};

TEST_F(MethodChannelTest, HandlerGetsTheDecodedCallAndItsAnswerGoesBack) {
  std::string seen_name;
  EncodableValue seen_arguments;
  Install([&](const MethodCall<>& call, std::unique_ptr<MethodResult<>> result) {
    seen_name = call.method_name();
    seen_arguments = *call.arguments();
    result->Success(EncodableValue(true));
  });
  EncodableMap arguments;
  arguments[EncodableValue("config_path")] = EncodableValue("c.json");
  EXPECT_TRUE(Deliver(CallBytes("start_vpn", std::make_unique<EncodableValue>(arguments))).empty());
  EXPECT_EQ(seen_name, "start_vpn");
  EXPECT_EQ(seen_arguments, EncodableValue(arguments));
  ASSERT_EQ(messenger_.replies().size(), 1u);
  EXPECT_EQ(ToHex(messenger_.replies()[0].bytes), "00 01");
}

TEST_F(MethodChannelTest, EachKindOfAnswerHasItsBytes) {
  int call_count = 0;
  Install([&](const MethodCall<>&, std::unique_ptr<MethodResult<>> result) {
    switch (call_count++) {
      case 0: result->Success(); break;
      case 1: result->Error("INVALID_ARGUMENTS", ""); break;
      default: result->NotImplemented(); break;
    }
  });
  for (int i = 0; i < 3; ++i) Deliver(CallBytes("get_vpn_status"));
  const auto replies = messenger_.replies();
  ASSERT_EQ(replies.size(), 3u);
  EXPECT_EQ(ToHex(replies[0].bytes), "00 00");
  EXPECT_EQ(ToHex(replies[1].bytes), "01 07 11 49 4E 56 41 4C 49 44 5F 41 52 47 55 4D 45 4E 54 53 00 00");
  EXPECT_TRUE(replies[2].bytes.empty());
  EXPECT_TRUE(replies[2].null_data);
}

TEST_F(MethodChannelTest, MessagesThatAreNoCallAreAnsweredNotImplemented) {
  bool handler_ran = false;
  Install([&](const MethodCall<>&, std::unique_ptr<MethodResult<>>) { handler_ran = true; });

  EXPECT_EQ(Deliver(Hex("03 01 00 00 00")),
            (std::vector<std::string>{kNotAStringLine, kUnconstructableLine}));
  EXPECT_EQ(Deliver({}),
            (std::vector<std::string>{kInvalidRead, kNotAStringLine, kUnconstructableLine}));
  EXPECT_FALSE(handler_ran);
  const auto replies = messenger_.replies();
  ASSERT_EQ(replies.size(), 2u);
  for (const auto& reply : replies) {
    EXPECT_TRUE(reply.null_data);
    EXPECT_TRUE(reply.bytes.empty());
  }
}

TEST_F(MethodChannelTest, SecondAnswerIsIgnoredWithALine) {
  Install([](const MethodCall<>&, std::unique_ptr<MethodResult<>> result) {
    result->Error("E", "first");
    result->Success(EncodableValue(true));
    result->NotImplemented();
  });
  EXPECT_EQ(Deliver(CallBytes("m")), (std::vector<std::string>{kDuplicateLine, kDuplicateLine}));
  ASSERT_EQ(messenger_.replies().size(), 1u);
  EXPECT_EQ(messenger_.replies()[0].bytes[0], 1);  // the error envelope
}

TEST_F(MethodChannelTest, ResultDroppedUnansweredReportsTheLeakAndSendsNothing) {
  Install([](const MethodCall<>&, std::unique_ptr<MethodResult<>>) {});
  EXPECT_EQ(Deliver(CallBytes("m")), std::vector<std::string>{kLeakLine});
  EXPECT_TRUE(messenger_.replies().empty());
}

TEST_F(MethodChannelTest, HandlerThatThrowsStillAnswersExactlyOnce) {
  // Unanswered: the channel answers the handler-failure error. Already
  // answered: that answer stays the only one.
  for (const bool answer_first : {false, true}) {
    RecordingMessenger messenger;
    MethodChannel<> channel(&messenger, kChannel, &StandardMethodCodec::GetInstance());
    channel.SetMethodCallHandler([&](const MethodCall<>&, std::unique_ptr<MethodResult<>> result) {
      if (answer_first) result->Success();
      throw std::runtime_error("handler fault");
    });
    std::vector<std::string> lines = StderrLinesOf(
        [&] { EXPECT_NO_THROW(messenger.Deliver(kChannel, CallBytes("m"))); });
    EXPECT_EQ(lines, std::vector<std::string>{kHandlerFailedLine});
    const auto replies = messenger.replies();
    ASSERT_EQ(replies.size(), 1u);
    const Bytes expected = answer_first
                               ? Hex("00 00")
                               : *StandardMethodCodec::GetInstance().EncodeErrorEnvelope(
                                     flutter::kHandlerFailedCode, flutter::kHandlerFailedMessage);
    EXPECT_EQ(ToHex(replies[0].bytes), ToHex(expected)) << answer_first;
  }
}

TEST_F(MethodChannelTest, ResultKeptByAHandlerThatThrowsIsLeftToItsKeeper) {
  std::unique_ptr<MethodResult<>> kept;
  Install([&](const MethodCall<>&, std::unique_ptr<MethodResult<>> result) {
    kept = std::move(result);
    throw std::runtime_error("after handing the result on");
  });
  EXPECT_EQ(Deliver(CallBytes("m")),
            std::vector<std::string>{"Message handler failed: after handing the result on"});
  EXPECT_TRUE(messenger_.replies().empty());
  kept->Success();
  ASSERT_EQ(messenger_.replies().size(), 1u);
  EXPECT_EQ(ToHex(messenger_.replies()[0].bytes), "00 00");
}

// A result that a handler did not answer and that goes during an unwinding
// which has nothing to do with the handler failing (one the handler caught
// itself, or a later one on any thread) is a dropped result like any other.
TEST_F(MethodChannelTest, ResultDroppedDuringAnUnrelatedUnwindingOnlyReportsTheLeak) {
  enum class DroppedBy { kHandlerCatchingItsOwnFault, kLaterOnThisThread, kLaterOnAWorker };
  for (const DroppedBy by : {DroppedBy::kHandlerCatchingItsOwnFault, DroppedBy::kLaterOnThisThread,
                             DroppedBy::kLaterOnAWorker}) {
    RecordingMessenger messenger;
    MethodChannel<> channel(&messenger, kChannel, &StandardMethodCodec::GetInstance());
    std::unique_ptr<MethodResult<>> kept;
    const auto drop_while_unwinding = [](std::unique_ptr<MethodResult<>> result) {
      try {
        const auto dropped = std::move(result);
        throw std::runtime_error("unrelated");
      } catch (const std::runtime_error&) {
      }
    };
    channel.SetMethodCallHandler([&](const MethodCall<>&, std::unique_ptr<MethodResult<>> result) {
      if (by == DroppedBy::kHandlerCatchingItsOwnFault) {
        drop_while_unwinding(std::move(result));
      } else {
        kept = std::move(result);
      }
    });
    const std::vector<std::string> lines = StderrLinesOf([&] {
      messenger.Deliver(kChannel, CallBytes("m"));
      if (by == DroppedBy::kLaterOnThisThread) drop_while_unwinding(std::move(kept));
      if (by == DroppedBy::kLaterOnAWorker) {
        std::thread([&] { drop_while_unwinding(std::move(kept)); }).join();
      }
    });
    EXPECT_EQ(lines, std::vector<std::string>{kLeakLine}) << static_cast<int>(by);
    EXPECT_TRUE(messenger.replies().empty()) << static_cast<int>(by);
  }
}

TEST_F(MethodChannelTest, ResultMayBeAnsweredLaterOnAnotherThread) {
  std::unique_ptr<MethodResult<>> kept;
  Install([&](const MethodCall<>&, std::unique_ptr<MethodResult<>> result) {
    kept = std::move(result);
  });
  Deliver(CallBytes("m"));
  EXPECT_TRUE(messenger_.replies().empty());
  std::thread answering([result = std::move(kept)] { result->Success(EncodableValue(int32_t{4})); });
  answering.join();
  ASSERT_EQ(messenger_.replies().size(), 1u);
  EXPECT_EQ(ToHex(messenger_.replies()[0].bytes), "00 03 04 00 00 00");
}

TEST_F(MethodChannelTest, InstallingReplacesAndAnEmptyHandlerRemoves) {
  std::vector<int> ran;
  Install([&](const MethodCall<>&, std::unique_ptr<MethodResult<>> r) {
    ran.push_back(1);
    r->Success();
  });
  Install([&](const MethodCall<>&, std::unique_ptr<MethodResult<>> r) {
    ran.push_back(2);
    r->Success();
  });
  Deliver(CallBytes("m"));
  EXPECT_EQ(ran, std::vector<int>{2});
  Install(nullptr);
  EXPECT_FALSE(messenger_.HasHandler(kChannel));
  EXPECT_EQ(messenger_.set_handler_calls(), 3);
}

TEST(MethodChannelLifetime, HandlerOutlivesTheChannelObject) {
  RecordingMessenger messenger;
  {
    MethodChannel<> channel(&messenger, "short.lived", &StandardMethodCodec::GetInstance());
    channel.SetMethodCallHandler(
        [](const MethodCall<>&, std::unique_ptr<MethodResult<>> r) { r->Success(); });
  }
  ASSERT_TRUE(messenger.HasHandler("short.lived"));
  messenger.Deliver("short.lived", CallBytes("m"));
  ASSERT_EQ(messenger.replies().size(), 1u);
  EXPECT_EQ(ToHex(messenger.replies()[0].bytes), "00 00");
}

TEST(SingleReply, SendsOnceWithANullPointerForEmptyData) {
  std::vector<std::pair<const uint8_t*, size_t>> sent;
  std::vector<std::string> lines = StderrLinesOf([&] {
    flutter::SingleReply reply([&](const uint8_t* data, size_t size) { sent.push_back({data, size}); });
    const std::vector<uint8_t> empty;
    reply.SendResponseData(&empty);
    reply.SendResponseData(nullptr);
  });
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].first, nullptr);
  EXPECT_EQ(sent[0].second, 0u);
  EXPECT_EQ(lines, std::vector<std::string>{kDuplicateLine});
}

TEST(SingleReply, AnswerFromInsideTheReplyIsADuplicate) {
  std::unique_ptr<flutter::SingleReply> reply;
  int calls = 0;
  reply = std::make_unique<flutter::SingleReply>([&](const uint8_t*, size_t) {
    ++calls;
    reply->SendResponseData(nullptr);
  });
  const auto lines = StderrLinesOf([&] { reply->SendResponseData(nullptr); });
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(lines, std::vector<std::string>{kDuplicateLine});
}

}  // namespace
}  // namespace velqa_test
