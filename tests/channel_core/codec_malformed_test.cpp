// Decoding input that is cut short, unknown or lying about its sizes: every
// read yields a value, problems are single lines on standard error, and no
// announced size costs more than the input it came with.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/channel_core/codec_test_support.h"

namespace velqa_test {
namespace {

using flutter::EncodableList;
using flutter::EncodableMap;
using flutter::EncodableValue;

struct Decoded {
  EncodableValue value;
  std::vector<std::string> lines;
};

Decoded DecodeCapturing(const Bytes& bytes) {
  Decoded decoded;
  decoded.lines = StderrLinesOf([&] { decoded.value = Decode(bytes); });
  return decoded;
}

constexpr char kNestingLine[] =
    "Nesting deeper than 256 in StandardCodecSerializer::ReadValue; ignoring the rest of the "
    "message.";

std::vector<std::string> InvalidReads(size_t count) {
  return std::vector<std::string>(count, kInvalidRead);
}

TEST(CodecMalformed, EmptyInputIsNullWithOneInvalidRead) {
  const Decoded d = DecodeCapturing({});
  EXPECT_TRUE(d.value.IsNull());
  EXPECT_EQ(d.lines, InvalidReads(1));
}

TEST(CodecMalformed, UnknownTagIsNullAndConsumesNothingMore) {
  const Decoded d = DecodeCapturing(Hex("C8"));
  EXPECT_TRUE(d.value.IsNull());
  EXPECT_EQ(d.lines, std::vector<std::string>{
                         "Unknown type in StandardCodecSerializer::ReadValueOfType: 200"});

  // 0F is the first unknown tag; the 01 after it is the list's next element.
  const Decoded in_list = DecodeCapturing(Hex("0C 02 0F 01"));
  EXPECT_EQ(in_list.value, EncodableValue(EncodableList{EncodableValue(), EncodableValue(true)}));
  EXPECT_EQ(in_list.lines, std::vector<std::string>{
                               "Unknown type in StandardCodecSerializer::ReadValueOfType: 15"});
}

TEST(CodecMalformed, ListCutShortFillsMissingElementsWithNull) {
  // One element present, two missing: one invalid read per missing tag. The
  // present element may be as short as one byte.
  for (const char* present : {"03 2A 00 00 00", "01"}) {
    const Decoded d = DecodeCapturing(Hex(std::string("0C 03 ") + present));
    const auto& list = std::get<EncodableList>(d.value);
    ASSERT_EQ(list.size(), 3u) << present;
    EXPECT_FALSE(list[0].IsNull());
    EXPECT_TRUE(list[1].IsNull());
    EXPECT_TRUE(list[2].IsNull());
    EXPECT_EQ(d.lines, InvalidReads(2)) << present;
  }
}

TEST(CodecMalformed, EmptyInt32ListAtTheEndAlignsPastItAndReportsOnce) {
  const Decoded d = DecodeCapturing(Hex("09 00"));
  EXPECT_EQ(d.value, EncodableValue(std::vector<int32_t>{}));
  EXPECT_EQ(d.lines, InvalidReads(1));
}

TEST(CodecMalformed, ShortNumberReadsAsZeroAndLeavesThePositionAlone) {
  // The int32 needs four bytes and finds two; its read fails without moving,
  // so the list's second element starts at the very next byte (01 = true).
  const Decoded d = DecodeCapturing(Hex("0C 02 03 01 02"));
  EXPECT_EQ(d.value, EncodableValue(EncodableList{EncodableValue(int32_t{0}), EncodableValue(true)}));
  EXPECT_EQ(d.lines, InvalidReads(1));

  const Decoded size = DecodeCapturing(Hex("07 FE 01"));  // two-byte size cut short
  EXPECT_EQ(size.value, EncodableValue(std::string()));
  EXPECT_EQ(size.lines, InvalidReads(1));
}

TEST(CodecMalformed, StringOrTypedListLongerThanTheInputDecodesEmpty) {
  struct Case {
    const char* bytes;
    EncodableValue expected;
  };
  const Case cases[] = {
      {"07 05 61 62", EncodableValue(std::string())},
      {"05 FF FF FF FF FF 31", EncodableValue(std::string())},
      {"08 FF FF FF FF FF 01 02 03", EncodableValue(std::vector<uint8_t>{})},
      {"09 FF FF FF FF FF 00 00 00 00", EncodableValue(std::vector<int32_t>{})},
      {"0A 03 00 00 00 00 00 00 01 00 00 00 00 00 00 00", EncodableValue(std::vector<int64_t>{})},
      {"0B FF FF FF FF FF", EncodableValue(std::vector<double>{})},
      {"0E FE FF FF 00 00", EncodableValue(std::vector<float>{})},
  };
  for (const Case& c : cases) {
    const Decoded d = DecodeCapturing(Hex(c.bytes));
    EXPECT_EQ(d.value, c.expected) << c.bytes;
    EXPECT_EQ(d.lines, InvalidReads(1)) << c.bytes;
  }
}

TEST(CodecMalformed, RefusedStringConsumesNothingBeyondItsSize) {
  // The string announces 9 bytes and has 2: it decodes empty, and the list
  // reads its second element right after the size byte (01 = true).
  const Decoded d = DecodeCapturing(Hex("0C 02 07 09 01 02"));
  EXPECT_EQ(d.value,
            EncodableValue(EncodableList{EncodableValue(std::string()), EncodableValue(true)}));
  EXPECT_EQ(d.lines, InvalidReads(1));
}

TEST(CodecMalformed, HugeListCountYieldsPresentElementsAndAFewMissingOnes) {
  // 2^32 - 1 elements announced, two present: the decoder stops after at most
  // 16 missing elements instead of making four billion nulls.
  const Decoded d = DecodeCapturing(Hex("0C FF FF FF FF FF 01 02"));
  const auto& list = std::get<EncodableList>(d.value);
  ASSERT_EQ(list.size(), 18u);
  EXPECT_EQ(list[0], EncodableValue(true));
  EXPECT_EQ(list[1], EncodableValue(false));
  for (size_t i = 2; i < list.size(); ++i) EXPECT_TRUE(list[i].IsNull());
  EXPECT_EQ(d.lines, InvalidReads(16));
}

TEST(CodecMalformed, HugeMapCountStopsAfterAFewMissingEntries) {
  const Decoded d = DecodeCapturing(Hex("0D FF FF FF FF FF 07 01 61 01"));
  EncodableMap expected;
  expected[EncodableValue("a")] = EncodableValue(true);
  expected[EncodableValue()] = EncodableValue();  // every missing entry is null: null
  EXPECT_EQ(d.value, EncodableValue(expected));
  EXPECT_EQ(d.lines, InvalidReads(32));  // key and value of 16 missing entries
}

TEST(CodecMalformed, NestedHugeCountsStayBounded) {
  // Each level announces four billion elements and holds only the next level.
  Bytes bytes;
  for (int i = 0; i < 100; ++i) {
    for (uint8_t b : Hex("0C FF FF FF FF FF")) bytes.push_back(b);
  }
  size_t lines = 0;
  EncodableValue value;
  lines = StderrLinesOf([&] { value = Decode(bytes); }).size();
  EXPECT_EQ(lines, 100u * 16u);
  EXPECT_EQ(std::get<EncodableList>(value).size(), 17u);
}

TEST(CodecMalformed, MapKeepsTheFirstOccurrenceOfADuplicateKey) {
  const Decoded d = DecodeCapturing(Hex("0D 03 07 01 61 03 01 00 00 00 07 01 62 00 "
                                        "07 01 61 03 02 00 00 00"));
  EncodableMap expected;
  expected[EncodableValue("a")] = EncodableValue(int32_t{1});
  expected[EncodableValue("b")] = EncodableValue();
  EXPECT_EQ(d.value, EncodableValue(expected));
  EXPECT_TRUE(d.lines.empty());
}

EncodableValue Nested(int depth, EncodableValue inner) {
  for (int i = 0; i < depth; ++i) inner = EncodableValue(EncodableList{std::move(inner)});
  return inner;
}

int ListDepth(const EncodableValue& value) {
  int depth = 0;
  for (const EncodableValue* v = &value; std::holds_alternative<EncodableList>(*v);
       v = &std::get<EncodableList>(*v).front()) {
    ++depth;
    if (std::get<EncodableList>(*v).empty()) break;
  }
  return depth;
}

TEST(CodecMalformed, DeepNestingIsDecodedUpToTheLimit) {
  const EncodableValue deepest_allowed = Nested(256, EncodableValue(int32_t{9}));
  const Decoded ok = DecodeCapturing(Encode(deepest_allowed));
  EXPECT_EQ(ok.value, deepest_allowed);
  EXPECT_TRUE(ok.lines.empty());

  // Far deeper input must neither exhaust the stack nor be parsed again.
  Bytes bytes;
  for (int i = 0; i < 100000; ++i) {
    bytes.push_back(0x0C);
    bytes.push_back(0x01);
  }
  bytes.push_back(0x00);
  const Decoded deep = DecodeCapturing(bytes);
  EXPECT_EQ(ListDepth(deep.value), 256);  // the 257th list became null
  EXPECT_EQ(deep.lines, std::vector<std::string>{kNestingLine});
}

TEST(CodecMalformed, RestOfTheMessageAfterTheNestingLimitIsIgnored) {
  // Every level announces more entries than it holds; once the limit is hit,
  // no enclosing collection may go on to fill in its missing ones.
  for (const char* level : {"0D 02", "0C 03", "0D FF FF FF FF FF"}) {
    Bytes bytes;
    for (int i = 0; i < 300; ++i) {
      for (uint8_t b : Hex(level)) bytes.push_back(b);
    }
    const Decoded deep = DecodeCapturing(bytes);
    EXPECT_EQ(deep.lines, std::vector<std::string>{kNestingLine}) << level;
  }
}

// A serializer whose extra type carries a whole message, decoded with a
// reader of its own: the two reads are counted apart.
class EmbeddedMessageSerializer : public flutter::StandardCodecSerializer {
 public:
  static constexpr uint8_t kEmbeddedTag = 129;

