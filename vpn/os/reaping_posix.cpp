#include "vpn/os/reaping_posix.h"

#include <sys/wait.h>

#include <mutex>
#include <vector>

namespace vpn_os {
namespace {

struct Orphans {
  std::mutex mutex;
  std::vector<pid_t> pids;
};

// Never destroyed, so it outlives every handle closed while the host exits.
Orphans& OrphanList() {
  static Orphans* const orphans = new Orphans();
  return *orphans;
}

}  // namespace

void ReapNowOrLater(pid_t pid) {
  int status = 0;
  if (waitpid(pid, &status, WNOHANG) != 0) return;
  Orphans& orphans = OrphanList();
  std::lock_guard<std::mutex> lock(orphans.mutex);
  orphans.pids.push_back(pid);
}

void ReapOrphans() {
  Orphans& orphans = OrphanList();
  std::lock_guard<std::mutex> lock(orphans.mutex);
  std::erase_if(orphans.pids, [](pid_t pid) {
    int status = 0;
    return waitpid(pid, &status, WNOHANG) != 0;  // reaped, or not ours any more
  });
}

}  // namespace vpn_os
