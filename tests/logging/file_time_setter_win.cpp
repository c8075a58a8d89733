#include <windows.h>

#include <cstdint>
#include <stdexcept>

#include "base/win_resources_win.h"
#include "tests/logging/file_time_setter.h"

void SetLastWriteTicks(const std::filesystem::path& path, velqa::logging::FileTime time) {
  const std::int64_t ticks = time.time_since_epoch().count() + 116'444'736'000'000'000;
  FILETIME file_time;
  file_time.dwLowDateTime = static_cast<DWORD>(ticks & 0xffffffff);
  file_time.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
  // Backup semantics let directories be opened too.
  const velqa::base::UniqueHandle handle(
      CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES,
                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                  FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!handle) throw std::runtime_error("cannot open for SetFileTime");
  if (!SetFileTime(handle.get(), nullptr, nullptr, &file_time)) throw std::runtime_error("SetFileTime failed");
}

void SetLastWriteTime(const std::filesystem::path& path,
                      std::chrono::system_clock::time_point time) {
  SetLastWriteTicks(path, std::chrono::time_point_cast<velqa::logging::FileTicks>(time));
}
