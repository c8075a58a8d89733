// The one way to write a line to standard error: whole, even when other
// threads write theirs at the same time.
#ifndef VELQA_BASE_STDERR_LINE_H_
#define VELQA_BASE_STDERR_LINE_H_

#include <string_view>

namespace velqa::base {

// Writes `text`, then `detail`, then a line break to standard error (a
// console gets UTF-16, see base/standard_text.h) while holding the C
// library's lock of that stream, so stdio writers wait. It does not allocate,
// so it also works when memory has run out. Any thread; it blocks while
// standard error does, so the logger's own record path does not use it.
void WriteStderrLine(std::string_view text, std::string_view detail = {});

}  // namespace velqa::base

#endif  // VELQA_BASE_STDERR_LINE_H_
