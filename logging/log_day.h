// Which local day a log file belongs to, and when records move on to the file
// of another day. Records are stamped "YYYY-MM-DD HH:MM:SS.mmm" in local time;
// the file of the day is velqa_YYYYMMDD.log. Comparing the record's own date
// with the file's day follows the local calendar through daylight-saving
// changes (days of 23 or 25 hours) and clock corrections in either direction,
// where counting 24 hours from a midnight would not.
//
// Threads: not synchronised; the logger uses it under its record lock.
#ifndef VELQA_LOGGING_LOG_DAY_H_
#define VELQA_LOGGING_LOG_DAY_H_

#include <string>
#include <string_view>

namespace velqa::logging {

// "YYYYMMDD" of a record timestamp "YYYY-MM-DD HH:MM:SS.mmm".
std::string DayOfTimestamp(std::string_view timestamp);
// "velqa_" + day + ".log".
std::string DayFileName(std::string_view day);

class DayFileSchedule {
 public:
  // The file of `day` ("YYYYMMDD") is open now.
  void Opened(std::string day);
  // True when a record stamped `timestamp` belongs to another day than the
  // open file and moving on should be tried now: at once, and while opening
  // the other day's file keeps failing, at most once per second of the clock.
  bool Due(std::string_view timestamp) const;
  // Opening the other day's file failed for the record stamped `timestamp`.
  // True the first time for that day: worth one line on standard error.
  bool Failed(std::string_view timestamp);

 private:
  std::string day_;
  // "YYYY-MM-DD HH:MM:SS" of the last failed attempt; empty after a success.
  std::string failed_second_;
  // The day whose file could not be opened, reported once.
  std::string failed_day_;
};

}  // namespace velqa::logging

#endif  // VELQA_LOGGING_LOG_DAY_H_
