#include <windows.h>

#include "base/win_resources_win.h"
#include "tests/support/process_probe.h"

namespace velqa::testing {

bool IsProcessAlive(std::uint32_t process_id) {
  base::UniqueHandle process(::OpenProcess(SYNCHRONIZE, FALSE, process_id));
  if (!process.is_valid()) return false;
  return ::WaitForSingleObject(process.get(), 0) == WAIT_TIMEOUT;
}

bool DescendantCanLeaveTheJob() {
  // A job allows breakaway only when it says so, and the host's does not.
  return false;
}

}  // namespace velqa::testing
