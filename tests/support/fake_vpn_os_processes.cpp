// FakeVpnOs: the scripted children and foreign processes, and the jobs that
// hold them.
#include <string>
#include <utility>

#include "base/utf8_path.h"
#include "tests/support/fake_vpn_os.h"

namespace vpn_test {
namespace {

std::string FileNameOf(const std::filesystem::path& path) {
  return velqa::base::Utf8FromPath(path.filename());
}

}  // namespace

void FakeVpnOs::QueueChild(ChildScript script) {
  std::lock_guard<std::mutex> lock(mutex_);
  child_scripts_.push_back(std::move(script));
}

void FakeVpnOs::AddForeignProcess(std::uint32_t process_id, const std::string& image_name) {
  std::lock_guard<std::mutex> lock(mutex_);
  Process process;
  process.process_id = process_id;
  process.image_name = image_name;
  processes_[process_id] = std::move(process);
}

void FakeVpnOs::DenyOpen(std::uint32_t process_id) {
  std::lock_guard<std::mutex> lock(mutex_);
  deny_open_.insert(process_id);
}

void FakeVpnOs::DenyTerminate(std::uint32_t process_id) {
  std::lock_guard<std::mutex> lock(mutex_);
  deny_terminate_.insert(process_id);
}

void FakeVpnOs::EndProcessLocked(Process& process, std::uint32_t exit_code) {
  if (!process.running) return;
  process.running = false;
  process.exit_code = exit_code;
  if (process.output) --process.output->child_writers;
  pipe_changed_.notify_all();
}

void FakeVpnOs::EndChild(std::uint32_t process_id, std::uint32_t exit_code) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (Process* process = FindProcess(process_id)) EndProcessLocked(*process, exit_code);
}


bool FakeVpnOs::ProcessRuns(std::uint32_t process_id) const {
  std::lock_guard<std::mutex> lock(mutex_);
  const Process* process = FindProcess(process_id);
  return process != nullptr && process->running;
}

std::optional<std::uint32_t> FakeVpnOs::ProcessExitCode(std::uint32_t process_id) const {
  std::lock_guard<std::mutex> lock(mutex_);
  const Process* process = FindProcess(process_id);
  if (process == nullptr || process->running) return std::nullopt;
  return process->exit_code;
}

std::optional<vpn_os::ProcessLaunch> FakeVpnOs::LastLaunch() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return last_launch_;
}

vpn_os::HandleResult FakeVpnOs::CreateJob() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (auto error = TakeFailure(Op::kCreateJob)) {
    Record("CreateJob failed " + std::to_string(*error));
    return {{}, *error};
  }
  vpn_os::UniqueOsHandle job = AddHandle(HandleKind::kJob);
  Record("CreateJob -> " + FindHandle(job.get())->label);
  return {std::move(job), 0};
}

vpn_os::Status FakeVpnOs::ConfigureKillOnClose(vpn_os::NativeHandle job) {
  std::lock_guard<std::mutex> lock(mutex_);
  const Handle* handle = FindHandle(job);
  Record(std::string("ConfigureKillOnClose ") + (handle ? handle->label : "<bad>"));
  if (auto error = TakeFailure(Op::kConfigureKillOnClose)) return vpn_os::Status::Failure(*error);
  if (handle == nullptr || handle->kind != HandleKind::kJob) {
    return vpn_os::Status::Failure(kErrorInvalidParameter);
  }
  handles_.find(job)->second.kill_on_close = true;
  return vpn_os::Status::Success();
}

vpn_os::Status FakeVpnOs::AssignProcessToJob(vpn_os::NativeHandle job,
                                             vpn_os::NativeHandle process) {
  std::lock_guard<std::mutex> lock(mutex_);
  const Handle* job_handle = FindHandle(job);
  const Handle* process_handle = FindHandle(process);
  Record(std::string("AssignProcessToJob ") + (job_handle ? job_handle->label : "<bad>") + " " +
         (process_handle ? process_handle->label : "<bad>"));
  if (auto error = TakeFailure(Op::kAssignProcessToJob)) return vpn_os::Status::Failure(*error);
  if (job_handle == nullptr || process_handle == nullptr) {
    return vpn_os::Status::Failure(kErrorInvalidParameter);
  }
  handles_.find(job)->second.members.push_back(process_handle->process_id);
  return vpn_os::Status::Success();
}


