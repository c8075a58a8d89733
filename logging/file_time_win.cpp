#include <windows.h>

#include <cstdint>
#include <system_error>

#include "logging/file_time.h"

namespace velqa::logging {
namespace {

// 100-nanosecond intervals between 1601-01-01 (FILETIME) and 1970-01-01.
constexpr std::int64_t kFileTimeToUnixEpoch = 116'444'736'000'000'000;

}  // namespace

FileTime LastWriteTime(const std::filesystem::path& path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) {
    const DWORD error = GetLastError();
    throw std::filesystem::filesystem_error(
        "cannot get file time", path,
        std::error_code(static_cast<int>(error), std::system_category()));
  }
  const std::uint64_t raw = (static_cast<std::uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) |
                           data.ftLastWriteTime.dwLowDateTime;
  // Values past 2^63 are not valid file times; they count as the latest one.
  const std::int64_t ticks = raw > static_cast<std::uint64_t>(INT64_MAX)
                                 ? INT64_MAX
                                 : static_cast<std::int64_t>(raw);
  // Both lie within 0 .. 2^63 - 1, so the difference cannot overflow.
  return FileTime(FileTicks(ticks - kFileTimeToUnixEpoch));
}

}  // namespace velqa::logging
