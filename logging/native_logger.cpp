#include "logging/native_logger.h"

#include <cstdio>
#include <exception>
#include <filesystem>
#include <limits>
#include <thread>
#include <utility>

#include "base/stderr_line.h"
#include "base/utf8_path.h"
#include "logging/executable_directory.h"
#include "logging/log_directory.h"
#include "logging/log_environment.h"
#include "logging/log_file.h"
#include "logging/log_format.h"

namespace fs = std::filesystem;
using velqa::base::WriteStderrLine;
using velqa::logging::LogEnvironment;
using velqa::logging::LogFile;

namespace {

constexpr char kOwnTag[] = "NativeLogger";
constexpr std::int32_t kRecordsPerSizeCheck = 100;

void WriteToStdout(std::string_view text) {
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fflush(stdout);
}

}  // namespace

NativeLogger& NativeLogger::GetInstance() {
  static NativeLogger instance{LogEnvironment{}};
  return instance;
}

NativeLogger::NativeLogger(LogEnvironment environment)
    : log_file_(std::make_unique<LogFile>()),
      environment_(std::make_unique<const LogEnvironment>(std::move(environment))) {}

NativeLogger::~NativeLogger() {
  std::lock_guard<std::mutex> lock(log_mutex_);
  if (log_file_->is_open()) log_file_->close();
}

std::chrono::system_clock::time_point NativeLogger::Now() const {
  return environment_->now ? environment_->now() : std::chrono::system_clock::now();
}

std::string NativeLogger::GetInstallDirectory() const {
  return environment_->install_directory ? environment_->install_directory()
                                         : velqa::logging::ExecutableDirectory();
}

bool NativeLogger::Initialize() {
  if (initialized_.load(std::memory_order_acquire)) return true;
  try {
    const std::string install_directory = GetInstallDirectory();
    if (install_directory.empty()) {
      WriteStderrLine("NativeLogger: 无法获取安装目录");
      return false;
    }
    const fs::path log_directory = velqa::logging::LogDirectoryBeside(install_directory);
    // Whatever already sits at that path is left alone; a file there makes the open fail.
    if (!fs::exists(log_directory)) fs::create_directories(log_directory);

    const fs::path file_path = velqa::logging::DayLogFilePath(log_directory, Now());
    log_file_path_ = velqa::base::Utf8FromPath(file_path);

    if (!log_file_->open(file_path)) {
      WriteStderrLine("NativeLogger: 无法打开日志文件: ", log_file_path_);
      return false;
    }
    initialized_.store(true, std::memory_order_release);

    Info("NativeLogger初始化成功", kOwnTag);
    Info("日志文件路径: " + log_file_path_, kOwnTag);
    CleanupOldLogs();
    return true;
  } catch (const std::exception& e) {
    WriteStderrLine("NativeLogger: 初始化失败: ", e.what());
  } catch (...) {
    WriteStderrLine("NativeLogger: 初始化失败: ", "unknown exception");
  }
  return false;
}

void NativeLogger::Info(const std::string& message, const std::string& tag) {
  Log(LogLevel::kInfo, message, tag);
}

void NativeLogger::Log(LogLevel level, const std::string& message, const std::string& tag) {
  if (!initialized_.load(std::memory_order_acquire)) {
    // One write, so that concurrent short records do not interleave.
    try {
      WriteToStdout("[NativeLogger] " + message + "\n");
    } catch (...) {
      // Out of memory: the record is lost, the caller goes on.
    }
    return;
  }
  try {
    std::unique_lock<std::mutex> lock(log_mutex_);
    WriteRecordLocked(level, message, tag, &lock);
  } catch (const std::exception& e) {
    // Only a failure to take the lock gets here.
    WriteStderrLine("NativeLogger: 写入日志失败: ", e.what());
  }
}

bool NativeLogger::LogWithin(LogLevel level, const std::string& message, const std::string& tag,
                             std::chrono::milliseconds patience) {
  if (!initialized_.load(std::memory_order_acquire)) {
    Log(level, message, tag);
    return true;
  }
  try {
    std::unique_lock<std::mutex> lock(log_mutex_, std::try_to_lock);
    const auto deadline = std::chrono::steady_clock::now() + patience;
    while (!lock.owns_lock()) {
      if (std::chrono::steady_clock::now() >= deadline) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
      lock.try_lock();
    }
    WriteRecordLocked(level, message, tag, &lock);
    return true;
  } catch (const std::exception& e) {
    WriteStderrLine("NativeLogger: 写入日志失败: ", e.what());
  }
  return false;
}

void NativeLogger::AppendTimestamp(std::string& out) {
  const auto [seconds, millis] = velqa::logging::SplitMillis(Now());
  if (seconds != cached_second_) {
    // Local-time conversion and strftime dominate the cost of a record;
    // do them once per second.
    cached_seconds_text_ = velqa::logging::FormatLocalTime(
        std::chrono::system_clock::from_time_t(seconds), "%Y-%m-%d %H:%M:%S");
    cached_second_ = seconds;
  }
  out += cached_seconds_text_;
  out += '.';
  out += static_cast<char>('0' + millis / 100);
  out += static_cast<char>('0' + millis / 10 % 10);
  out += static_cast<char>('0' + millis % 10);
}

void NativeLogger::WriteRecordLocked(LogLevel level, const std::string& message,
                                     const std::string& tag,
                                     std::unique_lock<std::mutex>* releasable) {
  if (!log_file_->is_open()) {
    WriteStderrLine("NativeLogger: 日志文件未打开");
    return;
  }
  try {
    timestamp_buffer_.clear();
    AppendTimestamp(timestamp_buffer_);
    // Local, not a member: the console stage below may run after log_mutex_
    // has passed to the next record.
    std::string line;
    line.reserve(timestamp_buffer_.size() + tag.size() + message.size() + 32);
    velqa::logging::AppendLogEntry(line, level, message, tag, timestamp_buffer_);
    line += '\n';

    log_file_->write(line.data(), line.size());
    log_file_->flush();
    // Wraps instead of overflowing after 2^31 records.
    record_count_ =
        record_count_ == std::numeric_limits<std::int32_t>::max() ? 0 : record_count_ + 1;
    const bool check_size = releasable != nullptr && record_count_ % kRecordsPerSizeCheck == 0;

    // Hand over hand: console_mutex_ is taken before log_mutex_ is released,
    // so records reach standard output in the order they reached the file,
    // while the next record is already being written to the file. A record
    // that triggers the size check keeps log_mutex_ until the rotation is
    // done, so nothing is written between closing and reopening the file.
    std::unique_lock<std::mutex> console(console_mutex_);
    if (releasable != nullptr && !check_size) releasable->unlock();
    WriteToStdout(line);
    console.unlock();

    if (check_size) CheckAndRotateLog();
  } catch (const std::exception& e) {
    WriteStderrLine("NativeLogger: 写入日志失败: ", e.what());
  } catch (...) {
    WriteStderrLine("NativeLogger: 写入日志失败: ", "unknown exception");
  }
}
