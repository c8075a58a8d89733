#include <windows.h>

#include <cstdint>
#include <system_error>

#include "logging/file_time.h"

namespace velqa::logging {
namespace {

// 100-nanosecond intervals between 1601-01-01 (FILETIME) and 1970-01-01.
constexpr std::int64_t kFileTimeToUnixEpoch = 116'444'736'000'000'000;
using FileTimeTicks = std::chrono::duration<std::int64_t, std::ratio<1, 10'000'000>>;

}  // namespace

std::chrono::system_clock::time_point LastWriteTime(const std::filesystem::path& path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) {
    const DWORD error = GetLastError();
    throw std::filesystem::filesystem_error(
        "cannot get file time", path,
        std::error_code(static_cast<int>(error), std::system_category()));
  }
  const std::int64_t ticks =
      (static_cast<std::int64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) |
      data.ftLastWriteTime.dwLowDateTime;
  return std::chrono::system_clock::time_point(
      std::chrono::duration_cast<std::chrono::system_clock::duration>(
          FileTimeTicks(ticks - kFileTimeToUnixEpoch)));
}

}  // namespace velqa::logging
