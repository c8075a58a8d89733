// Standard output replaced by a pipe that is full and that nobody reads, for
// the tests and the benchmark of a logger whose console copy must never hold
// up a thread that logs. Release reads everything and puts standard output
// back.
//
// Threads: the test's or benchmark's main thread.
#ifndef VELQA_TESTS_SUPPORT_BLOCKED_STDOUT_POSIX_H_
#define VELQA_TESTS_SUPPORT_BLOCKED_STDOUT_POSIX_H_

#include <string>

#include "base/unique_fd_posix.h"

namespace vpn_test {

class BlockedStdout {
 public:
  BlockedStdout();
  ~BlockedStdout() { Release(); }
  BlockedStdout(const BlockedStdout&) = delete;
  BlockedStdout& operator=(const BlockedStdout&) = delete;

  bool ok() const { return read_end_.is_valid() && saved_.is_valid(); }
  // What reached the pipe after the filling, once the console queue is empty.
  std::string Release();

 private:
  velqa::base::UniqueFd read_end_;
  velqa::base::UniqueFd saved_;
};

}  // namespace vpn_test

#endif  // VELQA_TESTS_SUPPORT_BLOCKED_STDOUT_POSIX_H_
