// Sets a file's or directory's last write time at full resolution (the C
// runtime's utime on Windows takes whole seconds only).
#ifndef VELQA_TESTS_LOGGING_FILE_TIME_SETTER_H_
#define VELQA_TESTS_LOGGING_FILE_TIME_SETTER_H_

#include <chrono>
#include <filesystem>

void SetLastWriteTime(const std::filesystem::path& path,
                      std::chrono::system_clock::time_point time);

#endif  // VELQA_TESTS_LOGGING_FILE_TIME_SETTER_H_
