// stop_vpn and get_vpn_status: ending the own child together with stray
// sing-box processes, and telling the Dart side whether sing-box runs.
// Image names are compared exactly, letter case included.
#include <mutex>
#include <string>
#include <utility>

#include "vpn/vpn_manager.h"

namespace {

// Tried in this order by the stray cleanup; the last two are the names that
// discovery finds beside the executable.
constexpr const char* kStrayImageNames[] = {"sing-box.exe", "sing-box-amd64.exe",
                                            "sing-box-arm64.exe"};
constexpr char kStatusImageName[] = "sing-box.exe";

}  // namespace

void VpnManager::HandleStopVpnMethod(ResultPtr result) {
  LogRecord("HandleStopVpnMethod called");
  StopVpn(std::move(result));
}

void VpnManager::StopVpn(ResultPtr result) {
  LogRecord("Stopping VPN...");
  StopLogMonitor();

  ChildTeardown stop;
  stop.before_terminate = "Terminating managed process...";
  stop.exited = "Managed process terminated successfully";
  stop.timed_out = "Managed process termination timeout";
  stop.report_terminate_failure = true;
  // The job stays until the stray processes are dealt with.
  stop.close_job = false;
  EndOwnChildAndTell(stop);

  for (const char* name : kStrayImageNames) {
    if (TerminateProcessesByName(name)) {
      LogRecord("Additional sing-box processes terminated");
      break;
    }
  }

  // Kill-on-close: closing the job also ends whatever still runs in it.
  job_object_.Reset();
  LogRecord("VPN stop operation completed");
  result->Success();
}

bool VpnManager::TerminateProcessesByName(const std::string& image_name) {
  ConsoleLine("VpnManager: Attempting to terminate processes: " + image_name);
  vpn_os::SnapshotResult snapshot = os_.SnapshotProcesses();
  if (!snapshot.ok) return false;

  bool terminated_any = false;
  for (const vpn_os::ProcessEntry& entry : snapshot.processes) {
    if (entry.image_name != image_name) continue;
    const std::string pid = std::to_string(entry.process_id);
    ConsoleLine("VpnManager: Found process: " + image_name + " (PID: " + pid + ")");
    vpn_os::HandleResult process = os_.OpenProcessForTermination(entry.process_id);
    if (!process.ok()) continue;
    // The id is from the snapshot; by now it may belong to another program.
    // The handle is bound to one process, so its name decides.
    vpn_os::ImageNameResult opened = os_.ProcessImageName(process.handle.get());
    if (!opened.ok || opened.image_name != image_name) continue;
    if (os_.Terminate(process.handle.get(), 0)) {
      ConsoleLine("VpnManager: Successfully terminated process PID: " + pid);
      terminated_any = true;
    } else {
      ConsoleLine("VpnManager: Failed to terminate process PID: " + pid);
    }
  }
  ConsoleLine(terminated_any ? "VpnManager: All " + image_name + " processes terminated"
                             : "VpnManager: No " + image_name + " processes found");
  return terminated_any;
}

void VpnManager::HandleGetVpnStatusMethod(ResultPtr result) {
  bool running = false;
  bool known = false;
  {
    // The monitor may be asking for the same process's exit code: the handle
    // is closed only while it cannot be inside that call.
    std::lock_guard<std::mutex> lock(process_mutex_);
    if (is_running_.load() && process_info_.process) {
      vpn_os::ExitCodeResult exit_code = os_.GetExitCode(process_info_.process.get());
      if (exit_code.ok && exit_code.exit_code == vpn_os::kStillActive) {
        running = known = true;
      } else if (exit_code.ok) {
        QueueChildExit(exit_code.exit_code);
        process_info_.Clear();
        is_running_.store(false);
      }
    }
  }
  if (!known) {
    vpn_os::SnapshotResult snapshot = os_.SnapshotProcesses();
    if (snapshot.ok) {
      for (const vpn_os::ProcessEntry& entry : snapshot.processes) {
        if (entry.image_name == kStatusImageName) {
          running = true;
          break;
        }
      }
    }
  }
  events_.Deliver();
  ConsoleLine(std::string("VpnManager: VPN状态检查 - 进程运行状态: ") +
              (running ? "true" : "false"));
  result->Success(flutter::EncodableValue(running));
}
