// Every alternative survives encoding and decoding alone, nested in lists and
// maps, and after prefixes of every length; a derived serializer applies at
// every depth.
#include <gtest/gtest.h>

#include <any>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "channel/byte_streams.h"
#include "tests/channel_core/codec_test_support.h"

namespace velqa_test {
namespace {

using flutter::ByteBufferStreamReader;
using flutter::ByteBufferStreamWriter;
using flutter::ByteStreamReader;
using flutter::ByteStreamWriter;
using flutter::CustomEncodableValue;
using flutter::EncodableList;
using flutter::EncodableMap;
using flutter::EncodableValue;
using flutter::StandardCodecSerializer;

std::vector<EncodableValue> SampleOfEveryAlternative() {
  EncodableMap map;
  map[EncodableValue("config_path")] = EncodableValue("C:\\配置\\config.json");
  map[EncodableValue(int32_t{-1})] = EncodableValue(std::vector<uint8_t>{0, 255});
  return {
      EncodableValue(),
      EncodableValue(true),
      EncodableValue(false),
      EncodableValue(std::numeric_limits<int32_t>::min()),
      EncodableValue(std::numeric_limits<int64_t>::max()),
      EncodableValue(int64_t{-1}),
      EncodableValue(-0.0),
      EncodableValue(std::numeric_limits<double>::denorm_min()),
      EncodableValue(std::string(300, 'z')),
      EncodableValue(std::vector<uint8_t>(70000, 0x5A)),
      EncodableValue(std::vector<int32_t>{std::numeric_limits<int32_t>::min(), 0, 3}),
      EncodableValue(std::vector<int64_t>{std::numeric_limits<int64_t>::min(), 1}),
      EncodableValue(std::vector<double>{-1.5, std::numeric_limits<double>::infinity()}),
      EncodableValue(EncodableList{EncodableValue(1.25), EncodableValue("x")}),
      EncodableValue(map),
      EncodableValue(std::vector<float>{0.25f, -3.0f, 1e30f}),
      EncodableValue(std::vector<int32_t>{}),
      EncodableValue(EncodableMap{}),
  };
}

// Compares through the bytes too, so that -0.0 and 0.0 (equal as numbers)
// still count as different.
void ExpectRoundTrip(const EncodableValue& value, const Bytes& prefix = {}) {
  const Bytes bytes = Encode(value, prefix);
  std::vector<std::string> lines;
  EncodableValue decoded;
  lines = StderrLinesOf([&] { decoded = Decode(bytes, prefix.size()); });
  EXPECT_EQ(decoded, value) << ToHex(bytes);
  EXPECT_EQ(Encode(decoded, prefix), bytes);
  EXPECT_TRUE(lines.empty()) << lines.front();
}

TEST(CodecRoundTrip, EveryAlternativeAlone) {
  for (const EncodableValue& value : SampleOfEveryAlternative()) ExpectRoundTrip(value);
}

TEST(CodecRoundTrip, EveryAlternativeNestedInListsAndMaps) {
  const auto samples = SampleOfEveryAlternative();
  ExpectRoundTrip(EncodableValue(EncodableList(samples.begin(), samples.end())));
  for (const EncodableValue& value : samples) {
    ExpectRoundTrip(EncodableValue(EncodableList{EncodableValue(true), value, EncodableValue(1)}));
    EncodableMap as_value;
    as_value[EncodableValue("v")] = value;
    ExpectRoundTrip(EncodableValue(as_value));
    EncodableMap as_key;
    as_key[value] = EncodableValue(int32_t{1});
    as_key[EncodableValue("other")] = value;
    ExpectRoundTrip(EncodableValue(as_key));
  }
}

TEST(CodecRoundTrip, EveryAlternativeAfterPrefixesOfEveryLength) {
  for (size_t length = 1; length <= 8; ++length) {
    for (const EncodableValue& value : SampleOfEveryAlternative()) {
      ExpectRoundTrip(value, Bytes(length, 0x01));
      ExpectRoundTrip(EncodableValue(EncodableList{EncodableValue(int32_t{1}), value}),
                      Bytes(length, 0x00));
    }
  }
}

TEST(CodecRoundTrip, NaNKeepsItsBitsAndMapsOfNaNStayConsistent) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const Bytes bytes = Encode(EncodableValue(nan));
  const double decoded = std::get<double>(Decode(bytes));
  EXPECT_EQ(std::memcmp(&decoded, &nan, sizeof(double)), 0);

  EncodableMap map;
  map[EncodableValue(1.0)] = EncodableValue(true);
  map[EncodableValue(nan)] = EncodableValue(false);
  map[EncodableValue(2.0)] = EncodableValue();
  ASSERT_EQ(map.size(), 3u);
  EXPECT_TRUE(std::isnan(std::get<double>(map.rbegin()->first)));
  EXPECT_EQ(Encode(Decode(Encode(EncodableValue(map)))), Encode(EncodableValue(map)));
}

// A serializer with one extra type: custom values holding a Point.
struct Point {
  int32_t x;
  int32_t y;
};

class PointSerializer : public StandardCodecSerializer {
 public:
  static constexpr uint8_t kPointTag = 128;

