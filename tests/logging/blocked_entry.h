// An old-looking ".log" entry the cleanup cannot get rid of: on Windows a file
// held open without delete sharing, on POSIX a symbolic link to itself whose
// status cannot be read (tests run as root, so permissions would not stop it).
#ifndef VELQA_TESTS_LOGGING_BLOCKED_ENTRY_H_
#define VELQA_TESTS_LOGGING_BLOCKED_ENTRY_H_

#include <chrono>
#include <filesystem>
#include <memory>

class BlockedEntry {
 public:
  virtual ~BlockedEntry() = default;
};

// Creates the entry at `path` (its last write time, where it has one, lies
// weeks before `now`) and keeps it blocked while the result lives.
std::unique_ptr<BlockedEntry> MakeBlockedLogEntry(const std::filesystem::path& path,
                                                  std::chrono::system_clock::time_point now);

#endif  // VELQA_TESTS_LOGGING_BLOCKED_ENTRY_H_
