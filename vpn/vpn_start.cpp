// start_vpn: validates the call, finds sing-box, creates the job and the
// output pipe, starts the child with a duplicate of the host's token, checks
// that it survives its first second, then hands its output to the monitor.
// Every failure is answered with one Error and leaves nothing it created open.
#include <chrono>
#include <exception>
#include <string>
#include <system_error>
#include <utility>
#include <variant>

#include "base/utf16_text.h"
#include "base/utf8_path.h"
#include "logging/native_logger.h"
#include "vpn/sing_box_output.h"
#include "vpn/vpn_manager.h"

namespace {

using flutter::EncodableMap;
using flutter::EncodableValue;
using velqa::base::PathFromUtf8;

constexpr std::chrono::milliseconds kStabilityWait{1000};
constexpr std::chrono::milliseconds kChildExitWait{3000};
constexpr char kDebugPrivilege[] = "SeDebugPrivilege";
// The early-exit path reads at most this much per call, as text.
constexpr size_t kEarlyExitChunk = 1023;
// How long and how much the early-exit path reads of the ended child's
// output at most. The child itself cannot leave more than its pipe holds (it
// would still be blocked in a write, so not ended); more can only come from
// a process it left behind.
constexpr std::chrono::milliseconds kEarlyExitOutputWait{2000};
constexpr size_t kEarlyExitOutputLimit = 4u << 20;

// "exe" run -c "config": both paths in quotes, unescaped.
std::string SingBoxCommandLine(const std::string& executable, const std::string& config) {
  return "\"" + executable + "\" run -c \"" + config + "\"";
}

}  // namespace

