#include "base/stderr_line.h"

#include <cstdio>

#include "base/stderr_lock.h"

namespace velqa::base {

void WriteStderrLine(std::string_view text, std::string_view detail) {
  // Several calls, one line: no other thread's line may fall between them.
  const StderrLock whole_line;
  std::fwrite(text.data(), 1, text.size(), stderr);
  if (!detail.empty()) std::fwrite(detail.data(), 1, detail.size(), stderr);
  std::fputc('\n', stderr);
  std::fflush(stderr);
}

}  // namespace velqa::base
