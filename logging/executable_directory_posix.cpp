#include <unistd.h>

#include "logging/executable_directory.h"

namespace velqa::logging {

std::string ExecutableDirectory() {
  char buffer[kExecutablePathCapacity];
  // readlink cuts silently at the buffer's end, so a full buffer means "too long".
  const ssize_t length = readlink("/proc/self/exe", buffer, sizeof buffer);
  if (length <= 0 || static_cast<std::size_t>(length) >= kExecutablePathCapacity) return {};
  std::string path(buffer, static_cast<std::size_t>(length));
  const std::size_t slash = path.rfind('/');
  // An executable in "/" keeps the slash: the empty string means "unknown".
  if (slash != std::string::npos) path.resize(slash == 0 ? 1 : slash);
  return path;
}

}  // namespace velqa::logging
