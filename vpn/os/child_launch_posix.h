// Starting a child on Linux: fork, then in the child its own process group
// (the job's unit), default signal handling, the output descriptor as
// standard output and error, no standard input, every other descriptor
// closed, and exec. An exec that fails is reported back through a pipe that
// closes at a successful exec, so the caller sees the child's errno.
//
// Threads: any thread.
#ifndef VELQA_VPN_OS_CHILD_LAUNCH_POSIX_H_
#define VELQA_VPN_OS_CHILD_LAUNCH_POSIX_H_

#include <sys/types.h>

#include "vpn/os/vpn_os.h"

namespace vpn_os {

struct LaunchedChild {
  pid_t pid = -1;         // > 0 once the child has executed
  OsErrorCode error = 0;  // meaningful when pid <= 0
};

// Executes launch.executable with launch.argv (the path alone when empty);
// launch.high_priority asks for a raised priority. `output_fd` becomes the
// child's standard output and error. A child whose exec failed is reaped.
LaunchedChild ForkAndExec(const ProcessLaunch& launch, int output_fd);

}  // namespace vpn_os

#endif  // VELQA_VPN_OS_CHILD_LAUNCH_POSIX_H_
