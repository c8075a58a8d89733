// A volume with a few hundred KiB of room, for what the logger does when the
// disk is full. On Linux the test mounts a tmpfs itself (as root); under Wine
// the CTest script small_volume_test.cmake mounts one as an install
// directory and names it in VELQA_SMALL_VOLUME_INSTALL, since a Windows
// program cannot mount anything.
#ifndef VELQA_TESTS_LOGGING_SMALL_VOLUME_H_
#define VELQA_TESTS_LOGGING_SMALL_VOLUME_H_

#include <filesystem>
#include <optional>

// The install directory whose "logs" is a small volume, made below `scratch`
// where that is possible; nullopt where it is not.
std::optional<std::filesystem::path> SmallVolumeInstallDirectory(
    const std::filesystem::path& scratch);
// Gives up what SmallVolumeInstallDirectory made.
void ReleaseSmallVolume(const std::filesystem::path& install_directory);

#endif  // VELQA_TESTS_LOGGING_SMALL_VOLUME_H_
