#include "vpn/os/process_object_posix.h"

#include <errno.h>
#include <poll.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <thread>
#include <utility>

#include "vpn/os/last_error_posix.h"
#include "vpn/os/pidfd_posix.h"
#include "vpn/os/process_list_posix.h"
#include "vpn/os/reaping_posix.h"

namespace vpn_os {
namespace {

using Clock = std::chrono::steady_clock;

// Windows reports the code given to TerminateProcess as the exit code; a
// process ended by another signal reports 128 + the signal, as shells do.
std::uint32_t DecodeStatus(const siginfo_t& info,
                           const std::optional<std::uint32_t>& terminate_code) {
  if (info.si_code == CLD_EXITED) return static_cast<std::uint32_t>(info.si_status);
  if (info.si_code == CLD_KILLED || info.si_code == CLD_DUMPED) {
    if (terminate_code && info.si_status == SIGKILL) return *terminate_code;
    return 128u + static_cast<std::uint32_t>(info.si_status);
  }
  return 1;
}

// Notes whether our child has ended, without reaping it. Needs
// process.mutex. False with errno on a failed query.
bool UpdateLocked(ProcessObject& process) {
  if (!process.own || process.ended) return true;
  siginfo_t info{};
  int result;
  do {
    result = waitid(P_PID, static_cast<id_t>(process.pid), &info, WEXITED | WNOHANG | WNOWAIT);
  } while (result < 0 && errno == EINTR);
  if (result < 0) return false;
  if (info.si_pid == process.pid) {
    process.ended = true;
    process.exit_code = DecodeStatus(info, process.terminate_code);
  }
  return true;
}

// Whether a process that is not our child still runs.
bool ForeignProcessRuns(const ProcessObject& process) {
  if (process.pidfd.is_valid()) {
    pollfd entry{process.pidfd.get(), POLLIN, 0};
    return poll(&entry, 1, 0) == 0;
  }
  return kill(process.pid, 0) == 0 || errno == EPERM;
}

}  // namespace

ProcessObject::~ProcessObject() {
  if (own) ReapNowOrLater(pid);
}

ExitCodeResult ExitCodeOf(ProcessObject& process) {
  ExitCodeResult result;
  std::lock_guard<std::mutex> lock(process.mutex);
  if (!process.own) {
    if (!ForeignProcessRuns(process)) {
      result.error = ECHILD;  // ended, and its status is not ours to read
      return result;
    }
    result.ok = true;
    result.exit_code = kStillActive;
    return result;
  }
  if (!UpdateLocked(process)) {
    result.error = LastError();
    return result;
  }
  result.ok = true;
  result.exit_code = process.ended ? process.exit_code : kStillActive;
  return result;
}

Status KillProcess(ProcessObject& process, std::uint32_t exit_code) {
  std::lock_guard<std::mutex> lock(process.mutex);
  UpdateLocked(process);
  if (process.ended) return Status::Failure(ESRCH);
  int sent = -1;
#ifdef SYS_pidfd_send_signal
  if (process.pidfd.is_valid()) {
    sent =
        static_cast<int>(syscall(SYS_pidfd_send_signal, process.pidfd.get(), SIGKILL, nullptr, 0));
  }
#endif
  if (!process.pidfd.is_valid()) sent = kill(process.pid, SIGKILL);
  if (sent != 0) return Status::Failure(LastError());
  process.terminate_code = exit_code;
  return Status::Success();
}

WaitResult WaitForEnd(ProcessObject& process, std::chrono::milliseconds timeout) {
  const Clock::time_point deadline = Clock::now() + timeout;
  for (;;) {
    {
      std::lock_guard<std::mutex> lock(process.mutex);
      if (process.own) {
        if (!UpdateLocked(process)) return {WaitOutcome::kFailed, LastError()};
        if (process.ended) return {WaitOutcome::kExited, 0};
      } else if (!ForeignProcessRuns(process)) {
        return {WaitOutcome::kExited, 0};
      }
    }
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) return {WaitOutcome::kTimedOut, 0};
    if (process.pidfd.is_valid()) {
      // Readable once the process has ended; then the loop notes it.
      pollfd entry{process.pidfd.get(), POLLIN, 0};
      if (poll(&entry, 1, static_cast<int>(left.count())) < 0 && errno != EINTR) {
        return {WaitOutcome::kFailed, LastError()};
      }
    } else {
      std::this_thread::sleep_for(std::min(left, std::chrono::milliseconds(2)));
    }
  }
}

ImageNameResult ImageNameOf(ProcessObject& process) {
  std::lock_guard<std::mutex> lock(process.mutex);
  std::string name = ProcessImageNameOf(process.pid);
  // The name was read by id; it is that of the pidfd's process only if
  // that process has not been reaped meanwhile (then the id is still its).
  // Without a pidfd this asks the id alone: a process that took the id
  // between the snapshot and here passes.
  if (!ProcessUnreaped(process.pidfd.get(), process.pid)) return {false, {}, ESRCH};
  if (name.empty()) return {false, {}, ESRCH};
  return {true, std::move(name), 0};
}

}  // namespace vpn_os
