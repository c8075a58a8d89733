// The type tags that open every value in the standard codec's byte format,
// shared by the serializer's writing and reading halves.
#ifndef VELQA_CHANNEL_STANDARD_CODEC_WIRE_TYPES_H_
#define VELQA_CHANNEL_STANDARD_CODEC_WIRE_TYPES_H_

#include <cstdint>

namespace flutter::internal {

enum StandardCodecWireType : uint8_t {
  kNull = 0,
  kTrue = 1,
  kFalse = 2,
  kInt32 = 3,
  kInt64 = 4,
  kLargeInt = 5,  // read as a string, never written
  kFloat64 = 6,
  kString = 7,
  kUInt8List = 8,
  kInt32List = 9,
  kInt64List = 10,
  kFloat64List = 11,
  kList = 12,
  kMap = 13,
  kFloat32List = 14,
};

}  // namespace flutter::internal

#endif  // VELQA_CHANNEL_STANDARD_CODEC_WIRE_TYPES_H_
