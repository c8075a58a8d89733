#include "logging/log_size_limit.h"

#include <algorithm>
#include <utility>

namespace velqa::logging {

std::vector<LogFileFacts> OldestBeyondLimit(std::vector<LogFileFacts> files, std::uintmax_t limit,
                                            const std::filesystem::path& keep) {
  std::uintmax_t total = 0;
  for (const auto& file : files) total += file.size;
  std::vector<LogFileFacts> chosen;
  if (total <= limit) return chosen;

  std::sort(files.begin(), files.end(), [](const LogFileFacts& a, const LogFileFacts& b) {
    return a.last_write != b.last_write ? a.last_write < b.last_write : a.path < b.path;
  });
  for (auto& file : files) {
    if (total <= limit) break;
    if (file.path == keep) continue;
    total -= file.size;
    chosen.push_back(std::move(file));
  }
  return chosen;
}

}  // namespace velqa::logging
