#include "standins/flutter_windows/json_value.h"

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <limits>

namespace velqa::standin {
namespace {

using flutter::EncodableList;
using flutter::EncodableMap;
using flutter::EncodableValue;

constexpr int kMaxDepth = 64;

class Parser {
 public:
  explicit Parser(std::string_view text) : text_(text) {}

  std::optional<EncodableValue> ParseDocument(std::string* error) {
    std::optional<EncodableValue> value = ParseValue(0);
    SkipSpace();
    if (value && pos_ != text_.size()) Fail("unexpected text after the value");
    if (!error_.empty()) {
      if (error != nullptr) *error = error_ + " at offset " + std::to_string(pos_);
      return std::nullopt;
    }
    return value;
  }

 private:
  void Fail(const char* what) {
    if (error_.empty()) error_ = what;
  }

  void SkipSpace() {
    while (pos_ < text_.size() && (text_[pos_] == ' ' || text_[pos_] == '\t' ||
                                   text_[pos_] == '\n' || text_[pos_] == '\r')) {
      ++pos_;
    }
  }

  bool Consume(std::string_view word) {
    if (text_.substr(pos_, word.size()) != word) return false;
    pos_ += word.size();
    return true;
  }

  std::optional<EncodableValue> ParseValue(int depth) {
    if (depth > kMaxDepth) {
      Fail("nesting too deep");
      return std::nullopt;
    }
    SkipSpace();
    if (pos_ >= text_.size()) {
      Fail("missing value");
      return std::nullopt;
    }
    char c = text_[pos_];
    if (c == '{') return ParseObject(depth);
    if (c == '[') return ParseArray(depth);
    if (c == '"') {
      std::optional<std::string> s = ParseString();
      if (!s) return std::nullopt;
      return EncodableValue(std::move(*s));
    }
    if (Consume("true")) return EncodableValue(true);
    if (Consume("false")) return EncodableValue(false);
    if (Consume("null")) return EncodableValue();
    if (c == '-' || (c >= '0' && c <= '9')) return ParseNumber();
    Fail("unexpected character");
    return std::nullopt;
  }

  std::optional<EncodableValue> ParseObject(int depth) {
    ++pos_;  // {
    EncodableMap map;
    SkipSpace();
    if (Consume("}")) return EncodableValue(std::move(map));
    while (true) {
      SkipSpace();
      if (pos_ >= text_.size() || text_[pos_] != '"') {
        Fail("expected a string key");
        return std::nullopt;
      }
      std::optional<std::string> key = ParseString();
      if (!key) return std::nullopt;
      SkipSpace();
      if (!Consume(":")) {
        Fail("expected ':'");
        return std::nullopt;
      }
      std::optional<EncodableValue> value = ParseValue(depth + 1);
      if (!value) return std::nullopt;
      map[EncodableValue(std::move(*key))] = std::move(*value);
      SkipSpace();
      if (Consume("}")) return EncodableValue(std::move(map));
      if (!Consume(",")) {
        Fail("expected ',' or '}'");
        return std::nullopt;
      }
    }
  }

  std::optional<EncodableValue> ParseArray(int depth) {
    ++pos_;  // [
    EncodableList list;
    SkipSpace();
    if (Consume("]")) return EncodableValue(std::move(list));
    while (true) {
      std::optional<EncodableValue> value = ParseValue(depth + 1);
      if (!value) return std::nullopt;
      list.push_back(std::move(*value));
      SkipSpace();
      if (Consume("]")) return EncodableValue(std::move(list));
      if (!Consume(",")) {
        Fail("expected ',' or ']'");
        return std::nullopt;
      }
    }
  }

