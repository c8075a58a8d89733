#include "tests/channel_core/codec_test_support.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>

#include "channel/byte_streams.h"

namespace velqa_test {

Bytes Hex(std::string_view text) {
  Bytes bytes;
  std::string digits;
  for (char c : text) {
    if (c != ' ') digits += c;
  }
  for (size_t i = 0; i + 1 < digits.size(); i += 2) {
    bytes.push_back(static_cast<uint8_t>(std::stoi(digits.substr(i, 2), nullptr, 16)));
  }
  return bytes;
}

std::string ToHex(const Bytes& bytes) {
  std::string text;
  char buffer[4];
  for (uint8_t byte : bytes) {
    std::snprintf(buffer, sizeof(buffer), "%02X ", byte);
    text += buffer;
  }
  if (!text.empty()) text.pop_back();
  return text;
}

Bytes Encode(const flutter::EncodableValue& value, const Bytes& prefix,
             const flutter::StandardCodecSerializer& serializer) {
  Bytes bytes = prefix;
  flutter::ByteBufferStreamWriter writer(&bytes);
  serializer.WriteValue(value, &writer);
  return bytes;
}

flutter::EncodableValue Decode(const Bytes& bytes, size_t skip,
                               const flutter::StandardCodecSerializer& serializer) {
  flutter::ByteBufferStreamReader reader(bytes.data(), bytes.size());
  for (size_t i = 0; i < skip; ++i) reader.ReadByte();
  return serializer.ReadValue(&reader);
}

std::vector<std::string> StderrLinesOf(const std::function<void()>& action) {
  testing::internal::CaptureStderr();
  action();
  std::istringstream captured(testing::internal::GetCapturedStderr());
  std::vector<std::string> lines;
  for (std::string line; std::getline(captured, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

}  // namespace velqa_test
