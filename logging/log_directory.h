// Where the log files live: the "logs" directory beside the executable. The
// crash dumps and the tray's log-folder command use the same place.
#ifndef VELQA_LOGGING_LOG_DIRECTORY_H_
#define VELQA_LOGGING_LOG_DIRECTORY_H_

#include <chrono>
#include <filesystem>
#include <string_view>

namespace velqa::logging {

inline constexpr char kLogDirectoryName[] = "logs";

// The log directory beside the UTF-8 `install_directory`.
std::filesystem::path LogDirectoryBeside(std::string_view install_directory);

// The log directory beside the running executable, or an empty path when the
// executable's directory is unknown. Any thread.
std::filesystem::path LogDirectory();

// The day's log file in `log_directory` for the local date of `time`:
// velqa_YYYYMMDD.log. Throws std::runtime_error when the time has no local
// representation.
std::filesystem::path DayLogFilePath(const std::filesystem::path& log_directory,
                                     std::chrono::system_clock::time_point time);
// The same for the day `day` (YYYYMMDD).
std::filesystem::path DayLogFilePath(const std::filesystem::path& log_directory,
                                     std::string_view day);

}  // namespace velqa::logging

#endif  // VELQA_LOGGING_LOG_DIRECTORY_H_
