#include "logging/local_time.h"

namespace velqa::logging {

bool ToLocalTime(std::time_t time, std::tm& local) { return localtime_s(&local, &time) == 0; }

}  // namespace velqa::logging
