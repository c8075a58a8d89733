#include <cstdio>

#include "base/stderr_lock.h"

namespace velqa::base {

StderrLock::StderrLock() { flockfile(stderr); }

StderrLock::~StderrLock() { funlockfile(stderr); }

}  // namespace velqa::base
