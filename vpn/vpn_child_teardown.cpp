// Ending the own sing-box child: one routine for every caller (stop_vpn, a
// second start_vpn, a start whose monitor cannot run, the manager's end), each
// with its own records, and the two callers that belong to start_vpn.
#include <mutex>
#include <optional>
#include <string>

#include "vpn/vpn_limits.h"
#include "vpn/vpn_manager.h"

bool VpnManager::EndOwnChild(const ChildTeardown& teardown) {
  if (!is_running_.load() || !process_info_.process) return false;
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
    } else {
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
  return true;
}

void VpnManager::CloseOutputCapture() {
  log_monitor_read_cancellation_.reset();
  output_read_pipe_.Reset();
  output_write_pipe_.Reset();
}

void VpnManager::EndRunningChildBeforeStart() {
  const std::string pid = std::to_string(process_info_.process_id);
  ChildTeardown restart;
  restart.already_ended = "Previous sing-box process (PID: " + pid + ") has already ended";
  restart.before_terminate =
      "Ending the running sing-box process (PID: " + pid + ") before the new start";
  restart.exited = "Previous sing-box process terminated";
  restart.timed_out = "Previous sing-box process termination timeout";
  restart.report_terminate_failure = true;
  std::optional<flutter::EncodableValue> end = TakeChildEndEvent();
  if (!EndOwnChild(restart)) return;
  if (end) events_.Send(std::move(*end));
  LogRecord("Previous sing-box process handles and Job Object closed");
  StopLogMonitor();
}

void VpnManager::AbandonStartedChild() {
  // Nothing to say until it is gone: the start answers with an Error.
  EndOwnChild(ChildTeardown{});
  CloseOutputCapture();
  LogRecord("sing-box process ended because its output cannot be monitored");
}
