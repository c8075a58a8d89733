#include <chrono>
#include <filesystem>
#include <fstream>

#include "tests/logging/blocked_entry.h"
#include "tests/logging/logger_test_support.h"

namespace {

// The C runtime opens files without delete sharing, so while this stream is
// open DeleteFileW fails with a sharing violation.
class HeldOpenFile : public BlockedEntry {
 public:
  explicit HeldOpenFile(const std::filesystem::path& path) : stream_(path) {}

 private:
  std::ifstream stream_;
};

}  // namespace

const bool kCanBlockALogEntry = true;

std::unique_ptr<BlockedEntry> MakeBlockedLogEntry(const std::filesystem::path& path,
                                                  std::chrono::system_clock::time_point now) {
  WriteFileWithTime(path, "held", now - std::chrono::hours(24 * 30));
  return std::make_unique<HeldOpenFile>(path);
}
