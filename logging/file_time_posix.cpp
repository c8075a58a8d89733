#include <sys/stat.h>

#include <cerrno>
#include <system_error>

#include "logging/file_time.h"

namespace velqa::logging {

FileTime LastWriteTime(const std::filesystem::path& path) {
  struct stat info;
  if (::stat(path.c_str(), &info) != 0) {
    throw std::filesystem::filesystem_error("cannot get file time", path,
                                            std::error_code(errno, std::generic_category()));
  }
  // Seconds since 1970 fit in ticks for every time_t a file system stores.
  return FileTime(std::chrono::duration_cast<FileTicks>(std::chrono::seconds(info.st_mtim.tv_sec)) +
                  FileTicks(info.st_mtim.tv_nsec / 100));
}

}  // namespace velqa::logging
