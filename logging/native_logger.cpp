#include "logging/native_logger.h"

#include <exception>
#include <filesystem>
#include <limits>
#include <thread>
#include <utility>

#include "base/stderr_line.h"
#include "base/utf8_path.h"
#include "logging/background_task.h"
#include "logging/console_output.h"
#include "logging/executable_directory.h"
#include "logging/link_status.h"
#include "logging/log_day.h"
#include "logging/log_directory.h"
#include "logging/log_environment.h"
#include "logging/log_file.h"
#include "logging/log_format.h"

namespace fs = std::filesystem;
using velqa::base::StandardStream;
using velqa::base::WriteStderrLine;
using velqa::logging::ConsoleOutput;
using velqa::logging::LogEnvironment;
using velqa::logging::LogFile;

namespace {

constexpr std::int32_t kRecordsPerSizeCheck = 100;
// How often a missing log file is tried again.
constexpr std::chrono::seconds kReopenInterval{1};
// How long the end of the process waits for standard output to take the
// last lines.
constexpr std::chrono::milliseconds kExitDrain{1000};

std::string Describe(const std::error_code& error) {
  return error.message() + " (" + std::to_string(error.value()) + ")";
}

}  // namespace

NativeLogger& NativeLogger::GetInstance() {
  static NativeLogger instance{LogEnvironment{}};
  return instance;
}

NativeLogger::NativeLogger(LogEnvironment environment)
    : log_file_(std::make_unique<LogFile>()),
      day_schedule_(std::make_unique<velqa::logging::DayFileSchedule>()),
      environment_(std::make_unique<const LogEnvironment>(std::move(environment))),
      cleanup_task_(std::make_unique<velqa::logging::BackgroundTask>([this] { CleanupOldLogs(); })) {}

NativeLogger::~NativeLogger() {
  // First, and without log_mutex_: a pass in progress takes it for its records.
  cleanup_task_->Stop();
  {
    std::lock_guard<std::mutex> lock(log_mutex_);
    log_file_->close();
  }
  ConsoleOutput::Instance().Drain(kExitDrain);
}

std::chrono::system_clock::time_point NativeLogger::Now() const {
  return environment_->now ? environment_->now() : std::chrono::system_clock::now();
}

std::string NativeLogger::GetInstallDirectory() const {
  return environment_->install_directory ? environment_->install_directory()
                                         : velqa::logging::ExecutableDirectory();
}

void NativeLogger::ToConsole(StandardStream stream, std::string text) {
  if (console_deadline_) {
    ConsoleOutput::Instance().WriteBefore(stream, std::move(text), *console_deadline_);
  } else {
    ConsoleOutput::Instance().Write(stream, std::move(text));
  }
}

void NativeLogger::Notice(std::string_view text, std::string_view detail) {
  std::string line;
  line.reserve(text.size() + detail.size() + 1);
  line += text;
  line += detail;
  line += '\n';
  ToConsole(StandardStream::kError, std::move(line));
}

