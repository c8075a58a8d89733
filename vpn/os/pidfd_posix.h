// Telling one process apart from a later one with the same id, through a
// pidfd where the kernel has them (Linux 5.3 and later). Without a pidfd only
// the id can be asked, which cannot tell a reused id from the original.
//
// Threads: any thread; async-signal-safe (the job guard calls them after a
// fork).
#ifndef VELQA_VPN_OS_PIDFD_POSIX_H_
#define VELQA_VPN_OS_PIDFD_POSIX_H_

#include <sys/types.h>

namespace vpn_os {

// A pidfd for `pid`, or -1 (errno set) where the kernel has none.
int OpenPidFd(pid_t pid);

// Whether the process behind `pidfd` has not been reaped yet (it runs or is a
// zombie), so `pid` still names it. With `pidfd` -1 the answer is whether
// some process has the id `pid` now.
bool ProcessUnreaped(int pidfd, pid_t pid);

}  // namespace vpn_os

#endif  // VELQA_VPN_OS_PIDFD_POSIX_H_
