// UTF-8 <-> UTF-16 at the Win32 boundary, module paths, and whole-file I/O
// through the wide file interface.
#ifndef VELQA_STANDINS_FLUTTER_WINDOWS_TEXT_WIN_H_
#define VELQA_STANDINS_FLUTTER_WINDOWS_TEXT_WIN_H_

#include <windows.h>

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace velqa::standin {

std::wstring Utf8ToWide(std::string_view text);
std::string WideToUtf8(std::wstring_view text);
std::filesystem::path PathFromUtf8(std::string_view text);
// The directory of the running executable.
std::filesystem::path ExecutableDirectory();
// This DLL's module handle, for window classes.
HINSTANCE ThisModule();

std::optional<std::string> ReadWholeFile(const std::filesystem::path& path);
// Appends in one write and closes again, so a reader sees whole lines.
bool AppendToFile(const std::filesystem::path& path, std::string_view bytes);
bool WriteWholeFile(const std::filesystem::path& path, std::string_view bytes);

}  // namespace velqa::standin

#endif  // VELQA_STANDINS_FLUTTER_WINDOWS_TEXT_WIN_H_
