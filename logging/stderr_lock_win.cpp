#include <cstdio>

#include "logging/stderr_lock.h"

namespace velqa::logging {

StderrLock::StderrLock() { _lock_file(stderr); }

StderrLock::~StderrLock() { _unlock_file(stderr); }

}  // namespace velqa::logging