void VpnManager::HandleStartVpnMethod(const MethodCall& call, ResultPtr result) {
  LogRecord("HandleStartVpnMethod called");

  const EncodableValue* arguments = call.arguments();
  if (arguments == nullptr) {
    result->Error("INVALID_ARGUMENTS", "Missing arguments");
    return;
  }
  const auto* map = std::get_if<EncodableMap>(arguments);
  if (map == nullptr) {
    result->Error("INVALID_ARGUMENTS", "Arguments must be a map");
    return;
  }
  auto entry = map->find(EncodableValue(std::string("config_path")));
  if (entry == map->end()) {
    result->Error("INVALID_ARGUMENTS", "Missing config_path argument");
    return;
  }
  const auto* config_path = std::get_if<std::string>(&entry->second);
  if (config_path == nullptr) {
    result->Error("INVALID_ARGUMENTS", "config_path must be a string");
    return;
  }

  // The path arrives as UTF-8 from the Dart side and stays UTF-8 text; it
  // becomes a wide path only at the file-system and process calls.
  ConsoleLine("VpnManager: Starting VPN with config: " + *config_path);
  // Text that is not UTF-8 names no file the host could open (on Windows it
  // cannot even become a wide path), so it is not found, on every system.
  if (!velqa::base::IsValidUtf8(*config_path)) {
    LogRecord("Configuration path is not valid UTF-8");
    result->Error("CONFIG_NOT_FOUND", "Configuration file not found");
    return;
  }
  vpn_os::PathExistsResult config_state = os_.PathExists(PathFromUtf8(*config_path));
  if (config_state.state != vpn_os::PathState::kExists) {
    if (config_state.state == vpn_os::PathState::kError) {
      LogRecord("Configuration file check failed, error: " + std::to_string(config_state.error));
    }
    result->Error("CONFIG_NOT_FOUND", "Configuration file not found");
    return;
  }
  ConsoleLine("VpnManager: Config file exists: " + *config_path);

  const std::string executable = GetSingBoxExecutablePath();
  if (executable.empty()) {
    result->Error("EXECUTABLE_NOT_FOUND", "sing-box executable not found");
    return;
  }
  ConsoleLine("VpnManager: Using executable: " + executable);
  vpn_os::PathExistsResult executable_state = os_.PathExists(PathFromUtf8(executable));
  if (executable_state.state != vpn_os::PathState::kExists) {
    if (executable_state.state == vpn_os::PathState::kError) {
      LogRecord("Executable file check failed, error: " + std::to_string(executable_state.error));
    }
    result->Error("EXECUTABLE_NOT_FOUND", "sing-box executable file not found");
    return;
  }
  LogRecord("Executable file verified");

  // Never two own children: one that still runs is ended before the new one
  // exists, so no handle to it is overwritten and nothing is orphaned.
  EndRunningChildBeforeStart();

  vpn_os::HandleResult job = os_.CreateJob();
  if (!job.ok()) {
    result->Error("JOB_CREATION_FAILED", "Failed to create Job Object");
    return;
  }
  job_object_ = std::move(job.handle);
  LogRecord("Job Object created successfully");

  if (!os_.ConfigureKillOnClose(job_object_.get())) {
    job_object_.Reset();
    result->Error("JOB_CONFIG_FAILED", "Failed to configure Job Object");
    return;
  }
  LogRecord("Job Object configured successfully");

  vpn_os::ProcessLaunch launch;
  launch.executable = PathFromUtf8(executable);
  launch.argv = {executable, "run", "-c", *config_path};
  launch.no_console_window = true;
  launch.high_priority = true;
  launch.start_suspended = true;

  StopLogMonitor();

  vpn_os::PipeResult pipe = os_.CreateOutputPipe();
  if (!pipe.ok()) {
    job_object_.Reset();
    result->Error("PIPE_CREATION_FAILED", "Failed to create output pipe");
    return;
  }
  output_read_pipe_ = std::move(pipe.read_end);
  output_write_pipe_ = std::move(pipe.write_end);
  LogRecord("Output capture pipe created successfully");

  launch.output = output_write_pipe_.get();
  launch.command_line = SingBoxCommandLine(executable, *config_path);
  ConsoleLine("VpnManager: Executing command: " + launch.command_line);

  // Undoes the pipe and the job; the tokens close with their owners below.
  auto fail_after_pipe = [&](const char* code, const char* message) {
    output_read_pipe_.Reset();
    output_write_pipe_.Reset();
    job_object_.Reset();
    result->Error(code, message);
  };

  vpn_os::HandleResult own_token = os_.OpenOwnProcessToken();
  if (!own_token.ok()) {
    fail_after_pipe("TOKEN_ERROR", "Failed to open process token");
    return;
  }
  vpn_os::HandleResult child_token = os_.DuplicatePrimaryToken(own_token.handle.get());
  if (!child_token.ok()) {
    own_token.handle.Reset();
    fail_after_pipe("TOKEN_ERROR", "Failed to duplicate token");
    return;
  }
  auto close_tokens = [&] {
    child_token.handle.Reset();
    own_token.handle.Reset();
  };
  vpn_os::PrivilegeResult privilege = os_.LookupPrivilege(kDebugPrivilege);
  if (!privilege.ok) {
    close_tokens();
    fail_after_pipe("PRIVILEGE_ERROR", "Failed to lookup privilege value");
    return;
  }
  if (!os_.EnablePrivilege(child_token.handle.get(), privilege.id)) {
    close_tokens();
    fail_after_pipe("PRIVILEGE_ERROR", "Failed to adjust token privileges");
    return;
  }

  launch.token = child_token.handle.get();
  vpn_os::ProcessResult process = os_.StartProcess(launch);
  if (!process.ok()) {
    ConsoleLine("VpnManager: Failed to create process, error: " + std::to_string(process.error));
    close_tokens();
    fail_after_pipe("PROCESS_START_FAILED", "Failed to start process with elevated privileges");
    return;
  }
  close_tokens();
  {
    // No monitor runs here (StopLogMonitor above); the lock keeps the rule
    // that the process record changes only under it.
    std::lock_guard<std::mutex> lock(process_mutex_);
    process_info_ = std::move(process.info);
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
    // A child that never runs would pass the stability check as healthy.
    os_.Terminate(process_info_.process.get(), 0);
  }

  LogRecord("Waiting 1 second to verify process stability...");
  WaitForStability();

  vpn_os::ExitCodeResult exit_code = os_.GetExitCode(process_info_.process.get());
  // A failed read has no exit code; 0 is printed then.
  ConsoleLine(
      "VpnManager: Process exit code check - Success: " + std::string(exit_code.ok ? "1" : "0") +
      ", Exit code: " + std::to_string(exit_code.ok ? exit_code.exit_code : 0) +
      " (STILL_ACTIVE = " + std::to_string(vpn_os::kStillActive) + ")");

  if (exit_code.ok && exit_code.exit_code == vpn_os::kStillActive) {
    stop_log_monitor_.exchange(false);
    log_monitor_read_cancellation_ = os_.CreateReadCancellation();
    try {
      log_monitor_thread_ = os_.StartThread([this] { LogMonitorThread(); });
    } catch (const std::exception& e) {
      // The child runs but nobody would drain its output: a tunnel whose
      // log pipe fills up stalls. End it and say the start failed.
      LogRecord(std::string("Failed to start log monitor thread: ") + e.what());
      AbandonStartedChild();
      result->Error("PROCESS_START_FAILED", "Failed to start process with elevated privileges");
      return;
    }
    LogRecord("Log monitor thread started");
    result->Success();
    return;
  }

  LogRecord("Process started but terminated immediately, capturing output...");
  if (!exit_code.ok) {
    // Its state is unknown and its handles are about to be closed: make sure
    // it is not left running unseen.
    os_.Terminate(process_info_.process.get(), 0);
  }
  output_write_pipe_.Reset();
  // The job goes first: a process the child left behind in it could hold the
  // pipe's write end and keep the read below from ever ending. Output already
  // in the pipe stays readable.
  job_object_.Reset();
  LogRecord("Reading process output...");
  std::string output = CollectEarlyExitOutput();
  output_read_pipe_.Reset();
  {
    std::lock_guard<std::mutex> lock(process_mutex_);
    process_info_.CloseHandles();
    is_running_.store(false);
  }
  result->Error("PROCESS_TERMINATED_IMMEDIATELY", "sing-box启动失败。错误信息: " + output);
}

