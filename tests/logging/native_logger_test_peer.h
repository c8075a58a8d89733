// Reaches the logger's private parts; befriended by NativeLogger. Shared by
// the logger's tests and its benchmarks, which need a logger with their own
// clock and directory.
#ifndef VELQA_TESTS_LOGGING_NATIVE_LOGGER_TEST_PEER_H_
#define VELQA_TESTS_LOGGING_NATIVE_LOGGER_TEST_PEER_H_

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <utility>

#include "logging/background_task.h"
#include "logging/log_environment.h"
#include "logging/log_file.h"
#include "logging/native_logger.h"

class NativeLoggerTestPeer {
 public:
  static std::unique_ptr<NativeLogger> Create(velqa::logging::LogEnvironment environment) {
    return std::unique_ptr<NativeLogger>(new NativeLogger(std::move(environment)));
  }
  // Under the record lock: the cleanup thread may be writing records.
  static std::int32_t RecordCount(NativeLogger& logger) {
    std::lock_guard<std::mutex> lock(logger.log_mutex_);
    return logger.record_count_;
  }
  static const std::string& LogFilePath(const NativeLogger& logger) {
    return logger.log_file_path_;
  }
  static bool FileOpen(const NativeLogger& logger) { return logger.log_file_->is_open(); }
  static std::mutex& RecordLock(NativeLogger& logger) { return logger.log_mutex_; }
  // One cleanup pass on the caller's thread.
  static void Cleanup(NativeLogger& logger) { logger.CleanupOldLogs(); }
  // Returns once the cleanup passes asked for so far have ended.
  static void WaitForCleanup(NativeLogger& logger) { logger.cleanup_task_->WaitIdle(); }
};

#endif  // VELQA_TESTS_LOGGING_NATIVE_LOGGER_TEST_PEER_H_