vpn_os::Status FakeVpnOs::TerminateJob(vpn_os::NativeHandle job, std::uint32_t exit_code) {
  std::lock_guard<std::mutex> lock(mutex_);
  const Handle* handle = FindHandle(job);
  Record(std::string("TerminateJob ") + (handle ? handle->label : "<bad>") + " " +
         std::to_string(exit_code));
  if (auto error = TakeFailure(Op::kTerminateJob)) return vpn_os::Status::Failure(*error);
  if (handle == nullptr || handle->kind != HandleKind::kJob) {
    return vpn_os::Status::Failure(kErrorInvalidParameter);
  }
  for (std::uint32_t member : handle->members) {
    if (Process* process = FindProcess(member)) EndProcessLocked(*process, exit_code);
  }
  return vpn_os::Status::Success();
}

vpn_os::ProcessResult FakeVpnOs::StartProcess(const vpn_os::ProcessLaunch& launch) {
  std::lock_guard<std::mutex> lock(mutex_);
  last_launch_ = launch;
  Record("StartProcess " + launch.command_line);
  vpn_os::ProcessResult result;
  if (auto error = TakeFailure(Op::kStartProcess)) {
    result.error = *error;
    return result;
  }
  const Handle* output = FindHandle(launch.output);
  if (output == nullptr || output->kind != HandleKind::kPipeWrite) {
    result.error = kErrorInvalidParameter;
    return result;
  }
  if (paths_.count(PathKey(launch.executable)) == 0) {
    result.error = kErrorFileNotFound;
    return result;
  }
  ChildScript script;
  if (!child_scripts_.empty()) {
    script = std::move(child_scripts_.front());
    child_scripts_.pop_front();
  }
  Process process;
  process.process_id = next_process_id_;
  next_process_id_ += 4;
  process.image_name = FileNameOf(launch.executable);
  process.own = true;
  process.output = output->pipe;
  process.output->buffer += script.output;
  ++process.output->child_writers;
  const std::uint32_t process_id = process.process_id;
  processes_[process_id] = std::move(process);
  if (script.exit_code) EndProcessLocked(processes_[process_id], *script.exit_code);

  result.info.process = AddHandle(HandleKind::kProcess, nullptr, process_id);
  result.info.thread = AddHandle(HandleKind::kThread, nullptr, process_id);
  result.info.process_id = process_id;
  result.info.thread_id = process_id + 1;
  return result;
}

vpn_os::Status FakeVpnOs::ResumeProcess(vpn_os::NativeHandle thread) {
  std::lock_guard<std::mutex> lock(mutex_);
  const Handle* handle = FindHandle(thread);
  Record("ResumeProcess " + (handle ? handle->label : std::string("<bad>")));
  if (auto error = TakeFailure(Op::kResumeProcess)) return vpn_os::Status::Failure(*error);
  if (handle == nullptr || handle->kind != HandleKind::kThread) {
    return vpn_os::Status::Failure(kErrorInvalidParameter);
  }
  return vpn_os::Status::Success();
}

vpn_os::ExitCodeResult FakeVpnOs::GetExitCode(vpn_os::NativeHandle process_handle) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (auto error = TakeFailure(Op::kGetExitCode)) return {false, 0, *error};
  const Handle* handle = FindHandle(process_handle);
  if (handle == nullptr || handle->kind != HandleKind::kProcess) {
    return {false, 0, kErrorInvalidParameter};
  }
  const Process* process = FindProcess(handle->process_id);
  if (process == nullptr) return {false, 0, kErrorInvalidParameter};
  return {true, process->running ? vpn_os::kStillActive : process->exit_code, 0};
}

