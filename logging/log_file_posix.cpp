#include <fcntl.h>
#include <unistd.h>

#include "logging/log_file.h"

namespace velqa::logging {

std::FILE* LogFile::OpenForAppend(const std::filesystem::path& path) {
  // Close-on-exec: a child the host starts must not hold the log open.
  const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
  if (fd < 0) return nullptr;
  std::FILE* file = fdopen(fd, "a");
  if (file == nullptr) ::close(fd);
  return file;
}

}  // namespace velqa::logging
