// The stand-in engine's scripted Dart side: script lines, JSON arguments,
// entry-point options and the readable reply text.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "channel/standard_method_codec.h"
#include "standins/flutter_windows/dart_script.h"
#include "standins/flutter_windows/json_to_encodable.h"
#include "standins/flutter_windows/value_text.h"

namespace velqa::standin {
namespace {

using flutter::EncodableList;
using flutter::EncodableMap;
using flutter::EncodableValue;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

std::vector<uint8_t> Bytes(const std::string& hex) {
  std::vector<uint8_t> bytes;
  EXPECT_TRUE(FromHex(hex, &bytes)) << hex;
  return bytes;
}

EncodableValue Json(const std::string& text) {
  std::string error;
  std::optional<EncodableValue> value = ParseJson(text, &error);
  EXPECT_TRUE(value.has_value()) << text << ": " << error;
  return value.value_or(EncodableValue());
}

TEST(StandinJsonTest, IntegersTakeTheNarrowestFittingWidth) {
  EXPECT_EQ(Json("2147483647"), EncodableValue(int32_t{2147483647}));
  EXPECT_EQ(Json("-2147483648"), EncodableValue(int32_t{-2147483647 - 1}));
  EXPECT_EQ(Json("2147483648"), EncodableValue(int64_t{2147483648}));
  EXPECT_EQ(Json("-2147483649"), EncodableValue(int64_t{-2147483649}));
  EXPECT_TRUE(std::holds_alternative<int64_t>(Json("9223372036854775807")));
  EXPECT_TRUE(std::holds_alternative<int64_t>(Json("-9223372036854775808")));
}

TEST(StandinJsonTest, FractionsAndExponentsAreDoubles) {
  EXPECT_EQ(Json("1.0"), EncodableValue(1.0));
  EXPECT_EQ(Json("1e3"), EncodableValue(1000.0));
  EXPECT_EQ(Json("-2.5E-1"), EncodableValue(-0.25));
}

TEST(StandinJsonTest, ObjectsAndArraysNest) {
  EncodableValue value = Json(
      R"( {"config_path": "C:\\cfg.json", "n": [1, true, null, {"x": "\u00fc\ud83d\ude00"}]} )");
  EncodableMap expected{
      {EncodableValue("config_path"), EncodableValue("C:\\cfg.json")},
      {EncodableValue("n"),
       EncodableValue(EncodableList{
           EncodableValue(1), EncodableValue(true), EncodableValue(),
           EncodableValue(
               EncodableMap{{EncodableValue("x"), EncodableValue("\xC3\xBC\xF0\x9F\x98\x80")}})})}};
  EXPECT_EQ(value, EncodableValue(expected));
}

TEST(StandinJsonTest, MalformedTextIsRefusedWithAReason) {
  for (const char* text :
       {"", "{", "[1,]", "{\"a\" 1}", "tru", "1 2", "\"open", "{1:2}", "99999999999999999999",
        "\"\\ud800\"", "01x", "9223372036854775808", "-9223372036854775809"}) {
    std::string error;
    EXPECT_FALSE(ParseJson(text, &error).has_value()) << text;
    EXPECT_FALSE(error.empty()) << text;
  }
}

TEST(StandinJsonTest, NestingStopsAfter65Containers) {
  auto nested = [](int depth) { return std::string(depth, '[') + std::string(depth, ']'); };
  std::string error;
  EXPECT_TRUE(ParseJson(nested(65), &error).has_value()) << error;
  EXPECT_FALSE(ParseJson(nested(66), &error).has_value());
  EXPECT_FALSE(error.empty());
}

TEST(StandinScriptTest, CallsEncodeWithStandardMethodFraming) {
  std::string error;
  auto steps = ParseDartScript(
      "# comment\r\n\ncall stop_vpn\r\ncall start_vpn {\"config_path\": \"a\"}\n", &error);
  ASSERT_TRUE(steps.has_value()) << error;
  ASSERT_EQ(steps->size(), 2u);
  EXPECT_EQ((*steps)[0].kind, ScriptStep::Kind::kSend);
  EXPECT_EQ((*steps)[0].method, "stop_vpn");
  EXPECT_EQ((*steps)[0].message, Bytes("0708 73746f705f76706e 00"));
  EXPECT_EQ((*steps)[0].line, 3);
  EXPECT_EQ((*steps)[1].message,
            Bytes("0709 73746172745f76706e 0d01 070b 636f6e6669675f70617468 070161"));
  // The stand-in's encoding is the one the host decodes.
  auto call = flutter::StandardMethodCodec::GetInstance().DecodeMethodCall((*steps)[1].message);
  ASSERT_NE(call, nullptr);
  EXPECT_EQ(call->method_name(), "start_vpn");
}

TEST(StandinScriptTest, RawSleepExitAndClose) {
  std::string error;
  auto steps =
      ParseDartScript("\xEF\xBB\xBFraw bogus 03 05 00 00 00\nsleep 250\nexit\nclose\n", &error);
  ASSERT_TRUE(steps.has_value()) << error;
  ASSERT_EQ(steps->size(), 4u);
  EXPECT_EQ((*steps)[0].method, "bogus");
  EXPECT_EQ((*steps)[0].message, Bytes("0305000000"));
  EXPECT_EQ((*steps)[1].kind, ScriptStep::Kind::kSleep);
  EXPECT_EQ((*steps)[1].milliseconds, 250u);
  EXPECT_EQ((*steps)[2].kind, ScriptStep::Kind::kExit);
  EXPECT_EQ((*steps)[3].kind, ScriptStep::Kind::kClose);
}

TEST(StandinScriptTest, CrashesNameTheirKindAndThread) {
  std::string error;
  auto steps = ParseDartScript("crash stack-overflow\ncrash terminate worker\n", &error);
  ASSERT_TRUE(steps.has_value()) << error;
  ASSERT_EQ(steps->size(), 2u);
  EXPECT_EQ((*steps)[0].kind, ScriptStep::Kind::kCrash);
  EXPECT_EQ((*steps)[0].crash, CrashKind::kStackOverflow);
  EXPECT_FALSE((*steps)[0].on_worker);
  EXPECT_EQ((*steps)[1].crash, CrashKind::kTerminate);
  EXPECT_TRUE((*steps)[1].on_worker);
}

TEST(StandinScriptTest, AnEmptyRawMessageIsAllowed) {
  std::string error;
  auto steps = ParseDartScript("raw empty\n", &error);
  ASSERT_TRUE(steps.has_value()) << error;
  EXPECT_TRUE((*steps)[0].message.empty());
}

TEST(StandinScriptTest, FaultsNameTheirLine) {
  const std::pair<const char*, const char*> cases[] = {
      {"call\n", "line 1: call needs a method name"},
      {"\n\ncall m {bad\n", "line 3: bad JSON arguments"},
      {"raw m 0g\n", "line 1: bad hex bytes"},
      {"raw m 123\n", "line 1: bad hex bytes"},
      {"sleep\n", "line 1: sleep needs"},
      {"sleep -5\n", "line 1: sleep needs"},
      {"sleep 5ms\n", "line 1: sleep needs"},
      {"exit now\n", "line 1: exit takes no argument"},
      {"jump 3\n", "line 1: unknown command 'jump'"},
      {"crash\n", "line 1: unknown crash ''"},
      {"crash melt\n", "line 1: unknown crash 'melt'"},
      {"crash terminate later\n", "line 1: crash takes only 'worker'"}};
  for (const auto& [script, message] : cases) {
    std::string error;
    EXPECT_FALSE(ParseDartScript(script, &error).has_value()) << script;
    EXPECT_THAT(error, HasSubstr(message)) << script;
  }
}

TEST(StandinOptionsTest, BothSpellingsAndOtherArgumentsIgnored) {
  DartOptions options =
      ParseDartOptions({"--verbose", "--dart-script", "s.txt", "--dart-replies=r.txt", "plain",
                        "--dart-events", "e", "--dart-args-out"});
  EXPECT_EQ(options.script, "s.txt");
  EXPECT_EQ(options.replies, "r.txt");
  EXPECT_EQ(options.events, "e");
  EXPECT_EQ(options.args_out, "");  // a trailing option without a value
}

TEST(StandinOptionsTest, ConsumedMessagesAreDecimalNumbers) {
  DartOptions options = ParseDartOptions({"--dart-consume=29, 5,x,,7y,0x10,16"});
  EXPECT_THAT(options.ConsumedMessages(), ElementsAre(29u, 5u, 16u));
  EXPECT_THAT(ParseDartOptions({}).ConsumedMessages(), ::testing::IsEmpty());
}

TEST(StandinReplyTextTest, EnvelopesReadAsText) {
  auto describe = [](const std::string& hex) {
    std::vector<uint8_t> bytes = Bytes(hex);
    return DescribeReply(bytes.data(), bytes.size());
  };
  EXPECT_EQ(describe(""), "not implemented");
  EXPECT_EQ(describe("0001"), "success true");
  EXPECT_EQ(describe("0000"), "success null");
  EXPECT_EQ(describe("01 0702 4f4b 0702 6869 00"), "error \"OK\" \"hi\" null");
  EXPECT_EQ(describe("00 0d01 070161 0302000000"), "success {\"a\":2}");
  EXPECT_EQ(describe("00 0c02 0401000000 00000000 0700"), "success [1,\"\"]");
  EXPECT_EQ(describe("02"), "unknown envelope 2");
}

TEST(StandinReplyTextTest, StringsAreQuotedWithEscapes) {
  EXPECT_EQ(DescribeValue(EncodableValue(std::string("a\"b\\c\td\n\x01\xC3\xBC"))),
            "\"a\\\"b\\\\c\\td\\n\\u0001\xC3\xBC\"");
  EXPECT_EQ(DescribeValue(EncodableValue(std::vector<double>{0.5, 2})), "[0.5,2]");
}

TEST(StandinHexTest, RoundTripAndRejects) {
  const uint8_t bytes[] = {0x00, 0xAB, 0x7F, 0xFF};
  EXPECT_EQ(ToHex(bytes, sizeof(bytes)), "00ab7fff");
  std::vector<uint8_t> back;
  EXPECT_TRUE(FromHex("00 AB 7f ff", &back));
  EXPECT_THAT(back, ElementsAre(0x00, 0xAB, 0x7F, 0xFF));
  EXPECT_FALSE(FromHex("abc", &back));
  EXPECT_FALSE(FromHex("zz", &back));
}

}  // namespace
}  // namespace velqa::standin
