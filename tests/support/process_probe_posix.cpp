#include <fstream>
#include <string>

#include "tests/support/process_probe.h"

namespace velqa::testing {

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

bool DescendantCanLeaveTheJob() {
  // setsid leaves the process group that the job ends.
  return true;
}

}  // namespace velqa::testing