void VpnManager::WaitForStability() {
  // A child that ends at once is reported at once; one that lives gets its
  // whole second. A wait that cannot be made becomes the plain pause.
  const auto start = std::chrono::steady_clock::now();
  vpn_os::WaitResult wait = os_.WaitForExit(process_info_.process.get(), kStabilityWait);
  if (wait.outcome == vpn_os::WaitOutcome::kFailed) {
    const auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - start);
    if (waited < kStabilityWait) os_.Sleep(kStabilityWait - waited);
  }
}

std::string VpnManager::CollectEarlyExitOutput() {
  std::string output;
  velqa::vpn::OutputLineSplitter lines([](std::string_view line) {
    std::string text = velqa::vpn::CleanOutputLine(line);
    if (!text.empty()) NativeLogger::GetInstance().Info(text, velqa::vpn::kSingBoxOutputTag);
  });
  char buffer[kEarlyExitChunk + 1];
  // The child has ended, but a process it started outside its job (or its
  // process group) may still hold the pipe open, for as long as it lives:
  // the platform thread waits only so long for the end of the output.
  const auto deadline = std::chrono::steady_clock::now() + kEarlyExitOutputWait;
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    // Checked before every read: a holder that keeps writing must not keep
    // the loop going either.
    vpn_os::ReadResult read;
    if (left.count() > 0) {
      read = os_.ReadWithTimeout(output_read_pipe_.get(), std::span<char>(buffer, kEarlyExitChunk),
                                 left);
    } else {
      read.timed_out = true;
    }
    if (read.timed_out) {
      LogRecord("sing-box output still held open by another process; answering with what was read");
      break;
    }
    if (!read.ok || read.bytes == 0) break;
    buffer[read.bytes] = '\0';
    std::string_view chunk(buffer);  // up to the first zero byte
    output.append(chunk);
    lines.Append(chunk.data(), chunk.size());
    if (output.size() >= kEarlyExitOutputLimit) {
      LogRecord("sing-box output longer than " + std::to_string(kEarlyExitOutputLimit) +
                " bytes; answering with its beginning");
      break;
    }
  }
  if (!lines.pending().empty()) lines.Append("\n", 1);
  return output;
}

void VpnManager::EndRunningChildBeforeStart() {
  if (!is_running_.load() || !process_info_.process) return;
  const std::string pid = std::to_string(process_info_.process_id);
  vpn_os::ExitCodeResult exit_code = os_.GetExitCode(process_info_.process.get());
  if (exit_code.ok && exit_code.exit_code != vpn_os::kStillActive) {
    LogRecord("Previous sing-box process (PID: " + pid + ") has already ended");
  } else {
    LogRecord("Ending the running sing-box process (PID: " + pid + ") before the new start");
    vpn_os::Status terminated = os_.Terminate(process_info_.process.get(), 0);
    if (!terminated) {
      ConsoleLine("VpnManager: Failed to terminate managed process, error: " +
                  std::to_string(terminated.error));
    } else if (os_.WaitForExit(process_info_.process.get(), kChildExitWait).outcome ==
               vpn_os::WaitOutcome::kExited) {
      LogRecord("Previous sing-box process terminated");
    } else {
      LogRecord("Previous sing-box process termination timeout");
    }
  }
  {
    std::lock_guard<std::mutex> lock(process_mutex_);
    process_info_.Clear();
    is_running_.store(false);
  }
  // Kill-on-close: whatever the previous child left in its job ends too.
  job_object_.Reset();
  LogRecord("Previous sing-box process handles and Job Object closed");
  StopLogMonitor();
}

void VpnManager::AbandonStartedChild() {
  os_.Terminate(process_info_.process.get(), 0);
  os_.WaitForExit(process_info_.process.get(), kChildExitWait);
  {
    std::lock_guard<std::mutex> lock(process_mutex_);
    process_info_.Clear();
    is_running_.store(false);
  }
  job_object_.Reset();
  log_monitor_read_cancellation_.reset();
  output_read_pipe_.Reset();
  output_write_pipe_.Reset();
  LogRecord("sing-box process ended because its output cannot be monitored");
}
