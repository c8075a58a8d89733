// Last write time of a file, at the file system's full resolution (the C
// runtime's stat on Windows cuts it to seconds, which would make a file
// written exactly seven days ago look older) and over its whole range: in
// 100-nanosecond ticks, which hold any time from 1601 on (a file time of 0,
// which archivers write, included); nanoseconds end in 1677 and 2262.
#ifndef VELQA_LOGGING_FILE_TIME_H_
#define VELQA_LOGGING_FILE_TIME_H_

#include <chrono>
#include <cstdint>
#include <filesystem>

namespace velqa::logging {

using FileTicks = std::chrono::duration<std::int64_t, std::ratio<1, 10'000'000>>;
using FileTime = std::chrono::time_point<std::chrono::system_clock, FileTicks>;

// Throws std::filesystem::filesystem_error when the time cannot be read.
// Any thread.
FileTime LastWriteTime(const std::filesystem::path& path);

}  // namespace velqa::logging

#endif  // VELQA_LOGGING_FILE_TIME_H_
