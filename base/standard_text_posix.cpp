#include <cerrno>
#include <unistd.h>

#include "base/standard_text.h"

namespace velqa::base {

bool WriteStandardText(StandardStream stream, std::string_view text) {
  const int fd = stream == StandardStream::kOutput ? STDOUT_FILENO : STDERR_FILENO;
  while (!text.empty()) {
    const ssize_t written = ::write(fd, text.data(), text.size());
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    text.remove_prefix(static_cast<std::size_t>(written));
  }
  return true;
}

}  // namespace velqa::base
