#include "logging/logger_errors.h"

#include <cstdio>

namespace velqa::logging {

void ReportToStderr(std::string_view text, std::string_view detail) {
  std::fwrite(text.data(), 1, text.size(), stderr);
  if (!detail.empty()) std::fwrite(detail.data(), 1, detail.size(), stderr);
  std::fputc('\n', stderr);
  std::fflush(stderr);
}

}  // namespace velqa::logging
