// NativeLogger: the process-wide logger of the native side. Records go to
// the day's file in the "logs" directory beside the executable
// (velqa_YYYYMMDD.log), once Initialize has opened it, and to standard output.
// Every record is in the file before Log returns; standard output gets its
// copy from a thread of its own (logging/console_output.h), so a stream that
// blocks never holds up a thread that logs. The first record of a new local
// day moves on to that day's file. The file is rotated past 50 MiB. The
// logger's ".log" files older than seven days are removed, and then the oldest
// until the folder's ".log" files take at most 1 GiB: at start-up, and on a
// thread of the logger's own after each rotation and each change of day.
//
// When the file cannot be written (a full disk, a removed folder, a failed
// reopen), one line says so on standard error, records are counted, the file
// is tried again (reopened, its folder recreated, once a second at most), and
// the first record stored afterwards says how many were lost. A "logs" that is
// a link means no file for the run.
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
#include <string_view>

#include "base/standard_text.h"
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
  // that died while it held the lock. The console's copy is given up as well
  // when the console queue's lock is not free by then.
  bool LogWithin(LogLevel level, const std::string& message, const std::string& tag,
                 std::chrono::milliseconds patience);

 private:
  friend class NativeLoggerTestPeer;

  explicit NativeLogger(velqa::logging::LogEnvironment environment);

  static constexpr char kOwnTag[] = "NativeLogger";
  static constexpr char kLinkedDirectoryNotice[] =
      "NativeLogger: 日志目录是链接，本次运行不写日志文件: ";

  std::string GetInstallDirectory() const;
  std::chrono::system_clock::time_point Now() const;
  // Appends "YYYY-MM-DD HH:MM:SS.mmm" of one clock reading. Needs log_mutex_.
  void AppendTimestamp(std::string& out);
  // One record once log_mutex_ is held: file, count, standard output and,
  // every 100 records, the size check. With `releasable` (the caller's hold
  // of log_mutex_) it runs the size check; without it (the rotation's own
  // record) it checks nothing.
  void WriteRecordLocked(LogLevel level, const std::string& message, const std::string& tag,
                         std::unique_lock<std::mutex>* releasable);
  // Appends a record line to the file, or counts it lost (reporting the
  // outage once); true when stored. Needs log_mutex_.
  bool StoreLocked(const std::string& line);
  // Opens the file again while there is none, at most once a second,
  // recreating its folder. Needs log_mutex_.
  void ReopenLocked();
  // Writes the record that says how many records were lost. Needs log_mutex_.
  void ReportLossLocked();
  // Counts one record written to the file; true when the size check is due.
  // Needs log_mutex_.
  bool CountRecordLocked();
  // Console lines through logging/console_output.h: the queue never waits on
  // the stream; within LogWithin it gives up at console_deadline_.
  void ToConsole(velqa::base::StandardStream stream, std::string text);
  // One line of the logger's own trouble on standard error.
  void Notice(std::string_view text, std::string_view detail = {});
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
  // records. A leaf lock but for the console queue's, taken inside it.
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
  // The outage of the file: reported on standard error once, the records
  // it cost, the last try to reopen, and whether a link ended file logging.
  bool writing_stopped_ = false;
  std::uint64_t lost_records_ = 0;
  std::optional<std::chrono::system_clock::time_point> last_reopen_attempt_;
  bool file_refused_ = false;
  // Set while LogWithin writes its record; guarded by log_mutex_.
  std::optional<std::chrono::steady_clock::time_point> console_deadline_;

  // The day of the open file; guarded by log_mutex_. Never null.
  std::unique_ptr<velqa::logging::DayFileSchedule> day_schedule_;
  // Never null; the test seams (clock, directory, rename, size limit).
  std::unique_ptr<const velqa::logging::LogEnvironment> environment_;
  // Runs CleanupOldLogs after rotations and changes of day, off the path of
  // the record that asked for it. Never null; last, so that it is built after
  // and stopped before everything its pass uses.
  std::unique_ptr<velqa::logging::BackgroundTask> cleanup_task_;
};

#endif  // VELQA_LOGGING_NATIVE_LOGGER_H_
