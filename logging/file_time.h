// Last write time of a file as a point on the system clock, at the file
// system's full resolution (the C runtime's stat on Windows cuts it to seconds,
// which would make a file written exactly seven days ago look older).
#ifndef VELQA_LOGGING_FILE_TIME_H_
#define VELQA_LOGGING_FILE_TIME_H_

#include <chrono>
#include <filesystem>

namespace velqa::logging {

// Throws std::filesystem::filesystem_error when the time cannot be read.
std::chrono::system_clock::time_point LastWriteTime(const std::filesystem::path& path);

}  // namespace velqa::logging

#endif  // VELQA_LOGGING_FILE_TIME_H_