  static void AppendUtf8(uint32_t code_point, std::string& out) {
    if (code_point < 0x80) {
      out += static_cast<char>(code_point);
    } else if (code_point < 0x800) {
      out += static_cast<char>(0xC0 | (code_point >> 6));
      out += static_cast<char>(0x80 | (code_point & 0x3F));
    } else if (code_point < 0x10000) {
      out += static_cast<char>(0xE0 | (code_point >> 12));
      out += static_cast<char>(0x80 | ((code_point >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (code_point & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (code_point >> 18));
      out += static_cast<char>(0x80 | ((code_point >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((code_point >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (code_point & 0x3F));
    }
  }

  std::optional<uint32_t> ParseHex4() {
    if (pos_ + 4 > text_.size()) return std::nullopt;
    uint32_t value = 0;
    for (int i = 0; i < 4; ++i) {
      char c = text_[pos_++];
      value <<= 4;
      if (c >= '0' && c <= '9')
        value |= static_cast<uint32_t>(c - '0');
      else if (c >= 'a' && c <= 'f')
        value |= static_cast<uint32_t>(c - 'a' + 10);
      else if (c >= 'A' && c <= 'F')
        value |= static_cast<uint32_t>(c - 'A' + 10);
      else
        return std::nullopt;
    }
    return value;
  }

  std::optional<std::string> ParseString() {
    ++pos_;  // "
    std::string out;
    while (pos_ < text_.size()) {
      char c = text_[pos_++];
      if (c == '"') return out;
      if (static_cast<unsigned char>(c) < 0x20) {
        Fail("control character in string");
        return std::nullopt;
      }
      if (c != '\\') {
        out += c;  // UTF-8 passes through unchanged
        continue;
      }
      if (pos_ >= text_.size()) break;
      char e = text_[pos_++];
      switch (e) {
        case '"':
          out += '"';
          break;
        case '\\':
          out += '\\';
          break;
        case '/':
          out += '/';
          break;
        case 'b':
          out += '\b';
          break;
        case 'f':
          out += '\f';
          break;
        case 'n':
          out += '\n';
          break;
        case 'r':
          out += '\r';
          break;
        case 't':
          out += '\t';
          break;
        case 'u': {
          std::optional<uint32_t> unit = ParseHex4();
          if (!unit) {
            Fail("bad \\u escape");
            return std::nullopt;
          }
          uint32_t code_point = *unit;
          if (code_point >= 0xD800 && code_point < 0xDC00 && Consume("\\u")) {
            std::optional<uint32_t> low = ParseHex4();
            if (!low || *low < 0xDC00 || *low >= 0xE000) {
              Fail("bad surrogate pair");
              return std::nullopt;
            }
            code_point = 0x10000 + ((code_point - 0xD800) << 10) + (*low - 0xDC00);
          } else if (code_point >= 0xD800 && code_point < 0xE000) {
            Fail("unpaired surrogate");
            return std::nullopt;
          }
          AppendUtf8(code_point, out);
          break;
        }
        default:
          Fail("bad escape");
          return std::nullopt;
      }
    }
    Fail("unterminated string");
    return std::nullopt;
  }

  std::optional<EncodableValue> ParseNumber() {
    size_t start = pos_;
    bool is_double = false;
    if (text_[pos_] == '-') ++pos_;
    auto digits = [&] {
      size_t from = pos_;
      while (pos_ < text_.size() && text_[pos_] >= '0' && text_[pos_] <= '9') ++pos_;
      return pos_ > from;
    };
    if (!digits()) {
      Fail("bad number");
      return std::nullopt;
    }
    if (pos_ < text_.size() && text_[pos_] == '.') {
      is_double = true;
      ++pos_;
      if (!digits()) {
        Fail("bad fraction");
        return std::nullopt;
      }
    }
    if (pos_ < text_.size() && (text_[pos_] == 'e' || text_[pos_] == 'E')) {
      is_double = true;
      ++pos_;
      if (pos_ < text_.size() && (text_[pos_] == '+' || text_[pos_] == '-')) ++pos_;
      if (!digits()) {
        Fail("bad exponent");
        return std::nullopt;
      }
    }
    std::string number(text_.substr(start, pos_ - start));
    errno = 0;
    if (is_double) return EncodableValue(std::strtod(number.c_str(), nullptr));
    long long value = std::strtoll(number.c_str(), nullptr, 10);
    if (errno == ERANGE) {
      Fail("integer out of the 64-bit range");
      return std::nullopt;
    }
    if (value >= std::numeric_limits<int32_t>::min() &&
        value <= std::numeric_limits<int32_t>::max()) {
      return EncodableValue(static_cast<int32_t>(value));
    }
    return EncodableValue(static_cast<int64_t>(value));
  }

  std::string_view text_;
  size_t pos_ = 0;
  std::string error_;
};

}  // namespace

std::optional<flutter::EncodableValue> ParseJson(std::string_view text, std::string* error) {
  return Parser(text).ParseDocument(error);
}

}  // namespace velqa::standin
