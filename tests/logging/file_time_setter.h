// Sets a file's or directory's last write time at full resolution (the C
// runtime's utime on Windows takes whole seconds only).
#ifndef VELQA_TESTS_LOGGING_FILE_TIME_SETTER_H_
#define VELQA_TESTS_LOGGING_FILE_TIME_SETTER_H_

#include <chrono>
#include <filesystem>

#include "logging/file_time.h"

void SetLastWriteTime(const std::filesystem::path& path,
                      std::chrono::system_clock::time_point time);

// Any time the file system holds, also before 1677 or after 2262 (which
// nanoseconds, and so `SetLastWriteTime`, cannot reach).
void SetLastWriteTicks(const std::filesystem::path& path, velqa::logging::FileTime time);

#endif  // VELQA_TESTS_LOGGING_FILE_TIME_SETTER_H_
