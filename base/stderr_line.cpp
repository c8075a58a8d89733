#include "base/stderr_line.h"

#include <cstdio>

#include "base/standard_text.h"
#include "base/stderr_lock.h"

namespace velqa::base {

void WriteStderrLine(std::string_view text, std::string_view detail) {
  // Several writes, one line: no other thread's stdio line may fall between
  // them. What stdio still holds for the stream goes first.
  const StderrLock whole_line;
  std::fflush(stderr);
  WriteStandardText(StandardStream::kError, text);
  if (!detail.empty()) WriteStandardText(StandardStream::kError, detail);
  WriteStandardText(StandardStream::kError, "\n");
}

}  // namespace velqa::base
