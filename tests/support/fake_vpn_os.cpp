#include "tests/support/fake_vpn_os.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <system_error>
#include <utility>

#include "base/utf8_path.h"

namespace vpn_test {
namespace {

const char* KindName(HandleKind kind) {
  switch (kind) {
    case HandleKind::kJob:
      return "job";
    case HandleKind::kPipeRead:
      return "pipe-read";
    case HandleKind::kPipeWrite:
      return "pipe-write";
    case HandleKind::kToken:
      return "token";
    case HandleKind::kProcess:
      return "process";
    case HandleKind::kThread:
      return "thread";
    case HandleKind::kForeignProcess:
      return "foreign-process";
  }
  return "?";
}

class FakeReadCancellation final : public vpn_os::ReadCancellation {
 public:
  FakeReadCancellation(std::mutex& mutex, std::condition_variable& changed, bool unreachable)
      : mutex_(mutex), changed_(changed), unreachable_(unreachable) {}
  bool Cancel() override {
    if (unreachable_) return false;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      cancelled_.store(true);
    }
    changed_.notify_all();
    return true;
  }
  bool IsCancelled() const override { return cancelled_.load(); }

 private:
  std::mutex& mutex_;
  std::condition_variable& changed_;
  const bool unreachable_;
  std::atomic<bool> cancelled_{false};
};

std::string FileNameOf(const std::filesystem::path& path) {
  return velqa::base::Utf8FromPath(path.filename());
}

}  // namespace

FakeVpnOs::FakeVpnOs() = default;
FakeVpnOs::~FakeVpnOs() = default;

std::string FakeVpnOs::PathKey(const std::filesystem::path& path) {
  return velqa::base::Utf8FromPath(path.lexically_normal());
}

void FakeVpnOs::FailNext(Op op, vpn_os::OsErrorCode code) {
  std::lock_guard<std::mutex> lock(mutex_);
  next_failures_[op].push_back(code);
}

void FakeVpnOs::FailAlways(Op op, vpn_os::OsErrorCode code) {
  std::lock_guard<std::mutex> lock(mutex_);
  always_failures_[op] = code;
}

void FakeVpnOs::ClearFailures() {
  std::lock_guard<std::mutex> lock(mutex_);
  next_failures_.clear();
  always_failures_.clear();
}

std::optional<vpn_os::OsErrorCode> FakeVpnOs::TakeFailure(Op op) {
  auto next = next_failures_.find(op);
  if (next != next_failures_.end() && !next->second.empty()) {
    const vpn_os::OsErrorCode code = next->second.front();
    next->second.pop_front();
    return code;
  }
  auto always = always_failures_.find(op);
  if (always != always_failures_.end()) return always->second;
  return std::nullopt;
}

void FakeVpnOs::SetExecutablePath(const std::filesystem::path& path) {
  std::lock_guard<std::mutex> lock(mutex_);
  executable_path_ = path;
}

void FakeVpnOs::SetArchitecture(std::uint16_t code) {
  std::lock_guard<std::mutex> lock(mutex_);
  architecture_ = code;
}

void FakeVpnOs::SetProcessArchitecture(std::uint16_t code) {
  std::lock_guard<std::mutex> lock(mutex_);
  process_architecture_ = code;
}

void FakeVpnOs::AddPath(const std::filesystem::path& path) {
  std::lock_guard<std::mutex> lock(mutex_);
  paths_.insert(PathKey(path));
}

void FakeVpnOs::RemovePath(const std::filesystem::path& path) {
  std::lock_guard<std::mutex> lock(mutex_);
  paths_.erase(PathKey(path));
}

void FakeVpnOs::SetPathError(const std::filesystem::path& path, vpn_os::OsErrorCode code) {
  std::lock_guard<std::mutex> lock(mutex_);
  path_errors_[PathKey(path)] = code;
}

void FakeVpnOs::SetLoadError(const std::filesystem::path& path, vpn_os::OsErrorCode code) {
  std::lock_guard<std::mutex> lock(mutex_);
  load_errors_[PathKey(path)] = code;
}

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

