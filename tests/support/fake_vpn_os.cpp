// FakeVpnOs: scripting faults, files and the machine, observing the calls,
// the handle table, tokens, libraries and threads. Processes and jobs are in
// fake_vpn_os_processes.cpp, the output pipe in fake_vpn_os_pipe.cpp.
#include "tests/support/fake_vpn_os.h"

#include <algorithm>
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
