#include "tests/logging/file_time_setter.h"

void SetLastWriteTime(const std::filesystem::path& path,
                      std::chrono::system_clock::time_point time) {
  std::filesystem::last_write_time(path, std::chrono::file_clock::from_sys(time));
}