void FakeVpnOs::WriteChildOutput(std::uint32_t process_id, const std::string& text) {
  std::lock_guard<std::mutex> lock(mutex_);
  Process* process = FindProcess(process_id);
  if (process == nullptr || !process->running || !process->output) return;
  process->output->buffer += text;
  pipe_changed_.notify_all();
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

std::vector<std::string> FakeVpnOs::Journal() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return journal_;
}

std::vector<std::string> FakeVpnOs::CallNames() const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<std::string> names;
  for (const std::string& line : journal_) names.push_back(line.substr(0, line.find(' ')));
  return names;
}

void FakeVpnOs::ClearJournal() {
  std::lock_guard<std::mutex> lock(mutex_);
  journal_.clear();
}

std::multiset<HandleKind> FakeVpnOs::OpenHandles() const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::multiset<HandleKind> kinds;
  for (const auto& [value, handle] : handles_) kinds.insert(handle.kind);
  return kinds;
}

std::size_t FakeVpnOs::OpenHandleCount() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return handles_.size();
}

bool FakeVpnOs::IsOpen(vpn_os::NativeHandle handle) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return handles_.count(handle) != 0;
}

int FakeVpnOs::LoadedModules() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return static_cast<int>(modules_.size());
}

int FakeVpnOs::LoadCalls() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return load_calls_;
}

std::vector<std::chrono::milliseconds> FakeVpnOs::Sleeps() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return sleeps_;
}

void FakeVpnOs::SetRealSleepCap(std::chrono::milliseconds cap) {
  std::lock_guard<std::mutex> lock(mutex_);
  real_sleep_cap_ = cap;
}

void FakeVpnOs::Record(std::string line) { journal_.push_back(std::move(line)); }

vpn_os::UniqueOsHandle FakeVpnOs::AddHandle(HandleKind kind, std::shared_ptr<Pipe> pipe,
                                            std::uint32_t process_id) {
  const vpn_os::NativeHandle value = next_handle_;
  next_handle_ += 4;
  Handle handle;
  handle.kind = kind;
  handle.label = std::string(KindName(kind)) + "#" + std::to_string(++kind_counters_[kind]);
  handle.pipe = std::move(pipe);
  handle.process_id = process_id;
  handles_.emplace(value, std::move(handle));
  return vpn_os::UniqueOsHandle(value, {this});
}

const FakeVpnOs::Handle* FakeVpnOs::FindHandle(vpn_os::NativeHandle handle) const {
  auto found = handles_.find(handle);
  return found == handles_.end() ? nullptr : &found->second;
}

FakeVpnOs::Process* FakeVpnOs::FindProcess(std::uint32_t process_id) {
  auto found = processes_.find(process_id);
  return found == processes_.end() ? nullptr : &found->second;
}

const FakeVpnOs::Process* FakeVpnOs::FindProcess(std::uint32_t process_id) const {
  auto found = processes_.find(process_id);
  return found == processes_.end() ? nullptr : &found->second;
}

// --- VpnOs ---

void FakeVpnOs::CloseHandle(vpn_os::NativeHandle value) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto found = handles_.find(value);
  if (found == handles_.end()) {
    Record("Close <unknown handle " + std::to_string(value) + ">");
    return;
  }
  Record("Close " + found->second.label);
  if (found->second.kind == HandleKind::kPipeWrite && found->second.pipe) {
    found->second.pipe->host_write_end_open = false;
    pipe_changed_.notify_all();
  }
  if (found->second.kind == HandleKind::kJob && found->second.kill_on_close) {
    // As Windows does for the last handle of such a job.
    for (std::uint32_t member : found->second.members) {
      if (Process* process = FindProcess(member)) EndProcessLocked(*process, 1);
    }
  }
  handles_.erase(found);
}

void FakeVpnOs::ReleaseModule(vpn_os::NativeModule module) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto found = modules_.find(module);
  Record("ReleaseModule " + (found == modules_.end() ? std::string("<unknown>") : found->second));
  if (found != modules_.end()) modules_.erase(found);
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

