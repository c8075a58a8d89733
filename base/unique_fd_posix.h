// Owner of one POSIX file descriptor; negative values are "none".
//
// Threads: see base/unique_resource.h.
#ifndef VELQA_BASE_UNIQUE_FD_POSIX_H_
#define VELQA_BASE_UNIQUE_FD_POSIX_H_

#include <unistd.h>

#include "base/unique_resource.h"

namespace velqa::base {

struct FdTraits {
  using Handle = int;
  static int None() { return -1; }
  static bool IsValid(int fd) { return fd >= 0; }
  void Close(int fd) const { ::close(fd); }
};
using UniqueFd = UniqueResource<FdTraits>;

}  // namespace velqa::base

#endif  // VELQA_BASE_UNIQUE_FD_POSIX_H_
