// A process the Linux VpnOs hands out a handle for: its id and pidfd, and
// for the host's own child the exit status, kept once it has ended so it can
// be asked for again, as on Windows. Our own child is never reaped while
// anything refers to it: as long as it is not reaped, its id cannot pass to
// another process, so its process group id (the job) cannot name a
// stranger's group. Its end is seen with WNOWAIT; it is reaped when the last
// reference goes.
//
// Threads: the functions below take the object's lock; any thread.
#ifndef VELQA_VPN_OS_PROCESS_OBJECT_POSIX_H_
#define VELQA_VPN_OS_PROCESS_OBJECT_POSIX_H_

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <mutex>
#include <optional>

#include "base/unique_fd_posix.h"
#include "vpn/os/vpn_os.h"

namespace vpn_os {

struct ProcessObject {
  std::mutex mutex;
  pid_t pid = 0;
  velqa::base::UniqueFd pidfd;  // -1 on kernels without pidfd_open
  bool own = false;  // our child: we reap it and know its exit status
  bool ended = false;
  std::uint32_t exit_code = 0;
  std::optional<std::uint32_t> terminate_code;  // asked for by Terminate

  ProcessObject() = default;
  ProcessObject(const ProcessObject&) = delete;
  ProcessObject& operator=(const ProcessObject&) = delete;
  // Our child is reaped now, or later once it has ended.
  ~ProcessObject();
};

ExitCodeResult ExitCodeOf(ProcessObject& process);
// SIGKILL; the exit code then reads as `exit_code`, as TerminateProcess's.
Status KillProcess(ProcessObject& process, std::uint32_t exit_code);
WaitResult WaitForEnd(ProcessObject& process, std::chrono::milliseconds timeout);
// The image name of the process the object was opened on, while its id is
// still that process's.
ImageNameResult ImageNameOf(ProcessObject& process);

}  // namespace vpn_os

#endif  // VELQA_VPN_OS_PROCESS_OBJECT_POSIX_H_
