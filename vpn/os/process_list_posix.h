// The process list from /proc, with the image name of each process: the file
// name of its executable, as Windows' process snapshot reports it.
#ifndef VELQA_VPN_OS_PROCESS_LIST_POSIX_H_
#define VELQA_VPN_OS_PROCESS_LIST_POSIX_H_

#include "vpn/os/vpn_os.h"

namespace vpn_os {

SnapshotResult ListProcesses();

}  // namespace vpn_os

#endif  // VELQA_VPN_OS_PROCESS_LIST_POSIX_H_
