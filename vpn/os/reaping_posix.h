// Reaping the host's own children that nothing refers to any more: a child
// whose last handle or job goes before it has ended is put on a list and
// reaped later, so it does not stay a zombie.
//
// Threads: any thread; the list has its own lock.
#ifndef VELQA_VPN_OS_REAPING_POSIX_H_
#define VELQA_VPN_OS_REAPING_POSIX_H_

#include <sys/types.h>

namespace vpn_os {

// Reaps the child `pid` now if it has ended, otherwise keeps it for later.
void ReapNowOrLater(pid_t pid);
// Reaps every kept child that has ended meanwhile.
void ReapOrphans();

}  // namespace vpn_os

#endif  // VELQA_VPN_OS_REAPING_POSIX_H_
