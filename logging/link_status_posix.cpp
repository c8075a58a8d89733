#include <sys/stat.h>

#include "logging/link_status.h"

namespace velqa::logging {

bool IsLink(const std::filesystem::path& path) {
  struct stat info;
  return ::lstat(path.c_str(), &info) == 0 && S_ISLNK(info.st_mode);
}

}  // namespace velqa::logging
