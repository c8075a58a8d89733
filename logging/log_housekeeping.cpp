// Rotation of the growing log file, and removal of week-old log files and of
// the oldest beyond the folder's size limit.
#include <cstdint>
#include <exception>
#include <filesystem>
#include <locale>
#include <sstream>
#include <string>
#include <vector>

#include "base/stderr_line.h"
#include "base/utf8_path.h"
#include "logging/background_task.h"
#include "logging/file_time.h"
#include "logging/link_status.h"
#include "logging/log_directory.h"
#include "logging/log_environment.h"
#include "logging/log_file.h"
#include "logging/log_file_names.h"
#include "logging/log_format.h"
#include "logging/log_size_limit.h"
#include "logging/native_logger.h"

namespace fs = std::filesystem;
using velqa::base::PathFromUtf8;
using velqa::base::Utf8FromPath;
using velqa::logging::IsLink;
using velqa::logging::IsOwnLogFileName;

namespace {

constexpr std::uintmax_t kRotationThresholdBytes = 52'428'800;  // 50 MiB
constexpr std::chrono::seconds kMaxLogAge{604'800};             // 7 days

bool Occupied(const fs::path& path) {
  // symlink_status: a dangling link still occupies the name.
  return fs::symlink_status(path).type() != fs::file_type::not_found;
}

// velqa_<stamp>.log, or velqa_<stamp>_<n>.log with the smallest free n when
// an earlier rotation in the same second took the plain name: a rotated
// file is never replaced.
fs::path FreeRotatedPath(const fs::path& directory, const std::string& stamp) {
  fs::path candidate = directory / PathFromUtf8("velqa_" + stamp + ".log");
  for (int suffix = 1; Occupied(candidate); ++suffix) {
    candidate = directory / PathFromUtf8("velqa_" + stamp + "_" + std::to_string(suffix) + ".log");
  }
  return candidate;
}

std::string FormatMebibytes(std::uintmax_t bytes) {
  std::ostringstream text;
  text.imbue(std::locale::classic());
  text.setf(std::ios::fixed);
  text.precision(2);
  text << static_cast<double>(bytes) / 1'048'576.0;
  return text.str();
}

}  // namespace

void NativeLogger::CheckAndRotateLog() {
  if (log_file_path_.empty()) return;
  try {
    const fs::path current = PathFromUtf8(log_file_path_);
    // Nothing is renamed through a link planted in place of the file or
    // its folder; the next reopen refuses it and says so.
    if (IsLink(current) || IsLink(current.parent_path())) {
      log_file_->close();
      return;
    }
    if (!fs::exists(current)) {
      // Deleted under us: on POSIX the file still takes records that nobody
      // will ever read. Start a fresh file by the name (its folder too).
      log_file_->close();
      ReopenLocked();
      return;
    }
    if (fs::file_size(current) <= kRotationThresholdBytes) return;

    const std::string stamp = velqa::logging::FormatLocalTime(Now(), "%Y%m%d_%H%M%S");
    const fs::path rotated = FreeRotatedPath(current.parent_path(), stamp);

    log_file_->close();
    try {
      if (environment_->rename) {
        environment_->rename(current, rotated);
      } else {
        fs::rename(current, rotated);
      }
    } catch (...) {
      // Refused (another program holds the file without delete sharing):
      // the rest of the day must not be lost, so go on appending to the
      // current file; the next check tries again.
      log_file_->open(current);
      throw;
    }
    // When this fails, the records are counted and the file tried again.
    log_file_->open(current);
    // The first record of the fresh file.
    WriteRecordLocked(LogLevel::kInfo, "日志文件轮转: " + Utf8FromPath(rotated), kOwnTag,
                      /*releasable=*/nullptr);
    cleanup_task_->Request();
  } catch (const std::exception& e) {
    Notice("NativeLogger: 检查日志文件大小失败: ", e.what());
  }
}

std::string NativeLogger::CurrentLogFilePath() {
  std::lock_guard<std::mutex> lock(log_mutex_);
  return log_file_path_;
}

void NativeLogger::CleanupOldLogs() {
  try {
    const std::string install_directory = GetInstallDirectory();
    if (install_directory.empty()) return;
    const fs::path log_directory = velqa::logging::LogDirectoryBeside(install_directory);
    if (!fs::exists(log_directory)) return;

    // In the file system's ticks, which reach from 1601 to far beyond 2262.
    const auto cutoff = std::chrono::time_point_cast<velqa::logging::FileTicks>(Now() - kMaxLogAge);
    // The file being written stays whatever its age or size: removing it
    // would lose the records that follow (or fail on Windows, ending the pass).
    const std::string current_text = CurrentLogFilePath();
    const fs::path current =
        current_text.empty() ? fs::path() : log_directory / PathFromUtf8(current_text).filename();
    int removed_count = 0;
    // Size of the .log files left after the pass: "current total" in the summary.
    std::uintmax_t remaining_bytes = 0;
    std::vector<velqa::logging::LogFileFacts> remaining;

    for (const fs::directory_entry& entry : fs::directory_iterator(log_directory)) {
      // Only the logger's own files, never through a link: a standard user
      // may have planted one to make the elevated host delete its target.
      if (!IsOwnLogFileName(Utf8FromPath(entry.path().filename())) || IsLink(entry.path()) ||
          !entry.is_regular_file()) {
        continue;
      }
      const auto last_write = velqa::logging::LastWriteTime(entry.path());
      const std::uintmax_t size = fs::file_size(entry.path());
      if (last_write < cutoff && entry.path() != current) {
        const std::string name = Utf8FromPath(entry.path());
        fs::remove(entry.path());
        ++removed_count;
        Info("删除旧日志文件: " + name, kOwnTag);
      } else {
        remaining_bytes += size;
        remaining.push_back({entry.path(), size, last_write});
      }
    }

    for (const auto& file : velqa::logging::OldestBeyondLimit(
             std::move(remaining), environment_->max_log_folder_bytes, current)) {
      const std::string name = Utf8FromPath(file.path);
      fs::remove(file.path);
      ++removed_count;
      remaining_bytes -= file.size;
      Info("删除旧日志文件: " + name, kOwnTag);
    }

    Info("日志清理完成: 删除了 " + std::to_string(removed_count) +
             " 个文件，当前日志总大小: " + FormatMebibytes(remaining_bytes) + "MB",
         kOwnTag);
  } catch (const std::exception& e) {
    Log(LogLevel::kError, std::string("清理旧日志文件失败: ") + e.what(), kOwnTag);
  }
}
