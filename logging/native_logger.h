// NativeLogger: the process-wide logger of the native side. Records go to
// standard output and, once Initialize has opened it, to the day's file in the
// "logs" directory beside the executable (velqa_YYYYMMDD.log). Every record is
// flushed before Log returns. The first record of a new local day moves on to
// that day's file. The file is rotated past 50 MiB. ".log" files older than
// seven days are removed, and then the oldest until the folder's ".log" files
// take at most 1 GiB: at start-up, and on a thread of the logger's own after
// each rotation and each change of day.
//
// Threads: GetInstance, Log, Info and LogWithin may be called from any thread
// at any time. Initialize is called once by the entry point on the main thread
// before other threads write records. The destructor joins the cleanup
// thread. No member lets an exception escape.
#ifndef VELQA_LOGGING_NATIVE_LOGGER_H_
#define VELQA_LOGGING_NATIVE_LOGGER_H_

#include <atomic>
#include <chrono>
#include <cstdint>
#include <ctime>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "logging/log_level.h"

// Defined in log_file.h and log_environment.h, which only the logger's own
// sources and its tests include: they bring <filesystem> and <functional>.
namespace velqa::logging {
class BackgroundTask;
class DayFileSchedule;
class LogFile;
struct LogEnvironment;
}  // namespace velqa::logging

class NativeLogger {
 public:
  // The one logger of the process, created on first use, destroyed at exit.
  static NativeLogger& GetInstance();

  NativeLogger(const NativeLogger&) = delete;
  NativeLogger& operator=(const NativeLogger&) = delete;
  ~NativeLogger();

  // Opens the day's log file beside the executable. True when ready (also if
  // it already was); false after reporting the trouble on standard error.
  bool Initialize();

  // Writes one record (message and tag are UTF-8). Before Initialize only
  // "[NativeLogger] " + message reaches standard output.
  void Log(LogLevel level, const std::string& message, const std::string& tag);
  void Info(const std::string& message, const std::string& tag);

  // Log, but giving up (false, nothing written) when the record lock stays
  // taken for `patience`: a crash report must not wait forever for a thread
  // that died while it held the lock.
  bool LogWithin(LogLevel level, const std::string& message, const std::string& tag,
                 std::chrono::milliseconds patience);

 private:
  friend class NativeLoggerTestPeer;

  explicit NativeLogger(velqa::logging::LogEnvironment environment);

  std::string GetInstallDirectory() const;
  std::chrono::system_clock::time_point Now() const;
  // Appends "YYYY-MM-DD HH:MM:SS.mmm" of one clock reading. Needs log_mutex_.
  void AppendTimestamp(std::string& out);
  // One record once log_mutex_ is held: file, count, standard output and,
  // every 100 records, the size check. With `releasable` (the caller's hold
  // of log_mutex_) it may release the lock once the record's order is fixed,
  // and runs the size check; without it (the rotation's own record) it keeps
  // the lock and checks nothing.
  void WriteRecordLocked(LogLevel level, const std::string& message, const std::string& tag,
                         std::unique_lock<std::mutex>* releasable);
  // Counts one record written to the file; true when the size check is due.
  // Needs log_mutex_.
  bool CountRecordLocked();
  // Moves the file aside once it is past 50 MiB. Needs log_mutex_.
  void CheckAndRotateLog();
  // Continues in the file of the day of `timestamp`. Returns the line (with
  // its line break) that opens the new file and names the previous one, or
  // "" when the file could not be changed and records stay in the old one.
  // Needs log_mutex_.
  std::string ChangeDayLocked(const std::string& timestamp);
  // The file being written, as stored in log_file_path_. Takes log_mutex_.
  std::string CurrentLogFilePath();
  // Removes ".log" files not written for seven days, then the oldest until
  // the rest fit the size limit. Takes log_mutex_ per record.
  void CleanupOldLogs();

  // Never null; behind a pointer only to keep the file's header out of this one.
  std::unique_ptr<velqa::logging::LogFile> log_file_;
  // Serialises records: the file, the counter, rotation and the order of
  // records. A leaf lock but for console_mutex_, which is taken inside it.
  std::mutex log_mutex_;
  std::string log_file_path_;
  // Set once by Initialize before other threads log; read unlocked by Log.
  std::atomic<bool> initialized_{false};

  // Records written to the file; every 100th triggers the size check.
  std::int32_t record_count_ = 0;
  // "YYYY-MM-DD HH:MM:SS" of cached_second_, reused while the second lasts.
  // Empty until the first timestamp: every time_t value is a real second.
  std::optional<std::time_t> cached_second_;
  std::string cached_seconds_text_;
  // Reused for every record; guarded by log_mutex_.
  std::string timestamp_buffer_;
  // The day of the open file; guarded by log_mutex_. Never null.
  std::unique_ptr<velqa::logging::DayFileSchedule> day_schedule_;
  // Standard output's share of a record, taken before log_mutex_ is released.
  std::mutex console_mutex_;

  // Never null; the test seams (clock, directory, rename, size limit).
  std::unique_ptr<const velqa::logging::LogEnvironment> environment_;
  // Runs CleanupOldLogs after rotations and changes of day, off the path of
  // the record that asked for it. Never null; last, so that it is built after
  // and stopped before everything its pass uses.
  std::unique_ptr<velqa::logging::BackgroundTask> cleanup_task_;
};

#endif  // VELQA_LOGGING_NATIVE_LOGGER_H_