 protected:
  EncodableValue ReadValueOfType(uint8_t type, flutter::ByteStreamReader* stream) const override {
    if (type != kEmbeddedTag) return StandardCodecSerializer::ReadValueOfType(type, stream);
    Bytes message(ReadSize(stream));
    stream->ReadBytes(message.data(), message.size());
    flutter::ByteBufferStreamReader reader(message.data(), message.size());
    return ReadValue(&reader);
  }
};

TEST(CodecMalformed, MessageDecodedInsideAnotherHasItsOwnNestingLimit) {
  const EmbeddedMessageSerializer serializer;
  const auto list_of_embedded_then_seven = [&](const Bytes& embedded) {
    Bytes bytes = Hex("0C 02 81 FE");
    bytes.push_back(static_cast<uint8_t>(embedded.size()));
    bytes.push_back(static_cast<uint8_t>(embedded.size() >> 8));
    bytes.insert(bytes.end(), embedded.begin(), embedded.end());
    for (uint8_t b : Hex("03 07 00 00 00")) bytes.push_back(b);
    Decoded decoded;
    decoded.lines = StderrLinesOf([&] { decoded.value = Decode(bytes, 0, serializer); });
    return decoded;
  };
  // As deep as a message may be: not counted on top of the enclosing one.
  const EncodableValue deepest_allowed = Nested(256, EncodableValue(int32_t{9}));
  const Decoded whole = list_of_embedded_then_seven(Encode(deepest_allowed));
  EXPECT_EQ(whole.value, EncodableValue(EncodableList{deepest_allowed, EncodableValue(int32_t{7})}));
  EXPECT_TRUE(whole.lines.empty());

  // Too deep: the embedded message gives up on its rest, not on the
  // enclosing message's.
  Bytes too_deep;
  for (int i = 0; i < 300; ++i) {
    too_deep.push_back(0x0C);
    too_deep.push_back(0x01);
  }
  const Decoded refused = list_of_embedded_then_seven(too_deep);
  const auto& list = std::get<EncodableList>(refused.value);
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(ListDepth(list[0]), 256);
  EXPECT_EQ(list[1], EncodableValue(int32_t{7}));
  EXPECT_EQ(refused.lines, std::vector<std::string>{kNestingLine});
}

}  // namespace
}  // namespace velqa_test
