#include "tests/support/process_probe.h"

#include <thread>

namespace velqa::testing {

bool WaitUntilGone(std::uint32_t process_id, std::chrono::milliseconds timeout) {
  auto deadline = std::chrono::steady_clock::now() + timeout;
  while (IsProcessAlive(process_id)) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

}  // namespace velqa::testing
