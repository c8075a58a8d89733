// What a long run of this process could leak, as the system counts it: open
// handles (descriptors), threads and private memory; and the means to show
// that each count moves.
//
// Threads: any; each call reads the whole process.
#ifndef VELQA_BENCH_SOAK_PROCESS_COUNTERS_H_
#define VELQA_BENCH_SOAK_PROCESS_COUNTERS_H_

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace velqa_bench {

struct ProcessCounts {
  std::int64_t handles = 0;
  std::int64_t threads = 0;
  std::int64_t private_kib = 0;
};

// Nullopt when the system does not answer.
// Handles: Linux, entries of /proc/self/fd; Windows, the system's handle
// table filtered by this process (GetProcessHandleCount gives 0 under Wine).
// Threads: Linux, /proc/self/status; Windows, a toolhelp thread snapshot.
// Private memory: Linux, RssAnon of /proc/self/status; Windows, PagefileUsage
// (PrivateUsage is 0 under Wine).
std::optional<ProcessCounts> CountProcess();

// The process's open handles, each described by its value and what it is
// (Linux: the descriptor's target; Windows: the object's type), to tell what
// a count that grew is made of.
std::vector<std::string> DescribeHandles();

// Holds `handles` open handles (descriptors) until destroyed.
class OpenHandles {
 public:
  explicit OpenHandles(int handles);
  ~OpenHandles();
  OpenHandles(const OpenHandles&) = delete;
  OpenHandles& operator=(const OpenHandles&) = delete;

 private:
  struct Held;
  std::unique_ptr<Held> held_;
};

// How many running processes execute `executable` (Linux: by its path;
// Windows: by its file name, as a Wine prefix of the build's own shows only
// its own processes).
int ProcessesRunning(const std::filesystem::path& executable);

}  // namespace velqa_bench

#endif  // VELQA_BENCH_SOAK_PROCESS_COUNTERS_H_
