#include "vpn/os/process_list_posix.h"

#include <dirent.h>
#include <errno.h>
#include <limits.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include "base/unique_dir_posix.h"

namespace vpn_os {
namespace {

using velqa::base::UniqueDir;

std::string FileNameOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The executable's file name: from the /proc/PID/exe link when we may read
// it, else from argv[0], else (a zombie, a kernel thread) the short name.
std::string ImageNameOf(const std::string& proc_dir) {
  char target[PATH_MAX];
  const ssize_t length = readlink((proc_dir + "/exe").c_str(), target, sizeof target - 1);
  if (length > 0) {
    std::string path(target, static_cast<std::size_t>(length));
    static constexpr char kDeleted[] = " (deleted)";
    if (path.size() > sizeof kDeleted - 1 &&
        path.compare(path.size() - (sizeof kDeleted - 1), std::string::npos, kDeleted) == 0) {
      path.resize(path.size() - (sizeof kDeleted - 1));
    }
    return FileNameOf(path);
  }
  std::ifstream cmdline(proc_dir + "/cmdline", std::ios::binary);
  std::string argv0;
  if (cmdline && std::getline(cmdline, argv0, '\0') && !argv0.empty()) return FileNameOf(argv0);
  std::ifstream comm(proc_dir + "/comm");
  std::string name;
  std::getline(comm, name);
  return name;
}

}  // namespace

bool IsZombie(const std::string& proc_dir) {
  // getline, not a stream-buffer iterator: a process reaped between the open
  // and the read fails the read (ESRCH), and only getline turns that into a
  // failed stream instead of an exception out of the process scan.
  std::ifstream stat(proc_dir + "/stat");
  std::string text;
  std::getline(stat, text);
  const std::size_t close = text.rfind(')');
  return close != std::string::npos && close + 2 < text.size() && text[close + 2] == 'Z';
}

SnapshotResult ListProcesses() {
  SnapshotResult result;
  UniqueDir proc(opendir("/proc"));
  if (!proc) {
    result.error = static_cast<OsErrorCode>(errno);
    return result;
  }
  while (const dirent* entry = readdir(proc.get())) {
    char* end = nullptr;
    const unsigned long pid = std::strtoul(entry->d_name, &end, 10);
    if (end == entry->d_name || *end != '\0' || pid == 0) continue;
    const std::string proc_dir = std::string("/proc/") + entry->d_name;
    if (IsZombie(proc_dir)) continue;  // ended; only not yet reaped by its parent
    ProcessEntry process;
    process.process_id = static_cast<std::uint32_t>(pid);
    process.image_name = ImageNameOf(proc_dir);
    if (process.image_name.empty()) continue;  // ended while we looked
    result.processes.push_back(std::move(process));
  }
  result.ok = true;
  return result;
}

std::string ProcessImageNameOf(int pid) {
  const std::string proc_dir = "/proc/" + std::to_string(pid);
  if (IsZombie(proc_dir)) return {};
  return ImageNameOf(proc_dir);
}

}  // namespace vpn_os
