// Conversions between UTF-8 text and file-system paths. On Windows a path made
// this way uses the wide (UTF-16) file interfaces, so directories with Chinese
// characters work whatever the ANSI code page is.
//
// Threads: any; the functions keep no state.
#ifndef VELQA_BASE_UTF8_PATH_H_
#define VELQA_BASE_UTF8_PATH_H_

#include <filesystem>
#include <string>
#include <string_view>

namespace velqa::base {

// On Windows throws when `utf8` is not valid UTF-8: check it with IsValidUtf8
// (base/utf16_text.h) where the text comes from outside.
std::filesystem::path PathFromUtf8(std::string_view utf8);
// Never throws: a Windows name that is not well-formed UTF-16 fails as a
// whole and gives "" (which names no file of ours).
std::string Utf8FromPath(const std::filesystem::path& path);

}  // namespace velqa::base

#endif  // VELQA_BASE_UTF8_PATH_H_
