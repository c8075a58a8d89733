#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <system_error>
#include <vector>

#include "base/unique_fd_posix.h"
#include "bench/soak/process_counters.h"

namespace velqa_bench {
namespace {

std::optional<std::int64_t> StatusField(const std::string& name) {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind(name + ":", 0) == 0) return std::stoll(line.substr(name.size() + 1));
  }
  return std::nullopt;
}

}  // namespace

std::optional<ProcessCounts> CountProcess() {
  ProcessCounts counts;
  std::error_code error;
  std::filesystem::directory_iterator fds("/proc/self/fd", error);
  if (error) return std::nullopt;
  // The iterator's own descriptor is among the entries: counted every time.
  for (const auto& entry : fds) {
    (void)entry;
    ++counts.handles;
  }
  const std::optional<std::int64_t> threads = StatusField("Threads");
  const std::optional<std::int64_t> anonymous = StatusField("RssAnon");
  if (!threads || !anonymous) return std::nullopt;
  counts.threads = *threads;
  counts.private_kib = *anonymous;
  return counts;
}

std::vector<std::string> DescribeHandles() {
  std::vector<std::string> handles;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd", error)) {
    std::error_code link_error;
    handles.push_back(entry.path().filename().string() + " " +
                      std::filesystem::read_symlink(entry.path(), link_error).string());
  }
  return handles;
}

struct OpenHandles::Held {
  std::vector<velqa::base::UniqueFd> fds;
};

OpenHandles::OpenHandles(int handles) : held_(std::make_unique<Held>()) {
  for (int i = 0; i < handles; ++i) {
    held_->fds.emplace_back(open("/dev/null", O_RDONLY | O_CLOEXEC));
  }
}

OpenHandles::~OpenHandles() = default;

int ProcessesRunning(const std::filesystem::path& executable) {
  int running = 0;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator("/proc", error)) {
    const std::string name = entry.path().filename().string();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    std::error_code link_error;
    const std::filesystem::path exe = std::filesystem::read_symlink(entry.path() / "exe", link_error);
    if (link_error || exe != executable) continue;
    // A zombie still shows its executable; it runs no more.
    std::ifstream stat(entry.path() / "stat");
    std::string text;
    std::getline(stat, text);
    const std::size_t after_name = text.rfind(')');
    if (after_name != std::string::npos && after_name + 2 < text.size() &&
        text[after_name + 2] == 'Z') {
      continue;
    }
    ++running;
  }
  return running;
}

}  // namespace velqa_bench
