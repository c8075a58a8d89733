// The limit on the total size of the log folder's ".log" files: after the age
// rule, the oldest files by last write time go until the rest fit, but never
// the file being written. Crash dumps are not ".log" files and keep their own
// limit.
//
// Threads: pure functions, any thread.
#ifndef VELQA_LOGGING_LOG_SIZE_LIMIT_H_
#define VELQA_LOGGING_LOG_SIZE_LIMIT_H_

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <vector>

#include "logging/file_time.h"

namespace velqa::logging {

inline constexpr std::uintmax_t kMaxLogFolderBytes = 1'073'741'824;  // 1 GiB

struct LogFileFacts {
  std::filesystem::path path;
  std::uintmax_t size = 0;
  FileTime last_write;
};

// The files to remove, oldest first (ties by path, for a stable order), so
// that the others total at most `limit` bytes. `keep` names the file being
// written; it is never chosen but its size counts. When even that file alone
// is over the limit, every other file is chosen.
std::vector<LogFileFacts> OldestBeyondLimit(std::vector<LogFileFacts> files, std::uintmax_t limit,
                                            const std::filesystem::path& keep);

}  // namespace velqa::logging

#endif  // VELQA_LOGGING_LOG_SIZE_LIMIT_H_
