#include <chrono>
#include <filesystem>

#include "tests/logging/blocked_entry.h"

std::unique_ptr<BlockedEntry> MakeBlockedLogEntry(const std::filesystem::path& path,
                                                  std::chrono::system_clock::time_point) {
  std::filesystem::create_symlink(path.filename(), path);
  return std::make_unique<BlockedEntry>();
}
