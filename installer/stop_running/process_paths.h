// Which processes belong to an install directory: full image paths compared
// the way the Windows file system compares names (without regard to case),
// after both sides are brought to their long, absolute form.
//
// Threads: any; the functions keep no state.
#ifndef VELQA_INSTALLER_STOP_RUNNING_PROCESS_PATHS_H_
#define VELQA_INSTALLER_STOP_RUNNING_PROCESS_PATHS_H_

#include <windows.h>

#include <optional>
#include <string>

namespace velqa::installer {

// `path` made absolute and long (8.3 parts expanded where the file exists),
// without trailing separators. "" when the path cannot be resolved.
std::wstring NormalizePath(const std::wstring& path);

// True when `path` lies below `directory` (both normalised); the directory
// itself and a sibling that merely shares the prefix ("C:\App2" for
// "C:\App") do not count.
bool IsInsideDirectory(const std::wstring& path, const std::wstring& directory);

// The file-name part of a path ("sing-box-amd64.exe" of "C:\x\sing-box-amd64.exe").
std::wstring FileName(const std::wstring& path);

// A proxy child the application starts: sing-box-<anything>.exe, any case.
bool IsSingBoxImage(const std::wstring& file_name);

// The application's own executables (velqa_assistant.exe and its crash
// watcher), any case.
bool IsApplicationImage(const std::wstring& file_name);

// The full, normalised image path of a process, or nothing when the process
// is gone or may not be queried.
std::optional<std::wstring> ProcessImagePath(DWORD pid);

}  // namespace velqa::installer

#endif  // VELQA_INSTALLER_STOP_RUNNING_PROCESS_PATHS_H_
