// What the logger takes from its surroundings: the clock, the directory it
// lives beside, the file rename used by rotation and the limit on the log
// folder's size. The product leaves every function empty and the limit as it
// is, and gets the system clock, the executable's directory,
// std::filesystem::rename and 1 GiB; tests put their own in to control time,
// place, faults and sizes without touching the public interface of
// NativeLogger.
#ifndef VELQA_LOGGING_LOG_ENVIRONMENT_H_
#define VELQA_LOGGING_LOG_ENVIRONMENT_H_

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>

#include "logging/log_size_limit.h"

namespace velqa::logging {

struct LogEnvironment {
  // Current time; called under the logger's lock for record timestamps and
  // without it during set-up and cleanup, which may run on the logger's
  // cleanup thread.
  std::function<std::chrono::system_clock::time_point()> now;
  // Directory of the running executable as UTF-8, or "" when unknown. Called
  // by set-up and by every cleanup pass (on the cleanup thread, too).
  std::function<std::string()> install_directory;
  // Moves a file; reports failure by throwing std::filesystem::filesystem_error.
  std::function<void(const std::filesystem::path& from, const std::filesystem::path& to)> rename;
  // Most bytes the ".log" files of the folder may take after a cleanup pass.
  std::uintmax_t max_log_folder_bytes = kMaxLogFolderBytes;
};

}  // namespace velqa::logging

#endif  // VELQA_LOGGING_LOG_ENVIRONMENT_H_
