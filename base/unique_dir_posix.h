// Owner of one open directory stream (opendir); null is "none".
//
// Threads: see base/unique_resource.h.
#ifndef VELQA_BASE_UNIQUE_DIR_POSIX_H_
#define VELQA_BASE_UNIQUE_DIR_POSIX_H_

#include <dirent.h>

#include "base/unique_resource.h"

namespace velqa::base {

struct DirTraits {
  using Handle = DIR*;
  static DIR* None() { return nullptr; }
  static bool IsValid(DIR* dir) { return dir != nullptr; }
  void Close(DIR* dir) const { ::closedir(dir); }
};
using UniqueDir = UniqueResource<DirTraits>;

}  // namespace velqa::base

#endif  // VELQA_BASE_UNIQUE_DIR_POSIX_H_
