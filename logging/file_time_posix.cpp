#include "logging/file_time.h"

namespace velqa::logging {

std::chrono::system_clock::time_point LastWriteTime(const std::filesystem::path& path) {
  return std::chrono::time_point_cast<std::chrono::system_clock::duration>(
      std::chrono::file_clock::to_sys(std::filesystem::last_write_time(path)));
}

}  // namespace velqa::logging