  void WriteValue(const EncodableValue& value, ByteStreamWriter* stream) const override {
    if (const auto* custom = std::get_if<CustomEncodableValue>(&value)) {
      const Point& point = std::any_cast<const Point&>(custom->value());
      stream->WriteByte(kPointTag);
      stream->WriteInt32(point.x);
      stream->WriteInt32(point.y);
      return;
    }
    StandardCodecSerializer::WriteValue(value, stream);
  }

  size_t Size(const Bytes& bytes) const {
    ByteBufferStreamReader reader(bytes.data(), bytes.size());
    return ReadSize(&reader);
  }
  Bytes SizeBytes(size_t size) const {
    Bytes bytes;
    ByteBufferStreamWriter writer(&bytes);
    WriteSize(size, &writer);
    return bytes;
  }

 protected:
  EncodableValue ReadValueOfType(uint8_t type, ByteStreamReader* stream) const override {
    if (type == kPointTag) {
      Point point{stream->ReadInt32(), 0};
      point.y = stream->ReadInt32();
      return EncodableValue(CustomEncodableValue(point));
    }
    return StandardCodecSerializer::ReadValueOfType(type, stream);
  }
};

TEST(CodecRoundTrip, DerivedSerializerAppliesAtEveryDepth) {
  const PointSerializer serializer;
  EncodableMap map;
  map[EncodableValue("p")] =
      EncodableValue(EncodableList{EncodableValue(CustomEncodableValue(Point{3, -4}))});
  const Bytes bytes = Encode(EncodableValue(map), {}, serializer);
  EXPECT_EQ(ToHex(bytes), "0D 01 07 01 70 0C 01 80 03 00 00 00 FC FF FF FF");

  const EncodableValue decoded = Decode(bytes, 0, serializer);
  const auto& list = std::get<EncodableList>(std::get<EncodableMap>(decoded).at(EncodableValue("p")));
  const auto& point = std::any_cast<const Point&>(std::get<CustomEncodableValue>(list[0]).value());
  EXPECT_EQ(point.x, 3);
  EXPECT_EQ(point.y, -4);
}

// A writer and a reader of their own, which the serializer can only reach
// through the virtual operations; the reader cannot tell how much is left.
class VectorWriter : public ByteStreamWriter {
 public:
  Bytes bytes;
  int calls = 0;
  void WriteByte(uint8_t byte) override {
    ++calls;
    bytes.push_back(byte);
  }
  void WriteBytes(const uint8_t* data, size_t length) override {
    ++calls;
    bytes.insert(bytes.end(), data, data + length);
  }
  void WriteAlignment(uint8_t alignment) override {
    while (bytes.size() % alignment != 0) WriteByte(0);
  }
};

class PlainReader : public ByteStreamReader {
 public:
  explicit PlainReader(const Bytes& bytes) : bytes_(bytes) {}
  uint8_t ReadByte() override { return position_ < bytes_.size() ? bytes_[position_++] : 0; }
  void ReadBytes(uint8_t* buffer, size_t length) override {
    for (size_t i = 0; i < length; ++i) buffer[i] = ReadByte();
  }
  void ReadAlignment(uint8_t alignment) override {
    while (position_ % alignment != 0) ++position_;
  }

 private:
  const Bytes& bytes_;
  size_t position_ = 0;
};

// A buffer writer with one operation replaced must be called, not bypassed.
class CountingBufferWriter : public ByteBufferStreamWriter {
 public:
  using ByteBufferStreamWriter::ByteBufferStreamWriter;
  int bytes_written = 0;
  void WriteByte(uint8_t byte) override {
    ++bytes_written;
    ByteBufferStreamWriter::WriteByte(byte);
  }
};

TEST(CodecRoundTrip, OtherWritersAndReadersSeeTheSameBytes) {
  const auto& serializer = StandardCodecSerializer::GetInstance();
  const auto samples = SampleOfEveryAlternative();
  const EncodableValue all(EncodableList(samples.begin(), samples.end()));

  VectorWriter writer;
  writer.WriteByte(0x01);  // an envelope byte, so alignment is exercised
  serializer.WriteValue(all, &writer);
  EXPECT_EQ(writer.bytes, Encode(all, {0x01}));
  EXPECT_GT(writer.calls, 50);

  Bytes counted_bytes;
  CountingBufferWriter counting(&counted_bytes);
  serializer.WriteValue(all, &counting);
  EXPECT_EQ(counted_bytes, Encode(all));
  EXPECT_GT(counting.bytes_written, 50);

  PlainReader reader(writer.bytes);
  reader.ReadByte();
  EXPECT_EQ(serializer.ReadValue(&reader), all);
}

TEST(CodecRoundTrip, SizeEncodingAtItsBoundaries) {
  const PointSerializer serializer;
  for (size_t size : {size_t{0}, size_t{253}, size_t{254}, size_t{255}, size_t{65535},
                      size_t{65536}, size_t{0xFFFFFFFF}}) {
    EXPECT_EQ(serializer.Size(serializer.SizeBytes(size)), size) << size;
  }
  EXPECT_EQ(ToHex(serializer.SizeBytes(253)), "FD");
  EXPECT_EQ(ToHex(serializer.SizeBytes(254)), "FE FE 00");
  EXPECT_EQ(ToHex(serializer.SizeBytes(65536)), "FF 00 00 01 00");
}

}  // namespace
}  // namespace velqa_test
