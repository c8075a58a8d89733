// Sets the C library's local time zone (the TZ variable) for a test and puts
// the previous one back after it.
//
// Threads: the test thread, while no other thread converts local time.
#ifndef VELQA_TESTS_LOGGING_SCOPED_TIME_ZONE_H_
#define VELQA_TESTS_LOGGING_SCOPED_TIME_ZONE_H_

#include <optional>
#include <string>

class ScopedTimeZone {
 public:
  // `tz` in the TZ syntax of the platform's C library.
  explicit ScopedTimeZone(const std::string& tz);
  ~ScopedTimeZone();
  ScopedTimeZone(const ScopedTimeZone&) = delete;
  ScopedTimeZone& operator=(const ScopedTimeZone&) = delete;

  // A zone with daylight saving time in the platform's TZ syntax.
  static const char* ZoneWithDaylightSaving();

 private:
  std::optional<std::string> previous_;
};

#endif  // VELQA_TESTS_LOGGING_SCOPED_TIME_ZONE_H_
