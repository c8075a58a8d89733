#include <cstdio>

#include "logging/stderr_lock.h"

namespace velqa::logging {

StderrLock::StderrLock() { flockfile(stderr); }

StderrLock::~StderrLock() { funlockfile(stderr); }

}  // namespace velqa::logging
