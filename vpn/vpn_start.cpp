// start_vpn: validates the call, finds sing-box, creates the job and the
// output pipe, starts the child with a duplicate of the host's token, checks
// that it survives its first second, then hands its output to the monitor.
// Every failure is answered with one Error and leaves nothing it created open.
#include <chrono>
#include <exception>
#include <mutex>
#include <string>
#include <utility>
#include <variant>

#include "base/utf16_text.h"
#include "base/utf8_path.h"
#include "vpn/vpn_limits.h"
#include "vpn/vpn_manager.h"

namespace {

using flutter::EncodableMap;
using flutter::EncodableValue;
using velqa::base::PathFromUtf8;

constexpr char kDebugPrivilege[] = "SeDebugPrivilege";

// "exe" run -c "config": both paths in quotes, unescaped.
std::string SingBoxCommandLine(const std::string& executable, const std::string& config) {
  return "\"" + executable + "\" run -c \"" + config + "\"";
}

// The existence test of a file start_vpn needs; a failed test is recorded.
bool FileFound(vpn_os::VpnOs& os, const std::string& utf8_path, const char* what,
               void (*record)(const std::string&)) {
  vpn_os::PathExistsResult state = os.PathExists(PathFromUtf8(utf8_path));
  if (state.state == vpn_os::PathState::kError) {
    record(std::string(what) + " file check failed, error: " + std::to_string(state.error));
  }
  return state.state == vpn_os::PathState::kExists;
}

}  // namespace

VpnManager::StartFailure VpnManager::ProcessStartFailed() {
  return {"PROCESS_START_FAILED", "Failed to start process with elevated privileges"};
}

void VpnManager::HandleStartVpnMethod(const MethodCall& call, ResultPtr result) {
  LogRecord("HandleStartVpnMethod called");
  if (StepOutcome failure = StartSingBox(call)) {
    result->Error(failure->code, failure->message);
  } else {
    result->Success();
    // Ahead of anything the monitor has already queued about this child.
    events_.SendAhead(velqa::vpn::VpnEvents::Started(process_info_.process_id));
  }
}

VpnManager::StepOutcome VpnManager::StartSingBox(const MethodCall& call) {
  std::string config_path;
  if (StepOutcome failure = ValidateStartArguments(call, config_path)) return failure;
  std::string executable;
  if (StepOutcome failure = LocateSingBox(executable)) return failure;
  // Never two own children: one that still runs is ended before the new one
  // exists, so no handle to it is overwritten and nothing is orphaned.
  if (StepOutcome failure = EndRunningChildBeforeStart()) return failure;
  if (StepOutcome failure = CreateJobAndPipe()) return failure;
  BeginChildEvents();
  if (StepOutcome failure = LaunchChild(executable, config_path)) return failure;
  if (StepOutcome failure = CheckStability()) return failure;
  return HandOverToMonitor();
}

VpnManager::StepOutcome VpnManager::ValidateStartArguments(const MethodCall& call,
                                                           std::string& config_path) {
  const EncodableValue* arguments = call.arguments();
  if (arguments == nullptr) return StartFailure{"INVALID_ARGUMENTS", "Missing arguments"};
  const auto* map = std::get_if<EncodableMap>(arguments);
  if (map == nullptr) return StartFailure{"INVALID_ARGUMENTS", "Arguments must be a map"};
  auto entry = map->find(EncodableValue(std::string("config_path")));
  if (entry == map->end()) {
    return StartFailure{"INVALID_ARGUMENTS", "Missing config_path argument"};
  }
  const auto* text = std::get_if<std::string>(&entry->second);
  if (text == nullptr) return StartFailure{"INVALID_ARGUMENTS", "config_path must be a string"};
  config_path = *text;

  // The path arrives as UTF-8 from the Dart side and stays UTF-8 text; it
  // becomes a wide path only at the file-system and process calls.
  ConsoleLine("VpnManager: Starting VPN with config: " + config_path);
  const StartFailure not_found{"CONFIG_NOT_FOUND", "Configuration file not found"};
  // Text that is not UTF-8 names no file the host could open (on Windows it
  // cannot even become a wide path), so it is not found, on every system.
  if (!velqa::base::IsValidUtf8(config_path)) {
    LogRecord("Configuration path is not valid UTF-8");
    return not_found;
  }
  if (!FileFound(os_, config_path, "Configuration", &LogRecord)) return not_found;
  ConsoleLine("VpnManager: Config file exists: " + config_path);
  return std::nullopt;
}

