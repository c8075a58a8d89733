#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include "logging/log_file.h"

namespace velqa::logging {

std::FILE* LogFile::OpenForAppend(const std::filesystem::path& path) {
  // _O_NOINHERIT: the C runtime otherwise opens files inheritable, and a
  // child started with inheritance on would keep the log from being renamed.
  // Shared for reading and writing, as the C runtime's default open is.
  const int fd = _wopen(path.c_str(), _O_WRONLY | _O_APPEND | _O_CREAT | _O_TEXT | _O_NOINHERIT,
                        _S_IREAD | _S_IWRITE);
  if (fd < 0) return nullptr;
  std::FILE* file = _fdopen(fd, "a");
  if (file == nullptr) _close(fd);
  return file;
}

}  // namespace velqa::logging
