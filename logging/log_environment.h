// What the logger takes from its surroundings: the clock, the directory it
// lives beside, and the file rename used by rotation. The product leaves every
// member empty and gets the system clock, the executable's directory and
// std::filesystem::rename; tests put their own in to control time, place and
// faults without touching the public interface of NativeLogger.
#ifndef VELQA_LOGGING_LOG_ENVIRONMENT_H_
#define VELQA_LOGGING_LOG_ENVIRONMENT_H_

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>

namespace velqa::logging {

struct LogEnvironment {
  // Current time; called under the logger's lock for record timestamps and
  // without it during set-up and cleanup.
  std::function<std::chrono::system_clock::time_point()> now;
  // Directory of the running executable as UTF-8, or "" when unknown.
  std::function<std::string()> install_directory;
  // Moves a file; reports failure by throwing std::filesystem::filesystem_error.
  std::function<void(const std::filesystem::path& from, const std::filesystem::path& to)> rename;
};

}  // namespace velqa::logging

#endif  // VELQA_LOGGING_LOG_ENVIRONMENT_H_
