#include "logging/log_directory.h"

#include <string>

#include "base/utf8_path.h"
#include "logging/executable_directory.h"
#include "logging/log_day.h"
#include "logging/log_format.h"

namespace velqa::logging {

std::filesystem::path LogDirectoryBeside(std::string_view install_directory) {
  return base::PathFromUtf8(install_directory) / kLogDirectoryName;
}

std::filesystem::path LogDirectory() {
  const std::string install_directory = ExecutableDirectory();
  if (install_directory.empty()) return {};
  return LogDirectoryBeside(install_directory);
}

std::filesystem::path DayLogFilePath(const std::filesystem::path& log_directory,
                                     std::string_view day) {
  return log_directory / base::PathFromUtf8(DayFileName(day));
}

std::filesystem::path DayLogFilePath(const std::filesystem::path& log_directory,
                                     std::chrono::system_clock::time_point time) {
  return DayLogFilePath(log_directory, FormatLocalTime(time, "%Y%m%d"));
}

}  // namespace velqa::logging
