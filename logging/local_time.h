// Thread-safe conversion of calendar time to the local time zone.
#ifndef VELQA_LOGGING_LOCAL_TIME_H_
#define VELQA_LOGGING_LOCAL_TIME_H_

#include <ctime>

namespace velqa::logging {

// False when the time cannot be represented in local time.
bool ToLocalTime(std::time_t time, std::tm& local);

}  // namespace velqa::logging

#endif  // VELQA_LOGGING_LOCAL_TIME_H_
