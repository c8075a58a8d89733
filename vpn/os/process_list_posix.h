// The process list from /proc, with the image name of each process: the file
// name of its executable, as Windows' process snapshot reports it.
#ifndef VELQA_VPN_OS_PROCESS_LIST_POSIX_H_
#define VELQA_VPN_OS_PROCESS_LIST_POSIX_H_

#include <string>

#include "vpn/os/vpn_os.h"

namespace vpn_os {

SnapshotResult ListProcesses();

// Whether the /proc entry `proc_dir` ("/proc/PID") is a zombie: ended, not yet
// reaped. False once it cannot be read.
bool IsZombie(const std::string& proc_dir);

// The image name of the process that has `pid` now; empty once there is none.
std::string ProcessImageNameOf(int pid);

}  // namespace vpn_os

#endif  // VELQA_VPN_OS_PROCESS_LIST_POSIX_H_
