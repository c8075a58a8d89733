// Helpers for the codec and channel tests: hex byte strings, encoding and
// decoding through the standard serializer, and captured standard error.
#ifndef VELQA_TESTS_CHANNEL_CORE_CODEC_TEST_SUPPORT_H_
#define VELQA_TESTS_CHANNEL_CORE_CODEC_TEST_SUPPORT_H_

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "channel/encodable_value.h"
#include "channel/standard_codec_serializer.h"

namespace velqa_test {

using Bytes = std::vector<uint8_t>;

// "0D 02 07" -> {0x0D, 0x02, 0x07}; spaces are ignored.
Bytes Hex(std::string_view text);
std::string ToHex(const Bytes& bytes);

// `prefix` is written first, so alignment counts from its first byte.
Bytes Encode(const flutter::EncodableValue& value, const Bytes& prefix = {},
             const flutter::StandardCodecSerializer& serializer =
                 flutter::StandardCodecSerializer::GetInstance());

// Skips `skip` bytes with ReadByte, then reads one value.
flutter::EncodableValue Decode(const Bytes& bytes, size_t skip = 0,
                               const flutter::StandardCodecSerializer& serializer =
                                   flutter::StandardCodecSerializer::GetInstance());

// Runs `action` and returns what it wrote to standard error (the process's
// file descriptor 2), split into lines.
std::vector<std::string> StderrLinesOf(const std::function<void()>& action);

inline constexpr char kInvalidRead[] = "Invalid read in StandardCodecByteStreamReader";

}  // namespace velqa_test

#endif  // VELQA_TESTS_CHANNEL_CORE_CODEC_TEST_SUPPORT_H_