vpn_os::Status FakeVpnOs::Terminate(vpn_os::NativeHandle process_handle,
                                    std::uint32_t exit_code) {
  std::lock_guard<std::mutex> lock(mutex_);
  const Handle* handle = FindHandle(process_handle);
  Record(std::string("Terminate ") + (handle ? handle->label : "<bad>") + " " +
         std::to_string(exit_code));
  if (auto error = TakeFailure(Op::kTerminate)) return vpn_os::Status::Failure(*error);
  if (handle == nullptr ||
      (handle->kind != HandleKind::kProcess && handle->kind != HandleKind::kForeignProcess)) {
    return vpn_os::Status::Failure(kErrorInvalidParameter);
  }
  if (deny_terminate_.count(handle->process_id) != 0) {
    return vpn_os::Status::Failure(kErrorAccessDenied);
  }
  Process* process = FindProcess(handle->process_id);
  if (process == nullptr || !process->running) return vpn_os::Status::Failure(kErrorAccessDenied);
  EndProcessLocked(*process, exit_code);
  return vpn_os::Status::Success();
}

vpn_os::WaitResult FakeVpnOs::WaitForExit(vpn_os::NativeHandle process_handle,
                                          std::chrono::milliseconds timeout) {
  std::lock_guard<std::mutex> lock(mutex_);
  const Handle* handle = FindHandle(process_handle);
  Record(std::string("WaitForExit ") + (handle ? handle->label : "<bad>") + " " +
         std::to_string(timeout.count()));
  if (auto error = TakeFailure(Op::kWaitForExit)) return {vpn_os::WaitOutcome::kFailed, *error};
  if (handle == nullptr) return {vpn_os::WaitOutcome::kFailed, kErrorInvalidParameter};
  const Process* process = FindProcess(handle->process_id);
  if (process == nullptr || !process->running) return {vpn_os::WaitOutcome::kExited, 0};
  return {vpn_os::WaitOutcome::kTimedOut, 0};
}

vpn_os::HandleResult FakeVpnOs::OpenProcessForTermination(std::uint32_t process_id) {
  std::lock_guard<std::mutex> lock(mutex_);
  Record("OpenProcessForTermination " + std::to_string(process_id));
  if (auto error = TakeFailure(Op::kOpenProcessForTermination)) return {{}, *error};
  if (deny_open_.count(process_id) != 0) return {{}, kErrorAccessDenied};
  const Process* process = FindProcess(process_id);
  if (process == nullptr || !process->running) return {{}, kErrorInvalidParameter};
  return {AddHandle(HandleKind::kForeignProcess, nullptr, process_id), 0};
}

vpn_os::ImageNameResult FakeVpnOs::ProcessImageName(vpn_os::NativeHandle process_handle) {
  std::lock_guard<std::mutex> lock(mutex_);
  const Handle* handle = FindHandle(process_handle);
  Record("ProcessImageName " + (handle ? handle->label : std::string("<bad>")));
  if (auto error = TakeFailure(Op::kProcessImageName)) return {false, {}, *error};
  if (handle == nullptr) return {false, {}, kErrorInvalidParameter};
  const Process* process = FindProcess(handle->process_id);
  if (process == nullptr || !process->running) {
    return {false, {}, kErrorInvalidParameter};
  }
  return {true, process->image_name, 0};
}

vpn_os::SnapshotResult FakeVpnOs::SnapshotProcesses() {
  std::lock_guard<std::mutex> lock(mutex_);
  Record("SnapshotProcesses");
  vpn_os::SnapshotResult result;
  if (auto error = TakeFailure(Op::kSnapshotProcesses)) {
    result.error = *error;
    return result;
  }
  for (const auto& [process_id, process] : processes_) {
    if (process.running) result.processes.push_back({process_id, process.image_name});
  }
  result.ok = true;
  return result;
}


}  // namespace vpn_test
