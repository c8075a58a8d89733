// The logger's own trouble goes to standard error as one line. Writing does
// not allocate, so it also works when memory has run out.
#ifndef VELQA_LOGGING_LOGGER_ERRORS_H_
#define VELQA_LOGGING_LOGGER_ERRORS_H_

#include <string_view>

namespace velqa::logging {

// Writes `text`, then `detail`, then a line break to standard error as one
// whole line, and flushes. Any thread.
void ReportToStderr(std::string_view text, std::string_view detail = {});

}  // namespace velqa::logging

#endif  // VELQA_LOGGING_LOGGER_ERRORS_H_