VpnManager::StepOutcome VpnManager::LocateSingBox(std::string& executable) {
  executable = GetSingBoxExecutablePath();
  if (executable.empty()) {
    return StartFailure{"EXECUTABLE_NOT_FOUND", "sing-box executable not found"};
  }
  ConsoleLine("VpnManager: Using executable: " + executable);
  if (!FileFound(os_, executable, "Executable", &LogRecord)) {
    return StartFailure{"EXECUTABLE_NOT_FOUND", "sing-box executable file not found"};
  }
  LogRecord("Executable file verified");
  return std::nullopt;
}

VpnManager::StepOutcome VpnManager::CreateJobAndPipe() {
  vpn_os::HandleResult job = os_.CreateJob();
  if (!job.ok()) return StartFailure{"JOB_CREATION_FAILED", "Failed to create Job Object"};
  job_object_ = std::move(job.handle);
  LogRecord("Job Object created successfully");

  if (!os_.ConfigureKillOnClose(job_object_.get())) {
    job_object_.Reset();
    return StartFailure{"JOB_CONFIG_FAILED", "Failed to configure Job Object"};
  }
  LogRecord("Job Object configured successfully");

  StopLogMonitor();

  vpn_os::PipeResult pipe = os_.CreateOutputPipe();
  if (!pipe.ok()) {
    job_object_.Reset();
    return StartFailure{"PIPE_CREATION_FAILED", "Failed to create output pipe"};
  }
  output_read_pipe_ = std::move(pipe.read_end);
  output_write_pipe_ = std::move(pipe.write_end);
  LogRecord("Output capture pipe created successfully");
  return std::nullopt;
}

VpnManager::StepOutcome VpnManager::LaunchChild(const std::string& executable,
                                                const std::string& config_path) {
  vpn_os::ProcessLaunch launch;
  launch.executable = PathFromUtf8(executable);
  launch.argv = {executable, "run", "-c", config_path};
  launch.no_console_window = true;
  launch.high_priority = true;
  launch.start_suspended = true;
  launch.output = output_write_pipe_.get();
  launch.command_line = SingBoxCommandLine(executable, config_path);
  ConsoleLine("VpnManager: Executing command: " + launch.command_line);

  vpn_os::ProcessInfo child;
  if (StepOutcome failure = StartWithHostToken(launch, child)) {
    output_read_pipe_.Reset();
    output_write_pipe_.Reset();
    job_object_.Reset();
    return failure;
  }
  {
    // No monitor runs here (StopLogMonitor above); the lock keeps the rule
    // that the process record changes only under it.
    std::lock_guard<std::mutex> lock(process_mutex_);
    process_info_ = std::move(child);
    is_running_.store(true);
  }
  ConsoleLine("VpnManager: Process created successfully, PID: " +
              std::to_string(process_info_.process_id));

  if (os_.AssignProcessToJob(job_object_.get(), process_info_.process.get())) {
    LogRecord("Process assigned to Job Object successfully");
  } else {
    LogRecord("Warning: Failed to assign process to Job Object");
  }
  // It was created suspended, so it is in the job before it runs: nothing it
  // starts escapes the job, and it cannot exit before the assignment.
  if (vpn_os::Status resumed = os_.ResumeProcess(process_info_.thread.get()); !resumed) {
    ConsoleLine("VpnManager: Failed to resume process, error: " + std::to_string(resumed.error));
    // A child that never runs would pass the stability check as healthy
    // (a suspended process reads as still active): it is ended, and the
    // start answers as an early exit. One that cannot even be terminated
    // is a start that failed.
    if (vpn_os::Status terminated = os_.Terminate(process_info_.process.get(), 0); !terminated) {
      ConsoleLine("VpnManager: Failed to terminate managed process, error: " +
                  std::to_string(terminated.error));
      return AbandonUnresumedChild();
    }
  }
  return std::nullopt;
}

