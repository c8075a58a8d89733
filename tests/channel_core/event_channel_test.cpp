// An EventChannel on a messenger: the listen/cancel protocol and what its
// sinks may still send.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "channel/event_channel.h"
#include "channel/standard_method_codec.h"
#include "tests/channel_core/codec_test_support.h"
#include "tests/channel_core/recording_messenger.h"

namespace velqa_test {
namespace {

using flutter::EncodableValue;
using flutter::EventSink;
using flutter::StandardMethodCodec;
using flutter::StreamHandlerError;

constexpr char kChannel[] = "com.velqa.assistant/vpn_events";

Bytes CallBytes(const std::string& name) {
  return *StandardMethodCodec::GetInstance().EncodeMethodCall(flutter::MethodCall<>(name, nullptr));
}
Bytes Success(const EncodableValue* value) {
  return *StandardMethodCodec::GetInstance().EncodeSuccessEnvelope(value);
}

// Keeps every sink it is given, as a careless handler might, and counts
// the cancels; refuses the listen when told to.
class KeepingHandler : public flutter::StreamHandler<EncodableValue> {
 public:
  std::vector<std::unique_ptr<EventSink<EncodableValue>>>* sinks;
  int* cancels;
  bool refuse = false;

 protected:
  std::unique_ptr<StreamHandlerError<EncodableValue>> OnListenInternal(
      const EncodableValue*, std::unique_ptr<EventSink<EncodableValue>> events) override {
    sinks->push_back(std::move(events));
    if (!refuse) return nullptr;
    return std::make_unique<StreamHandlerError<EncodableValue>>(
        StreamHandlerError<EncodableValue>{"BUSY", "refused", nullptr});
  }
  std::unique_ptr<StreamHandlerError<EncodableValue>> OnCancelInternal(
      const EncodableValue*) override {
    ++*cancels;
    return nullptr;
  }
};

class EventChannelTest : public ::testing::Test {
 protected:
  void Install(bool refuse = false) {
    auto handler = std::make_unique<KeepingHandler>();
    handler->sinks = &sinks_;
    handler->cancels = &cancels_;
    handler->refuse = refuse;
    channel_.SetStreamHandler(std::move(handler));
  }
  // The events that reached the messenger, as bytes.
  std::vector<Bytes> Sent() const {
    std::vector<Bytes> out;
    for (const auto& sent : messenger_.sent()) {
      EXPECT_EQ(sent.channel, kChannel);
      out.push_back(sent.bytes);
    }
    return out;
  }

  RecordingMessenger messenger_;
  flutter::EventChannel<EncodableValue> channel_{&messenger_, kChannel,
                                                 &StandardMethodCodec::GetInstance()};
  std::vector<std::unique_ptr<EventSink<EncodableValue>>> sinks_;
  int cancels_ = 0;
};

TEST_F(EventChannelTest, ListenStartsTheStreamAndCancelEndsItEvenForAKeptSink) {
  Install();
  messenger_.Deliver(kChannel, CallBytes("listen"));
  ASSERT_EQ(sinks_.size(), 1u);
  const EncodableValue event(std::string("started"));
  sinks_[0]->Success(event);
  sinks_[0]->EndOfStream();
  messenger_.Deliver(kChannel, CallBytes("cancel"));
  sinks_[0]->Success(event);  // after the cancel: nothing goes out
  messenger_.Deliver(kChannel, CallBytes("other"));

  EXPECT_EQ(cancels_, 1);
  const auto replies = messenger_.replies();
  ASSERT_EQ(replies.size(), 3u);
  EXPECT_EQ(replies[0].bytes, Success(nullptr));
  EXPECT_EQ(replies[1].bytes, Success(nullptr));
  EXPECT_TRUE(replies[2].null_data);  // not implemented
  EXPECT_EQ(Sent(), (std::vector<Bytes>{Success(&event), Bytes{}}));
}

TEST_F(EventChannelTest, ASecondListenSilencesTheFirstSinkAndARefusedListenAnswersItsError) {
  Install();
  messenger_.Deliver(kChannel, CallBytes("listen"));
  messenger_.Deliver(kChannel, CallBytes("listen"));
  ASSERT_EQ(sinks_.size(), 2u);
  EXPECT_EQ(cancels_, 1);
  const EncodableValue first(1), second(2);
  sinks_[0]->Success(first);
  sinks_[1]->Success(second);
  EXPECT_EQ(Sent(), std::vector<Bytes>{Success(&second)});

  Install(/*refuse=*/true);
  messenger_.Deliver(kChannel, CallBytes("listen"));
  ASSERT_EQ(sinks_.size(), 3u);
  sinks_[2]->Success(first);
  EXPECT_EQ(Sent().size(), 1u);
  EXPECT_EQ(messenger_.replies().back().bytes,
            *StandardMethodCodec::GetInstance().EncodeErrorEnvelope("BUSY", "refused"));
}

}  // namespace
}  // namespace velqa_test
