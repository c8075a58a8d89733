#include "vpn/os/pidfd_posix.h"

#include <errno.h>
#include <signal.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace vpn_os {

int OpenPidFd(pid_t pid) {
#ifdef SYS_pidfd_open
  return static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
#else
  (void)pid;
  errno = ENOSYS;
  return -1;
#endif
}

bool ProcessUnreaped(int pidfd, pid_t pid) {
#ifdef SYS_pidfd_send_signal
  if (pidfd >= 0) return syscall(SYS_pidfd_send_signal, pidfd, 0, nullptr, 0u) == 0;
#else
  (void)pidfd;
#endif
  return kill(pid, 0) == 0 || errno == EPERM;
}

}  // namespace vpn_os
