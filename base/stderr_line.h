// The one way to write a line to standard error: whole, even when other
// threads write theirs at the same time.
#ifndef VELQA_BASE_STDERR_LINE_H_
#define VELQA_BASE_STDERR_LINE_H_

#include <string_view>

namespace velqa::base {

// Writes `text`, then `detail`, then a line break to the C library's standard
// error stream under that stream's own lock, and flushes. It does not
// allocate, so it also works when memory has run out. Any thread.
void WriteStderrLine(std::string_view text, std::string_view detail = {});

}  // namespace velqa::base

#endif  // VELQA_BASE_STDERR_LINE_H_
