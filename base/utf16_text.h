// UTF-8 <-> UTF-16 for the wide Windows interfaces, and the UTF-8 check.
//
// One policy for input that is not well-formed (a stray or cut UTF-8 sequence,
// an overlong form, a surrogate or a value past U+10FFFF in UTF-8; an unpaired
// surrogate in UTF-16): the conversion fails as a whole and gives nullopt. It
// never substitutes U+FFFD, because text that was changed on the way names
// another file, another argument or another process. Callers decide what a
// failure means; most take an empty text.
//
// Wide strings hold UTF-16 code units, as on Windows; the functions are
// portable (on Linux a wchar_t simply holds one such unit), so they are tested
// natively as well.
//
// Threads: any; the functions keep no state.
#ifndef VELQA_BASE_UTF16_TEXT_H_
#define VELQA_BASE_UTF16_TEXT_H_

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace velqa::base {

// Whether `text` is well-formed UTF-8.
bool IsValidUtf8(std::string_view text);

std::optional<std::wstring> WideFromUtf8(std::string_view utf8);
std::optional<std::string> Utf8FromWide(std::wstring_view wide);

// For showing text only (a console), never for names: converts the front of
// `utf8` into `out`, which has room for `capacity` units (at least 2), without
// allocating. A byte that does not start a well-formed sequence shows as
// U+FFFD, so a stray byte does not hide the rest of a line from the reader.
struct DisplayChunk {
  std::size_t consumed;  // UTF-8 bytes taken from the front of `utf8`
  std::size_t units;     // UTF-16 units written to `out`
};
DisplayChunk Utf16ForDisplay(std::string_view utf8, wchar_t* out, std::size_t capacity);
// For showing text only, as above, in UTF-8: `text` with each byte that does
// not start a well-formed sequence replaced by U+FFFD.
std::string Utf8ForDisplay(std::string_view text);

}  // namespace velqa::base

#endif  // VELQA_BASE_UTF16_TEXT_H_
