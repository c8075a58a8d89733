// Diverts the process's standard output (file descriptor 1, where the logger
// and the console lines go) into a pipe that the test reads, and restores it.
#ifndef VELQA_TESTS_VPN_LIFECYCLE_STDOUT_TAP_H_
#define VELQA_TESTS_VPN_LIFECYCLE_STDOUT_TAP_H_

#include <chrono>
#include <cstddef>
#include <memory>

namespace vpn_test {

class StdoutTap {
 public:
  // Standard output goes into the tap from now until Restore.
  static std::unique_ptr<StdoutTap> Divert();
  virtual ~StdoutTap() = default;
  // Reads what has arrived, waiting at most `timeout` for something; 0 when
  // nothing came.
  virtual size_t Read(char* buffer, size_t size, std::chrono::milliseconds timeout) = 0;
  // Standard output goes back where it went before.
  virtual void Restore() = 0;
};

}  // namespace vpn_test

#endif  // VELQA_TESTS_VPN_LIFECYCLE_STDOUT_TAP_H_