vpn_os::PipeResult FakeVpnOs::CreateOutputPipe() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (auto error = TakeFailure(Op::kCreateOutputPipe)) {
    Record("CreateOutputPipe failed " + std::to_string(*error));
    return {{}, {}, *error};
  }
  auto pipe = std::make_shared<Pipe>();
  vpn_os::PipeResult result;
  result.read_end = AddHandle(HandleKind::kPipeRead, pipe);
  result.write_end = AddHandle(HandleKind::kPipeWrite, pipe);
  Record("CreateOutputPipe -> " + FindHandle(result.read_end.get())->label + " " +
         FindHandle(result.write_end.get())->label);
  return result;
}

vpn_os::ReadResult FakeVpnOs::Read(vpn_os::NativeHandle pipe_handle, std::span<char> buffer,
                                   vpn_os::ReadCancellation* cancellation) {
  return ReadPipe(pipe_handle, buffer, cancellation, std::nullopt);
}

vpn_os::ReadResult FakeVpnOs::ReadPipe(vpn_os::NativeHandle pipe_handle, std::span<char> buffer,
                                       vpn_os::ReadCancellation* cancellation,
                                       std::optional<std::chrono::milliseconds> timeout) {
  std::unique_lock<std::mutex> lock(mutex_);
  vpn_os::ReadResult result;
  const Handle* handle = FindHandle(pipe_handle);
  if (handle == nullptr || handle->kind != HandleKind::kPipeRead) {
    result.error = kErrorInvalidParameter;
    return result;
  }
  std::shared_ptr<Pipe> pipe = handle->pipe;
  if (auto error = TakeFailure(Op::kRead)) {
    result.error = *error;
    return result;
  }
  auto ready = [&] {
    return !pipe->buffer.empty() || (!pipe->host_write_end_open && pipe->child_writers == 0) ||
           (cancellation != nullptr && cancellation->IsCancelled());
  };
  if (timeout) {
    if (!pipe_changed_.wait_for(lock, *timeout, ready)) {
      result.timed_out = true;
      result.error = kErrorTimeout;
      return result;
    }
  } else {
    pipe_changed_.wait(lock, ready);
  }
  if (!pipe->buffer.empty()) {
    const std::size_t count = std::min(buffer.size(), pipe->buffer.size());
    std::memcpy(buffer.data(), pipe->buffer.data(), count);
    pipe->buffer.erase(0, count);
    result.ok = true;
    result.bytes = count;
    return result;
  }
  if (cancellation != nullptr && cancellation->IsCancelled()) {
    result.cancelled = true;
    result.error = kErrorOperationAborted;
    return result;
  }
  result.error = kErrorBrokenPipe;
  return result;
}

std::unique_ptr<vpn_os::ReadCancellation> FakeVpnOs::CreateReadCancellation() {
  std::lock_guard<std::mutex> lock(mutex_);
  return std::make_unique<FakeReadCancellation>(mutex_, pipe_changed_, cancel_unreachable_);
}

void FakeVpnOs::SetCancelUnreachable(bool unreachable) {
  std::lock_guard<std::mutex> lock(mutex_);
  cancel_unreachable_ = unreachable;
}

vpn_os::ReadResult FakeVpnOs::ReadWithTimeout(vpn_os::NativeHandle pipe_handle,
                                              std::span<char> buffer,
                                              std::chrono::milliseconds timeout) {
  return ReadPipe(pipe_handle, buffer, nullptr, timeout);
}

vpn_os::HandleResult FakeVpnOs::OpenOwnProcessToken() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (auto error = TakeFailure(Op::kOpenOwnProcessToken)) {
    Record("OpenOwnProcessToken failed " + std::to_string(*error));
    return {{}, *error};
  }
  vpn_os::UniqueOsHandle token = AddHandle(HandleKind::kToken);
  Record("OpenOwnProcessToken -> " + FindHandle(token.get())->label);
  return {std::move(token), 0};
}

