#include "base/utf8_path.h"

#include "base/utf16_text.h"

namespace velqa::base {
namespace {

// UTF-16 names (Windows) may hold unpaired surrogates; the library's own
// conversion throws for those.
[[maybe_unused]] std::string Utf8FromNative(const std::wstring& wide) {
  return Utf8FromWide(wide).value_or(std::string());
}

// Narrow names are bytes; they are taken as they are.
[[maybe_unused]] std::string Utf8FromNative(const std::string& narrow) { return narrow; }

}  // namespace

std::filesystem::path PathFromUtf8(std::string_view utf8) {
  return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

std::string Utf8FromPath(const std::filesystem::path& path) { return Utf8FromNative(path.native()); }

}  // namespace velqa::base
