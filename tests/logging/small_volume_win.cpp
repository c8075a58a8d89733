#include <cstdlib>
#include <system_error>

#include "tests/logging/small_volume.h"

std::optional<std::filesystem::path> SmallVolumeInstallDirectory(const std::filesystem::path&) {
  const wchar_t* prepared = _wgetenv(L"VELQA_SMALL_VOLUME_INSTALL");
  if (prepared == nullptr || *prepared == L'\0') return std::nullopt;
  return std::filesystem::path(prepared);
}

void ReleaseSmallVolume(const std::filesystem::path& install_directory) {
  // The script unmounts; the volume is emptied for the next run.
  std::error_code ignored;
  for (const auto& entry : std::filesystem::directory_iterator(install_directory / "logs", ignored)) {
    std::filesystem::remove_all(entry.path(), ignored);
  }
}
