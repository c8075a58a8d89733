// Where the running executable lives, as UTF-8 text.
#ifndef VELQA_LOGGING_EXECUTABLE_DIRECTORY_H_
#define VELQA_LOGGING_EXECUTABLE_DIRECTORY_H_

#include <cstddef>
#include <string>

namespace velqa::logging {

// Paths are read into a buffer of this many characters; a path that fills it
// may have been cut short and is not trusted.
inline constexpr std::size_t kExecutablePathCapacity = 260;

// The directory of the running executable without a trailing separator, or ""
// when the path cannot be read, is kExecutablePathCapacity characters or
// longer, or cannot be brought to UTF-8. Any thread.
std::string ExecutableDirectory();

}  // namespace velqa::logging

#endif  // VELQA_LOGGING_EXECUTABLE_DIRECTORY_H_
