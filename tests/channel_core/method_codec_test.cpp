// Method calls and answer envelopes in bytes.
#include <gtest/gtest.h>

#include <atomic>
#include <iterator>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "channel/standard_method_codec.h"
#include "tests/channel_core/codec_test_support.h"

namespace velqa_test {
namespace {

using flutter::EncodableList;
using flutter::EncodableMap;
using flutter::EncodableValue;
using flutter::MethodCall;
using flutter::MethodResult;
using flutter::StandardMethodCodec;

const StandardMethodCodec& Codec() { return StandardMethodCodec::GetInstance(); }

std::string HexOf(const std::unique_ptr<std::vector<uint8_t>>& bytes) { return ToHex(*bytes); }

TEST(MethodCodec, SuccessEnvelopes) {
  EXPECT_EQ(HexOf(Codec().EncodeSuccessEnvelope()), "00 00");
  const EncodableValue yes(true);
  EXPECT_EQ(HexOf(Codec().EncodeSuccessEnvelope(&yes)), "00 01");
  // The envelope byte counts for alignment: the double pads six bytes.
  const EncodableValue number(1.0);
  EXPECT_EQ(HexOf(Codec().EncodeSuccessEnvelope(&number)),
            "00 06 00 00 00 00 00 00 00 00 00 00 00 00 F0 3F");
}

TEST(MethodCodec, ErrorEnvelopes) {
  const std::string code_hex = "49 4E 56 41 4C 49 44 5F 41 52 47 55 4D 45 4E 54 53";
  const std::string message_hex = "4D 69 73 73 69 6E 67 20 61 72 67 75 6D 65 6E 74 73";
  EXPECT_EQ(HexOf(Codec().EncodeErrorEnvelope("INVALID_ARGUMENTS", "Missing arguments")),
            "01 07 11 " + code_hex + " 07 11 " + message_hex + " 00");
  // An empty message goes out as null, not as an empty string.
  EXPECT_EQ(HexOf(Codec().EncodeErrorEnvelope("E", "")), "01 07 01 45 00 00");
  const EncodableValue details(int32_t{7});
  EXPECT_EQ(HexOf(Codec().EncodeErrorEnvelope("E", "m", &details)),
            "01 07 01 45 07 01 6D 03 07 00 00 00");
}

TEST(MethodCodec, CallWithoutArgumentsEncodesNullAndDecodesToAPresentNull) {
  const auto bytes = Codec().EncodeMethodCall(MethodCall<>("stop_vpn", nullptr));
  EXPECT_EQ(HexOf(bytes), "07 08 73 74 6F 70 5F 76 70 6E 00");
  const auto call = Codec().DecodeMethodCall(*bytes);
  ASSERT_NE(call, nullptr);
  EXPECT_EQ(call->method_name(), "stop_vpn");
  ASSERT_NE(call->arguments(), nullptr);
  EXPECT_TRUE(call->arguments()->IsNull());
}

TEST(MethodCodec, CallWithArgumentsRoundTripsAndIgnoresTrailingBytes) {
  EncodableMap arguments;
  arguments[EncodableValue("config_path")] = EncodableValue("/tmp/c.json");
  auto bytes = Codec().EncodeMethodCall(
      MethodCall<>("start_vpn", std::make_unique<EncodableValue>(arguments)));
  bytes->push_back(0x01);
  const auto call = Codec().DecodeMethodCall(bytes->data(), bytes->size());
  ASSERT_NE(call, nullptr);
  EXPECT_EQ(call->method_name(), "start_vpn");
  EXPECT_EQ(*call->arguments(), EncodableValue(arguments));
}

TEST(MethodCodec, CallEndingAfterTheNameGetsNullArgumentsAndOneInvalidRead) {
  std::unique_ptr<MethodCall<>> call;
  const auto lines = StderrLinesOf([&] { call = Codec().DecodeMethodCall(Hex("07 01 61")); });
  ASSERT_NE(call, nullptr);
  EXPECT_TRUE(call->arguments()->IsNull());
  EXPECT_EQ(lines, std::vector<std::string>{kInvalidRead});
}

TEST(MethodCodec, NameThatIsNotAStringIsNoCall) {
  std::unique_ptr<MethodCall<>> call;
  const auto lines =
      StderrLinesOf([&] { call = Codec().DecodeMethodCall(Hex("03 01 00 00 00 00")); });
  EXPECT_EQ(call, nullptr);
  EXPECT_EQ(lines, std::vector<std::string>{"Invalid method call; method name is not a string."});
}

// Records what an answer envelope drove.
class RecordingResult : public MethodResult<> {
 public:
  std::vector<std::string> calls;

