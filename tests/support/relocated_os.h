// The platform's OS interface, except for the executable's path and the
// machine's architecture, which the test chooses.
//
// Threads: any thread, like the platform's interface.
#ifndef VELQA_TESTS_SUPPORT_RELOCATED_OS_H_
#define VELQA_TESTS_SUPPORT_RELOCATED_OS_H_

#include <cstdint>
#include <filesystem>
#include <utility>

#include "tests/support/forwarding_vpn_os.h"
#include "vpn/os/vpn_os.h"

namespace vpn_test {

class RelocatedOs : public vpn_test_support::ForwardingVpnOs {
 public:
  RelocatedOs(std::filesystem::path executable, std::uint16_t architecture)
      : executable_(std::move(executable)), architecture_(architecture) {}

  vpn_os::PathResult ExecutablePath() override { return {true, executable_, 0}; }
  std::uint16_t NativeArchitecture() override { return architecture_; }

 private:
  std::filesystem::path executable_;
  std::uint16_t architecture_;
};

}  // namespace vpn_test

#endif  // VELQA_TESTS_SUPPORT_RELOCATED_OS_H_
