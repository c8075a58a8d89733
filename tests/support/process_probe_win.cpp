#include <windows.h>

#include "shell/win_resources.h"
#include "tests/support/process_probe.h"

namespace velqa::testing {

bool IsProcessAlive(std::uint32_t process_id) {
  shell::UniqueHandle process(::OpenProcess(SYNCHRONIZE, FALSE, process_id));
  if (!process.IsValid()) return false;
  return ::WaitForSingleObject(process.Get(), 0) == WAIT_TIMEOUT;
}

bool DescendantCanLeaveTheJob() {
  // A job allows breakaway only when it says so, and the host's does not.
  return false;
}

}  // namespace velqa::testing