 protected:
  void SuccessInternal(const EncodableValue* result) override {
    calls.push_back(result ? "success " + ToHex(Encode(*result)) : "success");
  }
  void ErrorInternal(const std::string& code, const std::string& message,
                     const EncodableValue* details) override {
    calls.push_back("error " + code + "|" + message + (details ? "|" + ToHex(Encode(*details)) : ""));
  }
  void NotImplementedInternal() override { calls.push_back("not implemented"); }
};

std::vector<std::string> Process(const Bytes& envelope, bool expected_return = true) {
  RecordingResult result;
  EXPECT_EQ(Codec().DecodeAndProcessResponseEnvelope(envelope.data(), envelope.size(), &result),
            expected_return);
  return result.calls;
}

TEST(MethodCodec, ResponseEnvelopesDriveTheResult) {
  EXPECT_EQ(Process(*Codec().EncodeSuccessEnvelope()), std::vector<std::string>{"success"});
  const EncodableValue list(EncodableList{EncodableValue(2.0)});
  EXPECT_EQ(Process(*Codec().EncodeSuccessEnvelope(&list)),
            std::vector<std::string>{"success " + ToHex(Encode(list))});
  EXPECT_EQ(Process(*Codec().EncodeErrorEnvelope("CODE", "")),
            std::vector<std::string>{"error CODE|"});
  const EncodableValue details("why");
  EXPECT_EQ(Process(*Codec().EncodeErrorEnvelope("CODE", "msg", &details)),
            std::vector<std::string>{"error CODE|msg|07 03 77 68 79"});
}

TEST(MethodCodec, UnknownEnvelopeByteLeavesTheResultUntouched) {
  EXPECT_TRUE(Process(Hex("02 00"), false).empty());
}

TEST(MethodCodec, EmptyResponseReadsAsASuccessWithoutValue) {
  std::vector<std::string> calls;
  const auto lines = StderrLinesOf([&] { calls = Process({}); });
  EXPECT_EQ(calls, std::vector<std::string>{"success"});
  EXPECT_EQ(lines, (std::vector<std::string>{kInvalidRead, kInvalidRead}));
}

TEST(MethodCodec, MalformedErrorEnvelopeIsAnErrorWithEmptyTexts) {
  // Code an int32, message a bool: neither is text, nothing is thrown.
  EXPECT_EQ(Process(Hex("01 03 01 00 00 00 01 00")), std::vector<std::string>{"error |"});
}

TEST(MethodCodec, OneCodecPerSerializer) {
  const auto& standard = flutter::StandardCodecSerializer::GetInstance();
  EXPECT_EQ(&StandardMethodCodec::GetInstance(), &StandardMethodCodec::GetInstance(&standard));
  struct OtherSerializer : flutter::StandardCodecSerializer {};
  static const OtherSerializer other;  // codecs are never freed, nor may it be
  const StandardMethodCodec& other_codec = StandardMethodCodec::GetInstance(&other);
  EXPECT_NE(&other_codec, &StandardMethodCodec::GetInstance());
  EXPECT_EQ(&other_codec, &StandardMethodCodec::GetInstance(&other));
}

// Channels may be created on several threads at once, each asking for the
// codec of a serializer not seen before.
TEST(MethodCodec, FirstRequestsFromTwoThreadsGetOneCodec) {
  struct FreshSerializer : flutter::StandardCodecSerializer {};
  static const FreshSerializer serializers[64];  // outlive their codecs, which are never freed
  std::atomic<bool> go{false};
  const auto request_all = [&](std::vector<const StandardMethodCodec*>& codecs) {
    while (!go) std::this_thread::yield();
    for (const auto& serializer : serializers) {
      codecs.push_back(&StandardMethodCodec::GetInstance(&serializer));
    }
  };
  std::vector<const StandardMethodCodec*> first;
  std::vector<const StandardMethodCodec*> second;
  std::thread one([&] { request_all(first); });
  std::thread two([&] { request_all(second); });
  go = true;
  one.join();
  two.join();
  EXPECT_EQ(first, second);
  EXPECT_EQ(std::set<const StandardMethodCodec*>(first.begin(), first.end()).size(),
            std::size(serializers));
}

}  // namespace
}  // namespace velqa_test
