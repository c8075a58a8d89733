// The text of a log record:
//   [2025-03-01 09:15:02.047] [INFO] [VpnManager] [I] Job Object created successfully
#ifndef VELQA_LOGGING_LOG_FORMAT_H_
#define VELQA_LOGGING_LOG_FORMAT_H_

#include <chrono>
#include <ctime>
#include <string>
#include <string_view>

#include "logging/log_level.h"

namespace velqa::logging {

// "DEBUG" ... "FATAL"; "UNKNOWN" for a value outside the enumeration.
std::string_view LevelName(LogLevel level);
// "[D]" ... "[F]"; "[?]" for a value outside the enumeration.
std::string_view LevelMarker(LogLevel level);

// Appends the record line, without its line break, to `out`.
void AppendLogEntry(std::string& out, LogLevel level, std::string_view message,
                    std::string_view tag, std::string_view timestamp);
std::string FormatLogEntry(LogLevel level, std::string_view message, std::string_view tag,
                           std::string_view timestamp);

// `time` in local calendar time through strftime's `format`; throws
// std::runtime_error when the time has no local representation.
std::string FormatLocalTime(std::chrono::system_clock::time_point time, const char* format);

// "YYYY-MM-DD HH:MM:SS.mmm", the local time a record carries; throws as
// FormatLocalTime does.
std::string FormatRecordTime(std::chrono::system_clock::time_point time);

// Splits a reading into whole seconds since the epoch and the milliseconds
// within that second (0..999), both rounded towards the past.
struct SecondsAndMillis {
  std::time_t seconds;
  int millis;
};
SecondsAndMillis SplitMillis(std::chrono::system_clock::time_point time);

}  // namespace velqa::logging

#endif  // VELQA_LOGGING_LOG_FORMAT_H_
