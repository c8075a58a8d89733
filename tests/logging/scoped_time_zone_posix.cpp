#include <stdlib.h>
#include <time.h>

#include "tests/logging/scoped_time_zone.h"

ScopedTimeZone::ScopedTimeZone(const std::string& tz) {
  if (const char* old = getenv("TZ")) previous_ = old;
  setenv("TZ", tz.c_str(), 1);
  tzset();
}

ScopedTimeZone::~ScopedTimeZone() {
  if (previous_) {
    setenv("TZ", previous_->c_str(), 1);
  } else {
    unsetenv("TZ");
  }
  tzset();
}

// Central European time: summer time from the last Sunday of March 02:00 to
// the last Sunday of October 03:00.
const char* ScopedTimeZone::ZoneWithDaylightSaving() { return "CET-1CEST,M3.5.0,M10.5.0/3"; }
