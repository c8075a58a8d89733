// The names of the logger's own files, the only ones its cleanup removes.
#ifndef VELQA_LOGGING_LOG_FILE_NAMES_H_
#define VELQA_LOGGING_LOG_FILE_NAMES_H_

#include <string_view>

namespace velqa::logging {

// velqa_YYYYMMDD.log (a day's file) and velqa_YYYYMMDD_HHMMSS.log or
// velqa_YYYYMMDD_HHMMSS_N.log (a rotated one), digits only where shown.
// Any thread.
bool IsOwnLogFileName(std::string_view name);

}  // namespace velqa::logging

#endif  // VELQA_LOGGING_LOG_FILE_NAMES_H_
