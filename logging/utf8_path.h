// Conversions between UTF-8 text and file-system paths. On Windows a path made
// this way uses the wide (UTF-16) file interfaces, so directories with Chinese
// characters work whatever the ANSI code page is.
#ifndef VELQA_LOGGING_UTF8_PATH_H_
#define VELQA_LOGGING_UTF8_PATH_H_

#include <filesystem>
#include <string>
#include <string_view>

namespace velqa::logging {

// On Windows throws when `utf8` is not valid UTF-8 (see IsValidUtf8).
std::filesystem::path PathFromUtf8(std::string_view utf8);
std::string Utf8FromPath(const std::filesystem::path& path);

// Whether `text` is well-formed UTF-8: no stray continuation bytes, no
// overlong forms, no surrogates, nothing above U+10FFFF.
bool IsValidUtf8(std::string_view text);

}  // namespace velqa::logging

#endif  // VELQA_LOGGING_UTF8_PATH_H_
