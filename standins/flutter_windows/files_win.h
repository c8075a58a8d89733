// This module and the executable's directory, and whole-file I/O through the
// wide file interface.
#ifndef VELQA_STANDINS_FLUTTER_WINDOWS_FILES_WIN_H_
#define VELQA_STANDINS_FLUTTER_WINDOWS_FILES_WIN_H_

#include <windows.h>

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace velqa::standin {

// The directory of the running executable.
std::filesystem::path ExecutableDirectory();
// This DLL's module handle, for window classes.
HINSTANCE ThisModule();

std::optional<std::string> ReadWholeFile(const std::filesystem::path& path);
// Appends in one write and closes again, so a reader sees whole lines.
bool AppendToFile(const std::filesystem::path& path, std::string_view bytes);
bool WriteWholeFile(const std::filesystem::path& path, std::string_view bytes);

}  // namespace velqa::standin

#endif  // VELQA_STANDINS_FLUTTER_WINDOWS_FILES_WIN_H_