vpn_os::HandleResult FakeVpnOs::DuplicatePrimaryToken(vpn_os::NativeHandle token) {
  std::lock_guard<std::mutex> lock(mutex_);
  const Handle* source = FindHandle(token);
  if (auto error = TakeFailure(Op::kDuplicatePrimaryToken)) {
    Record("DuplicatePrimaryToken failed " + std::to_string(*error));
    return {{}, *error};
  }
  if (source == nullptr || source->kind != HandleKind::kToken) return {{}, kErrorInvalidParameter};
  vpn_os::UniqueOsHandle duplicate = AddHandle(HandleKind::kToken);
  Record("DuplicatePrimaryToken " + source->label + " -> " + FindHandle(duplicate.get())->label);
  return {std::move(duplicate), 0};
}

vpn_os::PrivilegeResult FakeVpnOs::LookupPrivilege(std::string_view name) {
  std::lock_guard<std::mutex> lock(mutex_);
  Record("LookupPrivilege " + std::string(name));
  if (auto error = TakeFailure(Op::kLookupPrivilege)) return {false, {}, *error};
  return {true, {20, 0}, 0};
}

vpn_os::Status FakeVpnOs::EnablePrivilege(vpn_os::NativeHandle token,
                                          vpn_os::PrivilegeId /*privilege*/) {
  std::lock_guard<std::mutex> lock(mutex_);
  const Handle* handle = FindHandle(token);
  Record(std::string("EnablePrivilege ") + (handle ? handle->label : "<bad>"));
  if (auto error = TakeFailure(Op::kEnablePrivilege)) return vpn_os::Status::Failure(*error);
  if (handle == nullptr || handle->kind != HandleKind::kToken) {
    return vpn_os::Status::Failure(kErrorInvalidParameter);
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

vpn_os::ModuleResult FakeVpnOs::LoadModule(const std::filesystem::path& path) {
  std::lock_guard<std::mutex> lock(mutex_);
  ++load_calls_;
  const std::string key = PathKey(path);
  Record("LoadModule " + key);
  if (auto error = TakeFailure(Op::kLoadModule)) return {{}, *error};
  if (paths_.count(key) == 0) return {{}, kErrorModNotFound};
  auto load_error = load_errors_.find(key);
  if (load_error != load_errors_.end()) return {{}, load_error->second};
  const vpn_os::NativeModule module = next_module_++;
  modules_[module] = key;
  return {vpn_os::UniqueOsModule(module, {this}), 0};
}

vpn_os::PathResult FakeVpnOs::ExecutablePath() {
  std::lock_guard<std::mutex> lock(mutex_);
  Record("ExecutablePath");
  if (auto error = TakeFailure(Op::kExecutablePath)) return {false, {}, *error};
  if (!executable_path_) return {false, {}, kErrorFileNotFound};
  return {true, *executable_path_, 0};
}

std::uint16_t FakeVpnOs::NativeArchitecture() {
  std::lock_guard<std::mutex> lock(mutex_);
  return architecture_;
}

std::uint16_t FakeVpnOs::ProcessArchitecture() {
  std::lock_guard<std::mutex> lock(mutex_);
  return process_architecture_;
}

vpn_os::PathExistsResult FakeVpnOs::PathExists(const std::filesystem::path& path) {
  std::lock_guard<std::mutex> lock(mutex_);
  const std::string key = PathKey(path);
  Record("PathExists " + key);
  auto error = path_errors_.find(key);
  if (error != path_errors_.end()) return {vpn_os::PathState::kError, error->second};
  if (paths_.count(key) != 0) return {vpn_os::PathState::kExists, 0};
  return {vpn_os::PathState::kNotFound, 0};
}

void FakeVpnOs::Sleep(std::chrono::milliseconds duration) {
  std::chrono::milliseconds real;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    sleeps_.push_back(duration);
    real = std::min(duration, real_sleep_cap_);
  }
  std::this_thread::sleep_for(real);
}

std::unique_ptr<std::thread> FakeVpnOs::StartThread(std::function<void()> body) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    Record("StartThread");
    if (auto error = TakeFailure(Op::kStartThread)) {
      throw std::system_error(static_cast<int>(*error), std::system_category(),
                              "thread creation failed");
    }
  }
  return VpnOs::StartThread(std::move(body));
}

}  // namespace vpn_test
