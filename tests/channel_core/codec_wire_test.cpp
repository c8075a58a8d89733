// The exact bytes of the standard codec: tags, payloads, sizes and alignment.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "tests/channel_core/codec_test_support.h"

namespace velqa_test {
namespace {

using flutter::CustomEncodableValue;
using flutter::EncodableList;
using flutter::EncodableMap;
using flutter::EncodableValue;

TEST(CodecWire, ScalarsEncodeToTheirTagsAndLittleEndianPayloads) {
  EXPECT_EQ(ToHex(Encode(EncodableValue())), "00");
  EXPECT_EQ(ToHex(Encode(EncodableValue(true))), "01");
  EXPECT_EQ(ToHex(Encode(EncodableValue(false))), "02");
  EXPECT_EQ(ToHex(Encode(EncodableValue(int32_t{5}))), "03 05 00 00 00");
  EXPECT_EQ(ToHex(Encode(EncodableValue(int32_t{-2}))), "03 FE FF FF FF");
  // The alternative decides the width, never the magnitude.
  EXPECT_EQ(ToHex(Encode(EncodableValue(int64_t{5}))), "04 05 00 00 00 00 00 00 00");
  EXPECT_EQ(ToHex(Encode(EncodableValue(int64_t{0x0102030405060708}))),
            "04 08 07 06 05 04 03 02 01");
  EXPECT_EQ(ToHex(Encode(EncodableValue(1.0))),
            "06 00 00 00 00 00 00 00 00 00 00 00 00 00 F0 3F");
  EXPECT_EQ(ToHex(Encode(EncodableValue("abc"))), "07 03 61 62 63");
  EXPECT_EQ(ToHex(Encode(EncodableValue(std::string()))), "07 00");
}

TEST(CodecWire, SizesUseOneThreeOrFiveBytes) {
  struct Case {
    size_t length;
    std::string header;
  };
  for (const Case& c : {Case{0, "07 00"}, Case{253, "07 FD"}, Case{254, "07 FE FE 00"},
                        Case{255, "07 FE FF 00"}, Case{65535, "07 FE FF FF"},
                        Case{65536, "07 FF 00 00 01 00"}, Case{70000, "07 FF 70 11 01 00"}}) {
    const std::string text(c.length, 'x');
    const Bytes bytes = Encode(EncodableValue(text));
    const Bytes header = Hex(c.header);
    ASSERT_EQ(bytes.size(), header.size() + c.length) << c.length;
    EXPECT_EQ(ToHex(Bytes(bytes.begin(), bytes.begin() + header.size())), c.header);
    EXPECT_EQ(Decode(bytes), EncodableValue(text)) << c.length;
  }
}

TEST(CodecWire, StringBytesAreCarriedUnchanged) {
  const std::string text("\xE7\x94\xB5\x00\xFF", 5);  // UTF-8, a NUL and an invalid byte
  EXPECT_EQ(ToHex(Encode(EncodableValue(text))), "07 05 E7 94 B5 00 FF");
  EXPECT_EQ(Decode(Encode(EncodableValue(text))), EncodableValue(text));
}

TEST(CodecWire, TypedListsPadToTheirElementWidth) {
  EXPECT_EQ(ToHex(Encode(EncodableValue(std::vector<int32_t>{1}))), "09 01 00 00 01 00 00 00");
  // Empty lists are padded as well, because readers align whatever the count.
  EXPECT_EQ(ToHex(Encode(EncodableValue(std::vector<int32_t>{}))), "09 00 00 00");
  EXPECT_EQ(ToHex(Encode(EncodableValue(std::vector<double>{}))), "0B 00 00 00 00 00 00 00");
  EXPECT_EQ(ToHex(Encode(EncodableValue(std::vector<uint8_t>{}))), "08 00");
  EXPECT_EQ(ToHex(Encode(EncodableValue(std::vector<uint8_t>{1, 2}))), "08 02 01 02");
  EXPECT_EQ(ToHex(Encode(EncodableValue(std::vector<int64_t>{-1}))),
            "0A 01 00 00 00 00 00 00 FF FF FF FF FF FF FF FF");
  EXPECT_EQ(ToHex(Encode(EncodableValue(std::vector<double>{1.0}))),
            "0B 01 00 00 00 00 00 00 00 00 00 00 00 00 F0 3F");
  // The float list has tag 14 although it is the last alternative.
  EXPECT_EQ(ToHex(Encode(EncodableValue(std::vector<float>{1.0f}))), "0E 01 00 00 00 00 80 3F");
  EXPECT_EQ(ToHex(Encode(EncodableValue(std::vector<float>{}))), "0E 00 00 00");
}

TEST(CodecWire, ListsAndMapsEncodeElementsInOrderAndKeysAscending) {
  EXPECT_EQ(ToHex(Encode(EncodableValue(EncodableList{EncodableValue(true), EncodableValue()}))),
            "0C 02 01 00");
  EncodableMap map;
  map[EncodableValue("b")] = EncodableValue(int32_t{1});
  map[EncodableValue("a")] = EncodableValue(int32_t{2});
  EXPECT_EQ(ToHex(Encode(EncodableValue(map))),
            "0D 02 07 01 61 03 02 00 00 00 07 01 62 03 01 00 00 00");

  EncodableMap mixed;
  mixed[EncodableValue("k")] = EncodableValue();
  mixed[EncodableValue(int32_t{7})] = EncodableValue();
  EXPECT_EQ(ToHex(Encode(EncodableValue(mixed))), "0D 02 03 07 00 00 00 00 07 01 6B 00");
}

TEST(CodecWire, CustomValueGoesOutAsNullWithALine) {
  Bytes bytes;
  const auto lines = StderrLinesOf(
      [&] { bytes = Encode(EncodableValue(EncodableList{CustomEncodableValue(std::any(3))})); });
  EXPECT_EQ(ToHex(bytes), "0C 01 00");
  EXPECT_EQ(lines, std::vector<std::string>{
                       "Unhandled custom type in StandardCodecSerializer::WriteValue. "
                       "Custom types require codec extensions."});
}

TEST(CodecWire, TagFiveReadsAsString) {
  EXPECT_EQ(Decode(Hex("05 02 31 32")), EncodableValue("12"));
}

// Alignment counts from the first byte of the message, so the padding after a
// prefix of every length must bring the payload to a multiple of its width.
class CodecAlignment : public testing::TestWithParam<size_t> {};

TEST_P(CodecAlignment, PaddingCountsFromTheFirstByteOfTheMessage) {
  const size_t prefix_length = GetParam();
  const Bytes prefix(prefix_length, 0xAA);
  struct Case {
    EncodableValue value;
    size_t width;
    size_t header;  // tag and size bytes before the padding
  };
  const Case cases[] = {
      {EncodableValue(-2.5), 8, 1},
      {EncodableValue(std::vector<int32_t>{7, -7}), 4, 2},
      {EncodableValue(std::vector<float>{0.5f}), 4, 2},
      {EncodableValue(std::vector<int64_t>{1, 2, 3}), 8, 2},
      {EncodableValue(std::vector<double>{std::numeric_limits<double>::infinity()}), 8, 2},
  };
  for (const Case& c : cases) {
    const Bytes bytes = Encode(c.value, prefix);
    const size_t unpadded = prefix_length + c.header;
    const size_t padding = (c.width - unpadded % c.width) % c.width;
    for (size_t i = unpadded; i < unpadded + padding; ++i) {
      EXPECT_EQ(bytes[i], 0) << "padding byte " << i;
    }
    EXPECT_EQ((unpadded + padding) % c.width, 0u);
    EXPECT_EQ(Decode(bytes, prefix_length), c.value) << ToHex(bytes);
  }
}

INSTANTIATE_TEST_SUITE_P(EveryOffset, CodecAlignment, testing::Range<size_t>(0, 8));

TEST(CodecWire, EmptyTypedListInsideAListKeepsTheValuesAfterIt) {
  const EncodableValue list(EncodableList{EncodableValue(true),
                                          EncodableValue(std::vector<int64_t>{}),
                                          EncodableValue(int32_t{3})});
  EXPECT_EQ(ToHex(Encode(list)), "0C 03 01 0A 00 00 00 00 03 03 00 00 00");
  EXPECT_EQ(Decode(Encode(list)), list);
}

TEST(CodecWire, ValuesInsideAListAlignAgainstTheWholeMessage) {
  // 0C 02 01 06 is four bytes: the double pads four zero bytes to reach 8.
  const EncodableValue list(EncodableList{EncodableValue(true), EncodableValue(2.0)});
  EXPECT_EQ(ToHex(Encode(list)), "0C 02 01 06 00 00 00 00 00 00 00 00 00 00 00 40");
  EXPECT_EQ(Decode(Encode(list)), list);
}

}  // namespace
}  // namespace velqa_test
