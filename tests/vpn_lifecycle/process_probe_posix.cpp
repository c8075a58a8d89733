#include <fstream>
#include <string>
#include <thread>

#include "tests/vpn_lifecycle/process_probe.h"

namespace lifecycle_test {

bool IsProcessAlive(std::uint32_t process_id) {
  std::ifstream stat("/proc/" + std::to_string(process_id) + "/stat");
  std::string line;
  if (!std::getline(stat, line)) return false;
  // "pid (comm) S ...": the state follows the last closing parenthesis.
  size_t close = line.rfind(')');
  if (close == std::string::npos || close + 2 >= line.size()) return false;
  char state = line[close + 2];
  return state != 'Z' && state != 'X';
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
  // setsid leaves the process group that the job ends.
  return true;
}

}  // namespace lifecycle_test
