#include "logging/local_time.h"

namespace velqa::logging {

bool ToLocalTime(std::time_t time, std::tm& local) { return localtime_r(&time, &local) != nullptr; }

}  // namespace velqa::logging
