#include <fcntl.h>
#include <sys/stat.h>

#include <stdexcept>

#include "tests/logging/file_time_setter.h"

void SetLastWriteTime(const std::filesystem::path& path,
                      std::chrono::system_clock::time_point time) {
  std::filesystem::last_write_time(path, std::chrono::file_clock::from_sys(time));
}

void SetLastWriteTicks(const std::filesystem::path& path, velqa::logging::FileTime time) {
  const auto ticks = time.time_since_epoch().count();
  std::int64_t seconds = ticks / 10'000'000;
  std::int64_t rest = ticks % 10'000'000;
  if (rest < 0) {
    rest += 10'000'000;
    --seconds;
  }
  const timespec times[2] = {{0, UTIME_OMIT}, {static_cast<time_t>(seconds), static_cast<long>(rest * 100)}};
  if (utimensat(AT_FDCWD, path.c_str(), times, 0) != 0) throw std::runtime_error("utimensat failed");
}
