#include "logging/log_day.h"

#include <utility>

namespace velqa::logging {
namespace {

// The date part of a timestamp: everything before the blank.
std::string_view DatePart(std::string_view timestamp) {
  return timestamp.substr(0, timestamp.find(' '));
}

// "YYYY-MM-DD HH:MM:SS": the part that changes once a second.
std::string_view SecondPart(std::string_view timestamp) {
  return timestamp.substr(0, timestamp.find('.'));
}

// True when the date of `timestamp` without its dashes equals `day`; no
// allocation, as it runs for every record.
bool IsDayOf(std::string_view timestamp, std::string_view day) {
  std::size_t next = 0;
  for (const char c : DatePart(timestamp)) {
    if (c == '-') continue;
    if (next == day.size() || day[next] != c) return false;
    ++next;
  }
  return next == day.size();
}

}  // namespace

std::string DayOfTimestamp(std::string_view timestamp) {
  std::string day;
  for (const char c : DatePart(timestamp)) {
    if (c != '-') day += c;
  }
  return day;
}

std::string DayFileName(std::string_view day) {
  std::string name = "velqa_";
  name += day;
  name += ".log";
  return name;
}

void DayFileSchedule::Opened(std::string day) {
  day_ = std::move(day);
  failed_second_.clear();
  failed_day_.clear();
}

bool DayFileSchedule::Due(std::string_view timestamp) const {
  if (IsDayOf(timestamp, day_)) return false;
  return failed_second_.empty() || SecondPart(timestamp) != failed_second_;
}

bool DayFileSchedule::Failed(std::string_view timestamp) {
  failed_second_ = SecondPart(timestamp);
  std::string day = DayOfTimestamp(timestamp);
  if (day == failed_day_) return false;
  failed_day_ = std::move(day);
  return true;
}

}  // namespace velqa::logging
