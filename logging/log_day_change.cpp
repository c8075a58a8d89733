// Moving on to the file of a new local day, on the path of the record that
// belongs to it.
#include <exception>
#include <filesystem>
#include <string>
#include <utility>

#include "base/utf8_path.h"
#include "logging/background_task.h"
#include "logging/log_day.h"
#include "logging/log_directory.h"
#include "logging/log_file.h"
#include "logging/log_format.h"
#include "logging/native_logger.h"

namespace fs = std::filesystem;
using velqa::base::PathFromUtf8;
using velqa::base::Utf8FromPath;

std::string NativeLogger::ChangeDayLocked(const std::string& timestamp) {
  try {
    const std::string day = velqa::logging::DayOfTimestamp(timestamp);
    const fs::path next =
        velqa::logging::DayLogFilePath(PathFromUtf8(log_file_path_).parent_path(), day);
    std::string next_text = Utf8FromPath(next);
    std::string notice;
    velqa::logging::AppendLogEntry(notice, LogLevel::kInfo, "日期变更，此前的记录在: " + log_file_path_,
                                   kOwnTag, timestamp);
    notice += '\n';

    // The new file is opened before the old one is closed: when it cannot be
    // opened (the folder is gone, another program holds the name), records
    // go on into the old file and the change is tried again a second later.
    if (!log_file_->open(next)) {
      if (day_schedule_->Failed(timestamp)) {
        Notice("NativeLogger: 无法打开日志文件: ", next_text);
      }
      return {};
    }
    log_file_path_ = std::move(next_text);
    day_schedule_->Opened(day);
    cleanup_task_->Request();
    return notice;
  } catch (const std::exception& e) {
    // Only memory exhaustion or a path that cannot be converted gets here,
    // before anything changed: the record goes into the old file.
    day_schedule_->Failed(timestamp);
    Notice("NativeLogger: 切换日志文件失败: ", e.what());
  }
  return {};
}
