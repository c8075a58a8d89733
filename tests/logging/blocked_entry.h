// An old-looking log file the cleanup cannot get rid of: on Windows a file
// held open without delete sharing. POSIX has none for a test run as root.
#ifndef VELQA_TESTS_LOGGING_BLOCKED_ENTRY_H_
#define VELQA_TESTS_LOGGING_BLOCKED_ENTRY_H_

#include <chrono>
#include <filesystem>
#include <memory>

class BlockedEntry {
 public:
  virtual ~BlockedEntry() = default;
};

// Whether MakeBlockedLogEntry can make one on this system.
extern const bool kCanBlockALogEntry;

// Creates the entry at `path` (its last write time, where it has one, lies
// weeks before `now`) and keeps it blocked while the result lives.
std::unique_ptr<BlockedEntry> MakeBlockedLogEntry(const std::filesystem::path& path,
                                                  std::chrono::system_clock::time_point now);

#endif  // VELQA_TESTS_LOGGING_BLOCKED_ENTRY_H_
