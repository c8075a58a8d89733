// Holds the C library's own lock of the standard error stream, so that a line
// written in several calls reaches it whole: every other stdio write to it in
// this process (std::cerr included, which goes through stdio) waits. The lock
// is recursive, so stdio calls made while it is held go through.
#ifndef VELQA_BASE_STDERR_LOCK_H_
#define VELQA_BASE_STDERR_LOCK_H_

namespace velqa::base {

// Any thread; held for the lifetime of the object.
class StderrLock {
 public:
  StderrLock();
  ~StderrLock();
  StderrLock(const StderrLock&) = delete;
  StderrLock& operator=(const StderrLock&) = delete;
};

}  // namespace velqa::base

#endif  // VELQA_BASE_STDERR_LOCK_H_
