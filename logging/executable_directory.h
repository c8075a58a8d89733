// Where the running executable lives, as UTF-8 text.
#ifndef VELQA_LOGGING_EXECUTABLE_DIRECTORY_H_
#define VELQA_LOGGING_EXECUTABLE_DIRECTORY_H_

#include <cstddef>
#include <string>
#include <string_view>

namespace velqa::logging {

// Paths are read into a buffer of this many characters; a path that fills it
// may have been cut short and is not trusted.
inline constexpr std::size_t kExecutablePathCapacity = 260;

// The directory of the running executable, without a trailing separator except
// at a root (which keeps it), or "" when the path cannot be read, is
// kExecutablePathCapacity characters or longer, or cannot be brought to UTF-8.
// Any thread.
std::string ExecutableDirectory();

// The directory part of a Windows module path: what lies before the last
// backslash, or the whole path when it has none. At a drive's root the
// backslash stays ("E:\velqa.exe" gives "E:\"), because "E:" alone names the
// drive's current directory, and "E:" + "logs" would land there. Any thread.
std::wstring_view DirectoryOfWindowsPath(std::wstring_view module_path);

}  // namespace velqa::logging

#endif  // VELQA_LOGGING_EXECUTABLE_DIRECTORY_H_