VpnManager::StepOutcome VpnManager::StartWithHostToken(vpn_os::ProcessLaunch& launch,
                                                       vpn_os::ProcessInfo& child) {
  // Declared in this order so that the duplicate closes first.
  vpn_os::HandleResult own_token = os_.OpenOwnProcessToken();
  if (!own_token.ok()) return StartFailure{"TOKEN_ERROR", "Failed to open process token"};
  vpn_os::HandleResult child_token = os_.DuplicatePrimaryToken(own_token.handle.get());
  if (!child_token.ok()) return StartFailure{"TOKEN_ERROR", "Failed to duplicate token"};
  vpn_os::PrivilegeResult privilege = os_.LookupPrivilege(kDebugPrivilege);
  if (!privilege.ok) return StartFailure{"PRIVILEGE_ERROR", "Failed to lookup privilege value"};
  if (!os_.EnablePrivilege(child_token.handle.get(), privilege.id)) {
    return StartFailure{"PRIVILEGE_ERROR", "Failed to adjust token privileges"};
  }
  launch.token = child_token.handle.get();
  vpn_os::ProcessResult process = os_.StartProcess(launch);
  if (!process.ok()) {
    ConsoleLine("VpnManager: Failed to create process, error: " + std::to_string(process.error));
    return ProcessStartFailed();
  }
  child = std::move(process.info);
  return std::nullopt;
}

VpnManager::StepOutcome VpnManager::CheckStability() {
  LogRecord("Waiting 1 second to verify process stability...");
  WaitForStability();

  vpn_os::ExitCodeResult exit_code = os_.GetExitCode(process_info_.process.get());
  // A failed read has no exit code; 0 is printed then.
  ConsoleLine(
      "VpnManager: Process exit code check - Success: " + std::string(exit_code.ok ? "1" : "0") +
      ", Exit code: " + std::to_string(exit_code.ok ? exit_code.exit_code : 0) +
      " (STILL_ACTIVE = " + std::to_string(vpn_os::kStillActive) + ")");
  if (exit_code.ok && exit_code.exit_code == vpn_os::kStillActive) return std::nullopt;
  return ReleaseEarlyExitedChild(exit_code.ok);
}

VpnManager::StepOutcome VpnManager::HandOverToMonitor() {
  stop_log_monitor_.exchange(false);
  log_monitor_read_cancellation_ = os_.CreateReadCancellation();
  try {
    log_monitor_thread_ = os_.StartThread([this] { LogMonitorThread(); });
  } catch (const std::exception& e) {
    // The child runs but nobody would drain its output: a tunnel whose log
    // pipe fills up stalls. End it and say the start failed.
    LogRecord(std::string("Failed to start log monitor thread: ") + e.what());
    AbandonStartedChild();
    return ProcessStartFailed();
  }
  LogRecord("Log monitor thread started");
  return std::nullopt;
}

void VpnManager::WaitForStability() {
  // A child that ends at once is reported at once; one that lives gets its
  // whole second. A wait that cannot be made becomes the plain pause.
  const auto start = std::chrono::steady_clock::now();
  vpn_os::WaitResult wait =
      os_.WaitForExit(process_info_.process.get(), velqa::vpn::kStabilityWait);
  if (wait.outcome == vpn_os::WaitOutcome::kFailed) {
    const auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - start);
    if (waited < velqa::vpn::kStabilityWait) os_.Sleep(velqa::vpn::kStabilityWait - waited);
  }
}
