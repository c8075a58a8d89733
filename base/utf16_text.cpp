#include "base/utf16_text.h"

#include <cstddef>

namespace velqa::base {
namespace {

// Decodes the sequence that starts at text[i] into `code_point` and returns
// its length, or 0 when it is not well-formed. The range allowed for the
// second byte rules out overlong forms, surrogates and values past U+10FFFF.
std::size_t DecodeUtf8(std::string_view text, std::size_t i, char32_t& code_point) {
  const auto lead = static_cast<unsigned char>(text[i]);
  if (lead < 0x80) {
    code_point = lead;
    return 1;
  }
  std::size_t length = 0;
  unsigned char low = 0x80;
  unsigned char high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    code_point = lead & 0x1Fu;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    code_point = lead & 0x0Fu;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    code_point = lead & 0x07u;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (text.size() - i < length) return 0;
  const auto second = static_cast<unsigned char>(text[i + 1]);
  if (second < low || second > high) return 0;
  for (std::size_t k = 1; k < length; ++k) {
    const auto next = static_cast<unsigned char>(text[i + k]);
    if ((next & 0xC0) != 0x80) return 0;
    code_point = (code_point << 6) | (next & 0x3Fu);
  }
  return length;
}

bool IsHighSurrogate(char32_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool IsLowSurrogate(char32_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

// Writes `code_point` as UTF-16 into `out` (room for two units); gives the
// number of units written.
std::size_t PutUtf16(char32_t code_point, wchar_t* out) {
  if (code_point < 0x10000) {
    out[0] = static_cast<wchar_t>(code_point);
    return 1;
  }
  code_point -= 0x10000;
  out[0] = static_cast<wchar_t>(0xD800 + (code_point >> 10));
  out[1] = static_cast<wchar_t>(0xDC00 + (code_point & 0x3FF));
  return 2;
}

void AppendUtf8(std::string& out, char32_t code_point) {
  if (code_point < 0x80) {
    out += static_cast<char>(code_point);
    return;
  }
  if (code_point < 0x800) {
    out += static_cast<char>(0xC0 | (code_point >> 6));
  } else if (code_point < 0x10000) {
    out += static_cast<char>(0xE0 | (code_point >> 12));
    out += static_cast<char>(0x80 | ((code_point >> 6) & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (code_point >> 18));
    out += static_cast<char>(0x80 | ((code_point >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((code_point >> 6) & 0x3F));
  }
  out += static_cast<char>(0x80 | (code_point & 0x3F));
}

}  // namespace

bool IsValidUtf8(std::string_view text) {
  char32_t ignored = 0;
  for (std::size_t i = 0, length = 0; i < text.size(); i += length) {
    length = DecodeUtf8(text, i, ignored);
    if (length == 0) return false;
  }
  return true;
}

std::optional<std::wstring> WideFromUtf8(std::string_view utf8) {
  std::wstring wide;
  wide.reserve(utf8.size());
  char32_t code_point = 0;
  for (std::size_t i = 0, length = 0; i < utf8.size(); i += length) {
    length = DecodeUtf8(utf8, i, code_point);
    if (length == 0) return std::nullopt;
    wchar_t units[2];
    wide.append(units, PutUtf16(code_point, units));
  }
  return wide;
}

std::optional<std::string> Utf8FromWide(std::wstring_view wide) {
  std::string utf8;
  utf8.reserve(wide.size());
  for (std::size_t i = 0; i < wide.size(); ++i) {
    char32_t unit = static_cast<char32_t>(wide[i]);
    // Each wchar_t is one UTF-16 unit; wider values are not UTF-16.
    if (unit > 0xFFFF || IsLowSurrogate(unit)) return std::nullopt;
    if (IsHighSurrogate(unit)) {
      if (i + 1 == wide.size()) return std::nullopt;
      const auto low = static_cast<char32_t>(wide[i + 1]);
      if (!IsLowSurrogate(low)) return std::nullopt;
      unit = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
      ++i;
    }
    AppendUtf8(utf8, unit);
  }
  return utf8;
}

std::string Utf8ForDisplay(std::string_view text) {
  if (IsValidUtf8(text)) return std::string(text);
  std::string out;
  out.reserve(text.size());
  char32_t code_point = 0;
  for (std::size_t i = 0; i < text.size();) {
    const std::size_t length = DecodeUtf8(text, i, code_point);
    if (length == 0) {
      out.append("\xEF\xBF\xBD");
      ++i;
    } else {
      out.append(text.substr(i, length));
      i += length;
    }
  }
  return out;
}

DisplayChunk Utf16ForDisplay(std::string_view utf8, wchar_t* out, std::size_t capacity) {
  std::size_t i = 0;
  std::size_t units = 0;
  char32_t code_point = 0;
  while (i < utf8.size() && units + 2 <= capacity) {
    std::size_t length = DecodeUtf8(utf8, i, code_point);
    if (length == 0) {
      code_point = 0xFFFD;
      length = 1;
    }
    units += PutUtf16(code_point, out + units);
    i += length;
  }
  return {i, units};
}

}  // namespace velqa::base
