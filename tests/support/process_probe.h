// Whether a process still runs, as the system sees it (a zombie that only
// waits to be reaped counts as ended).
#ifndef VELQA_TESTS_SUPPORT_PROCESS_PROBE_H_
#define VELQA_TESTS_SUPPORT_PROCESS_PROBE_H_

#include <chrono>
#include <cstdint>

namespace velqa::testing {

bool IsProcessAlive(std::uint32_t process_id);

// Polls until the process has ended; false when it still runs at `timeout`.
bool WaitUntilGone(std::uint32_t process_id, std::chrono::milliseconds timeout);

// Whether a child's descendant can leave the child's job by itself (Linux:
// a session of its own). Where it cannot, a test that needs a descendant
// outside the job keeps the child itself out of it.
bool DescendantCanLeaveTheJob();

}  // namespace velqa::testing

#endif  // VELQA_TESTS_SUPPORT_PROCESS_PROBE_H_
