#include <sys/mount.h>

#include "tests/logging/small_volume.h"

std::optional<std::filesystem::path> SmallVolumeInstallDirectory(
    const std::filesystem::path& scratch) {
  std::filesystem::create_directories(scratch / "logs");
  if (mount("tmpfs", (scratch / "logs").c_str(), "tmpfs", 0, "size=256k") != 0) return std::nullopt;
  return scratch;
}

void ReleaseSmallVolume(const std::filesystem::path& install_directory) {
  umount2((install_directory / "logs").c_str(), MNT_DETACH);
}
