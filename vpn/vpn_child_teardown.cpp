// Ending the own sing-box child: one routine for every caller (stop_vpn, a
// second start_vpn, a start whose monitor cannot run, the manager's end), each
// with its own records, and the two callers that belong to start_vpn.
#include <mutex>
#include <optional>
#include <string>

#include "vpn/vpn_limits.h"
#include "vpn/vpn_manager.h"

VpnManager::ChildEnd VpnManager::EndOwnChild(const ChildTeardown& teardown) {
  if (!is_running_.load() || !process_info_.process) return ChildEnd::kNoChild;
  const vpn_os::NativeHandle process = process_info_.process.get();
  bool already_ended = false;
  if (!teardown.already_ended.empty()) {
    vpn_os::ExitCodeResult exit_code = os_.GetExitCode(process);
    already_ended = exit_code.ok && exit_code.exit_code != vpn_os::kStillActive;
    if (already_ended) LogRecord(teardown.already_ended);
  }
  if (!already_ended) {
    if (!teardown.before_terminate.empty()) LogRecord(teardown.before_terminate);
    vpn_os::Status terminated = os_.Terminate(process, 0);
    if (!terminated && teardown.report_terminate_failure) {
      ConsoleLine("VpnManager: Failed to terminate managed process, error: " +
                  std::to_string(terminated.error));
    }
    if (!terminated && !teardown.kept_running.empty()) {
      // Closing the handles now would orphan a child that still runs (one
      // outside the job after a failed assignment): the job is tried, and a
      // child that outlives the wait stays the manager's.
      if (job_object_) os_.TerminateJob(job_object_.get(), 0);
      if (os_.WaitForExit(process, velqa::vpn::kChildExitWait).outcome !=
          vpn_os::WaitOutcome::kExited) {
        LogRecord(teardown.kept_running);
        return ChildEnd::kKeptRunning;
      }
      if (!teardown.exited.empty()) LogRecord(teardown.exited);
    } else if (terminated || !teardown.report_terminate_failure) {
      const bool exited = os_.WaitForExit(process, velqa::vpn::kChildExitWait).outcome ==
                          vpn_os::WaitOutcome::kExited;
      const std::string& outcome = exited ? teardown.exited : teardown.timed_out;
      if (!outcome.empty()) LogRecord(outcome);
    }
  }
  {
    // The monitor may be asking for this child's exit code: the record
    // changes only under the lock.
    std::lock_guard<std::mutex> lock(process_mutex_);
    process_info_.Clear();
    is_running_.store(false);
  }
  if (teardown.close_job) job_object_.Reset();
  return ChildEnd::kEnded;
}

void VpnManager::CloseOutputCapture() {
  log_monitor_read_cancellation_.reset();
  output_read_pipe_.Reset();
  output_write_pipe_.Reset();
}

VpnManager::StepOutcome VpnManager::EndRunningChildBeforeStart() {
  const std::string pid = std::to_string(process_info_.process_id);
  ChildTeardown restart;
  restart.already_ended = "Previous sing-box process (PID: " + pid + ") has already ended";
  restart.before_terminate =
      "Ending the running sing-box process (PID: " + pid + ") before the new start";
  restart.exited = "Previous sing-box process terminated";
  restart.timed_out = "Previous sing-box process termination timeout";
  restart.report_terminate_failure = true;
  restart.kept_running = "Previous sing-box process (PID: " + pid +
                         ") cannot be ended; no second one is started";
  switch (EndOwnChildAndTell(restart)) {
    case ChildEnd::kNoChild:
      return std::nullopt;
    case ChildEnd::kKeptRunning:
      // Two would compete for the same ports, and an orphan could not be
      // stopped any more: the start fails, and stop_vpn can try again.
      return ProcessStartFailed();
    case ChildEnd::kEnded:
      break;
  }
  LogRecord("Previous sing-box process handles and Job Object closed");
  StopLogMonitor();
  return std::nullopt;
}

void VpnManager::AbandonStartedChild() {
  // Nothing to say until it is gone: the start answers with an Error.
  EndOwnChild(ChildTeardown{});
  CloseOutputCapture();
  LogRecord("sing-box process ended because its output cannot be monitored");
}

VpnManager::StartFailure VpnManager::AbandonUnresumedChild() {
  job_object_.Reset();
  {
    // No monitor runs yet; the lock keeps the rule for the process record.
    std::lock_guard<std::mutex> lock(process_mutex_);
    process_info_.Clear();
    is_running_.store(false);
  }
  CloseOutputCapture();
  LogRecord("sing-box process can neither run nor be terminated; its job was closed");
  return ProcessStartFailed();
}
