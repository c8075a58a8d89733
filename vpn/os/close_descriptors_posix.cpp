#include "vpn/os/close_descriptors_posix.h"

#include <fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>

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

// The descriptor number an entry of /proc/self/fd names, or -1.
int DescriptorNumber(const char* name) {
  if (*name == '\0') return -1;
  long number = 0;
  for (; *name != '\0'; ++name) {
    if (*name < '0' || *name > '9' || number > 0x7FFFFFF) return -1;
    number = number * 10 + (*name - '0');
  }
  return static_cast<int>(number);
}

// Closes what /proc/self/fd lists, read with getdents64 into a buffer on the
// stack (opendir would allocate, which a fork of a threaded host must not).
// False when the directory cannot be read.
bool CloseListedDescriptors(int first, int keep) {
#ifdef SYS_getdents64
  const int directory = open("/proc/self/fd", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (directory < 0) return false;
  alignas(8) char buffer[4096];
  for (;;) {
    const long got = syscall(SYS_getdents64, directory, buffer, sizeof buffer);
    if (got <= 0) break;
    // Closing entries while the listing goes on skips none: the directory's
    // position is a descriptor number, not an index.
    for (long at = 0; at < got;) {
      // struct linux_dirent64: ino (8), off (8), reclen (2), type (1), name.
      std::uint16_t record_length;
      std::memcpy(&record_length, buffer + at + 16, sizeof record_length);
      const int fd = DescriptorNumber(buffer + at + 19);
      if (fd >= first && fd != keep && fd != directory) close(fd);
      at += record_length;
    }
  }
  close(directory);
  return true;
#else
  (void)first;
  (void)keep;
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
  // Up to the descriptor limit could be 2^20 calls per start: only what is
  // open is closed.
  if (CloseListedDescriptors(first, keep)) return;
  const long max_fd = sysconf(_SC_OPEN_MAX);
  for (int fd = first; fd < (max_fd > 0 ? max_fd : 1024); ++fd) {
    if (fd != keep) close(fd);
  }
}

}  // namespace vpn_os
