#include <cstdio>

#include "base/stderr_lock.h"

namespace velqa::base {

StderrLock::StderrLock() { _lock_file(stderr); }

StderrLock::~StderrLock() { _unlock_file(stderr); }

}  // namespace velqa::base
