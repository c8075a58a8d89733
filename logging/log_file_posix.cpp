#include <fcntl.h>
#include <unistd.h>

#include "base/unique_fd_posix.h"
#include "logging/log_file.h"

namespace velqa::logging {

std::FILE* LogFile::OpenForAppend(const std::filesystem::path& path) {
  // Close-on-exec: a child the host starts must not hold the log open.
  velqa::base::UniqueFd fd(::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666));
  if (!fd) return nullptr;
  std::FILE* file = fdopen(fd.get(), "a");
  // From here the stream owns the descriptor.
  if (file != nullptr) static_cast<void>(fd.Release());
  return file;
}

}  // namespace velqa::logging
