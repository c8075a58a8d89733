// The Linux stand-in for a job object with the kill-on-close limit: a small
// guard process, forked off (and detached) when the job is created, that
// holds one end of a socket pair whose other end is the job's handle in the
// host. The host sends it the process groups put into the job; when the host's
// end closes without a disarm, whether the host closed the job or died, the
// guard kills every one of those groups whose leader is not yet reaped (a
// reaped leader's id may already name a stranger's group). So the child and
// everything it started ends with the job and with the host, as under
// Windows. The host keeps each leader unreaped until the job is closed, so
// its own kill on Close always names the job's own groups.
//
// Threads: not synchronised; JobGuard is used under the owner's lock.
#ifndef VELQA_VPN_OS_JOB_GUARD_POSIX_H_
#define VELQA_VPN_OS_JOB_GUARD_POSIX_H_

#include <sys/types.h>

#include <vector>

#include "base/unique_fd_posix.h"

namespace vpn_os {

class JobGuard {
 public:
  // Starts the guard process. False with errno-style `error` on failure.
  static bool Start(JobGuard& guard, int& error);

  JobGuard() = default;
  JobGuard(JobGuard&&) = default;
  JobGuard& operator=(JobGuard&&) = default;
  // Closing without Close() is the host-death path: the guard kills the
  // groups it was armed with.
  ~JobGuard() = default;

  // From now on closing the job ends its groups.
  void EnableKillOnClose();
  // Puts the process group `group` into the job.
  void AddGroup(pid_t group);
  // Kills every group of the job now; the job stays as it is.
  void KillGroups();
  // Ends the job: with kill-on-close, kills its groups at once (then tells
  // the guard that nothing is left for it to do); otherwise just lets go.
  void Close();

 private:
  void SendToGuard(pid_t value);

  velqa::base::UniqueFd to_guard_;  // the host's end; the guard acts when it closes
  bool kill_on_close_ = false;
  std::vector<pid_t> groups_;
};

}  // namespace vpn_os

#endif  // VELQA_VPN_OS_JOB_GUARD_POSIX_H_
