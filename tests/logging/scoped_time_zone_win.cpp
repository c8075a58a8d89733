#include <stdlib.h>
#include <time.h>

#include "tests/logging/scoped_time_zone.h"

// The C runtime reads TZ from its own copy of the environment, which only
// _putenv_s changes, and only at _tzset.
ScopedTimeZone::ScopedTimeZone(const std::string& tz) {
  if (const char* old = getenv("TZ")) previous_ = old;
  _putenv_s("TZ", tz.c_str());
  _tzset();
}

ScopedTimeZone::~ScopedTimeZone() {
  _putenv_s("TZ", previous_ ? previous_->c_str() : "");
  _tzset();
}

// The C runtime's TZ has no rules: a daylight-saving name makes it apply the
// United States' dates.
const char* ScopedTimeZone::ZoneWithDaylightSaving() { return "PST8PDT"; }