bool NativeLogger::Initialize() {
  if (initialized_.load(std::memory_order_acquire)) return true;
  try {
    const std::string install_directory = GetInstallDirectory();
    if (install_directory.empty()) {
      Notice("NativeLogger: 无法获取安装目录");
      return false;
    }
    const fs::path log_directory = velqa::logging::LogDirectoryBeside(install_directory);
    // A link planted where the elevated host writes would send the records,
    // and the rotation's renames, wherever it points.
    if (velqa::logging::IsLink(log_directory)) {
      Notice(kLinkedDirectoryNotice, velqa::base::Utf8FromPath(log_directory));
      return false;
    }
    // Whatever else sits at that path is left alone; a file there makes the open fail.
    if (!fs::exists(log_directory)) fs::create_directories(log_directory);

    const std::string date = velqa::logging::FormatLocalTime(Now(), "%Y%m%d");
    const fs::path file_path = velqa::logging::DayLogFilePath(log_directory, date);
    log_file_path_ = velqa::base::Utf8FromPath(file_path);
    day_schedule_->Opened(date);

    if (!log_file_->open(file_path)) {
      Notice("NativeLogger: 无法打开日志文件: ", log_file_path_);
      return false;
    }
    initialized_.store(true, std::memory_order_release);

    Info("NativeLogger初始化成功", kOwnTag);
    Info("日志文件路径: " + log_file_path_, kOwnTag);
    CleanupOldLogs();
    // Ready before the first rotation or change of day asks for it.
    cleanup_task_->Start();
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
    try {
      ConsoleOutput::Instance().Write(StandardStream::kOutput, "[NativeLogger] " + message + "\n");
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
  const auto deadline = std::chrono::steady_clock::now() + patience;
  try {
    if (!initialized_.load(std::memory_order_acquire)) {
      return ConsoleOutput::Instance().WriteBefore(StandardStream::kOutput,
                                                   "[NativeLogger] " + message + "\n", deadline);
    }
    std::unique_lock<std::mutex> lock(log_mutex_, std::try_to_lock);
    while (!lock.owns_lock()) {
      if (std::chrono::steady_clock::now() >= deadline) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
      lock.try_lock();
    }
    // The console's share of the record gives up at the same deadline.
    console_deadline_ = deadline;
    WriteRecordLocked(level, message, tag, &lock);
    console_deadline_.reset();
    return true;
  } catch (const std::exception& e) {
    console_deadline_.reset();
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

void NativeLogger::ReopenLocked() {
  if (file_refused_ || log_file_path_.empty()) return;
  const auto now = Now();
  // Once a second at most; a clock set back does not stop the tries.
  if (last_reopen_attempt_ && now >= *last_reopen_attempt_ &&
      now - *last_reopen_attempt_ < kReopenInterval) {
    return;
  }
  last_reopen_attempt_ = now;
  const fs::path path = velqa::base::PathFromUtf8(log_file_path_);
  const fs::path directory = path.parent_path();
  if (velqa::logging::IsLink(directory)) {
    // Planted while the host ran: no file for the rest of the run.
    file_refused_ = true;
    Notice(kLinkedDirectoryNotice, velqa::base::Utf8FromPath(directory));
    return;
  }
  std::error_code ignored;
  // The folder may have been removed; a file in its place makes this fail.
  if (!fs::exists(directory, ignored)) fs::create_directories(directory, ignored);
  log_file_->open(path);
}

bool NativeLogger::StoreLocked(const std::string& line) {
  if (!log_file_->is_open()) ReopenLocked();
  if (!log_file_->is_open()) {
    if (file_refused_) return false;
    if (!writing_stopped_) Notice("NativeLogger: 日志文件未打开");
    writing_stopped_ = true;
    ++lost_records_;
    return false;
  }
  const std::error_code error = log_file_->append(line);
  if (error) {
    // A full disk or a volume gone: said once, counted, tried again with
    // the next record.
    if (!writing_stopped_) Notice("NativeLogger: 写入日志失败: ", Describe(error));
    writing_stopped_ = true;
    ++lost_records_;
    return false;
  }
  CountRecordLocked();
  return true;
}

void NativeLogger::ReportLossLocked() {
  // Goes to the file before the record that found it writable again.
  std::string line;
  velqa::logging::AppendLogEntry(line, LogLevel::kWarning,
                                 "日志写入已恢复，此前有 " + std::to_string(lost_records_) +
                                     " 条记录未能写入日志文件",
                                 kOwnTag, timestamp_buffer_);
  line += '\n';
  const std::uint64_t lost = lost_records_;
  if (log_file_->append(line)) return;
  lost_records_ -= lost;
  writing_stopped_ = false;
  CountRecordLocked();
  ToConsole(StandardStream::kOutput, std::move(line));
}

void NativeLogger::WriteRecordLocked(LogLevel level, const std::string& message,
                                     const std::string& tag,
                                     std::unique_lock<std::mutex>* releasable) {
  try {
    timestamp_buffer_.clear();
    AppendTimestamp(timestamp_buffer_);
    std::string line;
    // The first record of another local day goes to that day's file, after
    // the line naming the file the earlier records are in. The rotation's own
    // record (no `releasable`) stays in the file it opens.
    if (releasable != nullptr && day_schedule_->Due(timestamp_buffer_)) {
      line = ChangeDayLocked(timestamp_buffer_);
    }
    const bool day_changed = !line.empty();
    line.reserve(line.size() + timestamp_buffer_.size() + tag.size() + message.size() + 32);
    velqa::logging::AppendLogEntry(line, level, message, tag, timestamp_buffer_);
    line += '\n';

    if (lost_records_ > 0) {
      if (!log_file_->is_open()) ReopenLocked();
      if (log_file_->is_open()) ReportLossLocked();
    }
    const bool stored = StoreLocked(line);
    bool check_size = stored && record_count_ % kRecordsPerSizeCheck == 0;
    // The line naming the previous file is a record of its own.
    if (stored && day_changed) check_size = CountRecordLocked() || check_size;
    check_size = check_size && releasable != nullptr;
    // Queued under the lock, so the console shows records in the file's
    // order; the queue never waits on the stream.
    ToConsole(StandardStream::kOutput, std::move(line));
    // A record that triggers the size check keeps log_mutex_ until the
    // rotation is done, so nothing is written between closing and reopening.
    if (check_size) CheckAndRotateLog();
  } catch (const std::exception& e) {
    WriteStderrLine("NativeLogger: 写入日志失败: ", e.what());
  } catch (...) {
    WriteStderrLine("NativeLogger: 写入日志失败: ", "unknown exception");
  }
}

bool NativeLogger::CountRecordLocked() {
  // Wraps instead of overflowing after 2^31 records.
  record_count_ =
      record_count_ == std::numeric_limits<std::int32_t>::max() ? 0 : record_count_ + 1;
  return record_count_ % kRecordsPerSizeCheck == 0;
}
