#include "vpn/os/close_descriptors_posix.h"

#include <sys/syscall.h>
#include <unistd.h>

namespace vpn_os {
namespace {

// Closes [low, high]; false when the kernel has no close_range.
bool CloseRange(int low, int high) {
  if (low > high) return true;
#ifdef SYS_close_range
  return syscall(SYS_close_range, static_cast<unsigned>(low), static_cast<unsigned>(high), 0u) == 0;
#else
  return false;
#endif
}

}  // namespace

void CloseDescriptorsFrom(int first, int keep) {
  constexpr int kHighest = 0x7FFFFFFF;
  const bool in_range = keep >= first;
  if (in_range ? CloseRange(first, keep - 1) && CloseRange(keep + 1, kHighest)
               : CloseRange(first, kHighest)) {
    return;
  }
  const long max_fd = sysconf(_SC_OPEN_MAX);
  for (int fd = first; fd < (max_fd > 0 ? max_fd : 1024); ++fd) {
    if (fd != keep) close(fd);
  }
}

}  // namespace vpn_os
