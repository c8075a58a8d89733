#include "standins/flutter_windows/value_text.h"

#include <charconv>
#include <cstdio>
#include <type_traits>
#include <variant>

#include "channel/byte_streams.h"
#include "channel/standard_codec_serializer.h"

namespace velqa::standin {
namespace {

using flutter::EncodableList;
using flutter::EncodableMap;
using flutter::EncodableValue;

std::string Quote(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (static_cast<unsigned char>(c) < 0x20) {
          char escape[8];
          std::snprintf(escape, sizeof(escape), "\\u%04x", static_cast<unsigned char>(c));
          out += escape;
        } else {
          out += c;
        }
    }
  }
  return out + "\"";
}

std::string Number(double value) {
  char buffer[64];
  auto [end, ec] = std::to_chars(buffer, buffer + sizeof(buffer), value);
  return ec == std::errc() ? std::string(buffer, end) : "nan";
}

template <typename List, typename Each>
std::string Join(const List& list, Each each) {
  std::string out = "[";
  for (size_t i = 0; i < list.size(); ++i) {
    if (i != 0) out += ",";
    out += each(list[i]);
  }
  return out + "]";
}

}  // namespace

std::string DescribeValue(const EncodableValue& value) {
  return std::visit(
      [](const auto& v) -> std::string {
        using T = std::decay_t<decltype(v)>;
        if constexpr (std::is_same_v<T, std::monostate>) {
          return "null";
        } else if constexpr (std::is_same_v<T, bool>) {
          return v ? "true" : "false";
        } else if constexpr (std::is_same_v<T, int32_t> || std::is_same_v<T, int64_t>) {
          return std::to_string(v);
        } else if constexpr (std::is_same_v<T, double>) {
          return Number(v);
        } else if constexpr (std::is_same_v<T, std::string>) {
          return Quote(v);
        } else if constexpr (std::is_same_v<T, std::vector<uint8_t>> ||
                             std::is_same_v<T, std::vector<int32_t>> ||
                             std::is_same_v<T, std::vector<int64_t>>) {
          return Join(v, [](auto n) { return std::to_string(n); });
        } else if constexpr (std::is_same_v<T, std::vector<double>> ||
                             std::is_same_v<T, std::vector<float>>) {
          return Join(v, [](auto n) { return Number(n); });
        } else if constexpr (std::is_same_v<T, EncodableList>) {
          return Join(v, [](const EncodableValue& e) { return DescribeValue(e); });
        } else if constexpr (std::is_same_v<T, EncodableMap>) {
          std::string out = "{";
          bool first = true;
          for (const auto& [key, item] : v) {
            if (!first) out += ",";
            first = false;
            out += DescribeValue(key) + ":" + DescribeValue(item);
          }
          return out + "}";
        } else {
          return "custom";
        }
      },
      static_cast<const EncodableValue::super&>(value));
}

std::string DescribeReply(const uint8_t* bytes, size_t size) {
  if (size == 0) return "not implemented";
  flutter::ByteBufferStreamReader reader(bytes, size);
  const auto& serializer = flutter::StandardCodecSerializer::GetInstance();
  uint8_t envelope = reader.ReadByte();
  if (envelope == 0) return "success " + DescribeValue(serializer.ReadValue(&reader));
  if (envelope == 1) {
    EncodableValue code = serializer.ReadValue(&reader);
    EncodableValue message = serializer.ReadValue(&reader);
    EncodableValue details = serializer.ReadValue(&reader);
    return "error " + DescribeValue(code) + " " + DescribeValue(message) + " " +
           DescribeValue(details);
  }
  return "unknown envelope " + std::to_string(envelope);
}

std::string ToHex(const uint8_t* bytes, size_t size) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string out;
  out.reserve(size * 2);
  for (size_t i = 0; i < size; ++i) {
    out += kDigits[bytes[i] >> 4];
    out += kDigits[bytes[i] & 0x0F];
  }
  return out;
}

bool FromHex(std::string_view text, std::vector<uint8_t>* bytes) {
  bytes->clear();
  int high = -1;
  for (char c : text) {
    int digit;
    if (c == ' ' || c == '\t') continue;
    if (c >= '0' && c <= '9')
      digit = c - '0';
    else if (c >= 'a' && c <= 'f')
      digit = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F')
      digit = c - 'A' + 10;
    else
      return false;
    if (high < 0) {
      high = digit;
    } else {
      bytes->push_back(static_cast<uint8_t>(high << 4 | digit));
      high = -1;
    }
  }
  return high < 0;
}

}  // namespace velqa::standin
