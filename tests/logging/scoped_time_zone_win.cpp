#include <stdlib.h>
#include <time.h>

#include "tests/logging/scoped_time_zone.h"

namespace {

// The C runtime has no rules in TZ: a daylight-saving name makes it apply the
// United States' dates.
constexpr char kZoneWithDaylightSaving[] = "PST8PDT";

// The C runtime takes a zone's daylight-saving rules at its first local-time
// conversion and keeps them whatever TZ says later (seen under Wine). So the
// test program runs in the zone with daylight saving from its start, before
// any test converts a time; the logger's tests give their clock in local time
// and do not depend on the zone otherwise.
const bool g_zone_set_at_start = [] {
  _putenv_s("TZ", kZoneWithDaylightSaving);
  _tzset();
  return true;
}();

}  // namespace

// The C runtime reads TZ from its own copy of the environment, which only
// _putenv_s changes, and only at _tzset.
ScopedTimeZone::ScopedTimeZone(const std::string& tz) {
  static_cast<void>(g_zone_set_at_start);
  if (const char* old = getenv("TZ")) previous_ = old;
  _putenv_s("TZ", tz.c_str());
  _tzset();
}

ScopedTimeZone::~ScopedTimeZone() {
  _putenv_s("TZ", previous_ ? previous_->c_str() : "");
  _tzset();
}

const char* ScopedTimeZone::ZoneWithDaylightSaving() { return kZoneWithDaylightSaving; }
