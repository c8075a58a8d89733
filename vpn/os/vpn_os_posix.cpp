// The Linux implementation of VpnOs: the class that ties the handle table to
// the processes, the job guard, the output pipe and the machine's files. What
// each concern does lives beside it: handle_table_posix.h,
// process_object_posix.h, reaping_posix.h, child_launch_posix.h,
// read_cancellation_posix.h, job_guard_posix.h, process_list_posix.h.
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <variant>
#include <vector>

#include "vpn/os/child_launch_posix.h"
#include "vpn/os/handle_table_posix.h"
#include "vpn/os/last_error_posix.h"
#include "vpn/os/pidfd_posix.h"
#include "vpn/os/process_list_posix.h"
#include "vpn/os/process_object_posix.h"
#include "vpn/os/read_cancellation_posix.h"
#include "vpn/os/reaping_posix.h"
#include "vpn/os/vpn_os.h"

namespace vpn_os {

using velqa::base::UniqueFd;
namespace {

using Clock = std::chrono::steady_clock;

class PosixVpnOs final : public VpnOs {
 public:
  void CloseHandle(NativeHandle handle) override {
    HandleObject object;
    if (!table_.Remove(handle, object)) return;
    if (auto* job = std::get_if<std::shared_ptr<JobObject>>(&object)) {
      std::vector<std::shared_ptr<ProcessObject>> leaders;
      {
        std::lock_guard<std::mutex> lock((*job)->mutex);
        (*job)->guard.Close();
        leaders.swap((*job)->leaders);
      }
      // Dropped outside the job's lock: the last reference reaps.
      leaders.clear();
    }
    // A process handle's object reaps its child when its last reference goes
    // (here, or when the job that holds it closes).
    object = Placeholder{};
    ReapOrphans();
  }

  void ReleaseModule(NativeModule module) override { dlclose(reinterpret_cast<void*>(module)); }

  HandleResult CreateJob() override {
    auto job = std::make_shared<JobObject>();
    int error = 0;
    if (!JobGuard::Start(job->guard, error)) return {{}, static_cast<OsErrorCode>(error)};
    return {Own(std::move(job)), 0};
  }

  Status ConfigureKillOnClose(NativeHandle job_handle) override {
    auto job = table_.Find<JobObject>(job_handle);
    if (!job) return Status::Failure(EBADF);
    std::lock_guard<std::mutex> lock(job->mutex);
    job->guard.EnableKillOnClose();
    return Status::Success();
  }

  Status AssignProcessToJob(NativeHandle job_handle, NativeHandle process_handle) override {
    auto job = table_.Find<JobObject>(job_handle);
    auto process = table_.Find<ProcessObject>(process_handle);
    if (!job || !process) return Status::Failure(EBADF);
    pid_t group;
    {
      std::lock_guard<std::mutex> lock(process->mutex);
      // Only our own children run in a process group of their own. Even one
      // that has ended is still unreaped here, so its id is still its own.
      if (!process->own) return Status::Failure(EPERM);
      group = process->pid;
    }
    std::lock_guard<std::mutex> lock(job->mutex);
    job->guard.AddGroup(group);
    job->leaders.push_back(std::move(process));
    return Status::Success();
  }

  Status TerminateJob(NativeHandle job_handle, std::uint32_t exit_code) override {
    auto job = table_.Find<JobObject>(job_handle);
    if (!job) return Status::Failure(EBADF);
    std::lock_guard<std::mutex> lock(job->mutex);
    // The leaders are unreaped while the job holds them, so each group id is
    // still the job's own; a leader killed here reads the given exit code.
    for (const std::shared_ptr<ProcessObject>& leader : job->leaders) {
      KillProcess(*leader, exit_code);
    }
    job->guard.KillGroups();
    return Status::Success();
  }

  PipeResult CreateOutputPipe() override {
    int fds[2];
    // Close-on-exec on both ends: the child gets the write end only as its
    // standard output and error, duplicated after the fork.
    if (pipe2(fds, O_CLOEXEC) != 0) return {{}, {}, LastError()};
    auto read_end = std::make_shared<FdObject>();
    read_end->fd.Reset(fds[0]);
    auto write_end = std::make_shared<FdObject>();
    write_end->fd.Reset(fds[1]);
    PipeResult result;
    result.read_end = Own(std::move(read_end));
    result.write_end = Own(std::move(write_end));
    return result;
  }

  ReadResult Read(NativeHandle pipe, std::span<char> buffer,
                  ReadCancellation* cancellation) override {
    return ReadFromPipe(pipe, buffer, static_cast<PosixReadCancellation*>(cancellation), {});
  }

  std::unique_ptr<ReadCancellation> CreateReadCancellation() override {
    return std::make_unique<PosixReadCancellation>();
  }

  ReadResult ReadWithTimeout(NativeHandle pipe, std::span<char> buffer,
                             ReadCancellation* cancellation,
                             std::chrono::milliseconds timeout) override {
    return ReadFromPipe(pipe, buffer, static_cast<PosixReadCancellation*>(cancellation),
                        Clock::now() + timeout);
  }

  // Linux has no access tokens or privileges to hand a child: the child
  // simply runs with the host's credentials, so these steps succeed.
  HandleResult OpenOwnProcessToken() override { return {Own(Placeholder{}), 0}; }
  HandleResult DuplicatePrimaryToken(NativeHandle token) override {
    if (!table_.Exists(token)) return {{}, EBADF};
    return {Own(Placeholder{}), 0};
  }
  PrivilegeResult LookupPrivilege(std::string_view /*name*/) override { return {true, {}, 0}; }
  Status EnablePrivilege(NativeHandle token, PrivilegeId /*privilege*/) override {
    return table_.Exists(token) ? Status::Success() : Status::Failure(EBADF);
  }

  ProcessResult StartProcess(const ProcessLaunch& launch) override {
    ReapOrphans();
    ProcessResult result;
    auto output = table_.Find<FdObject>(launch.output);
    if (!output) {
      result.error = EBADF;
      return result;
    }
    const LaunchedChild child = ForkAndExec(launch, output->fd.get());
    if (child.pid <= 0) {
      result.error = child.error;
      return result;
    }
    auto process = std::make_shared<ProcessObject>();
    process->pid = child.pid;
    process->pidfd.Reset(OpenPidFd(child.pid));
    process->own = true;
    result.info.process = Own(std::move(process));
    result.info.thread = Own(Placeholder{});
    result.info.process_id = static_cast<std::uint32_t>(child.pid);
    result.info.thread_id = static_cast<std::uint32_t>(child.pid);
    return result;
  }

  // The child is in its own process group, the job's unit here, from before
  // it executes; it needs no suspension to be inside the job from its start.
  Status ResumeProcess(NativeHandle thread) override {
    return table_.Exists(thread) ? Status::Success() : Status::Failure(EBADF);
  }

  ExitCodeResult GetExitCode(NativeHandle process_handle) override {
    auto process = table_.Find<ProcessObject>(process_handle);
    if (!process) return {false, 0, EBADF};
    return ExitCodeOf(*process);
  }

  Status Terminate(NativeHandle process_handle, std::uint32_t exit_code) override {
    auto process = table_.Find<ProcessObject>(process_handle);
    if (!process) return Status::Failure(EBADF);
    return KillProcess(*process, exit_code);
  }

  WaitResult WaitForExit(NativeHandle process_handle, std::chrono::milliseconds timeout) override {
    auto process = table_.Find<ProcessObject>(process_handle);
    if (!process) return {WaitOutcome::kFailed, EBADF};
    return WaitForEnd(*process, timeout);
  }

  HandleResult OpenProcessForTermination(std::uint32_t process_id) override {
    const pid_t pid = static_cast<pid_t>(process_id);
    if (pid <= 0) return {{}, EINVAL};
    // Signalling 0 asks whether it exists and whether we may signal it.
    if (kill(pid, 0) != 0) return {{}, LastError()};
    auto process = std::make_shared<ProcessObject>();
    process->pid = pid;
    process->pidfd.Reset(OpenPidFd(pid));  // pins the process against pid reuse
    return {Own(std::move(process)), 0};
  }

  ImageNameResult ProcessImageName(NativeHandle process_handle) override {
    auto process = table_.Find<ProcessObject>(process_handle);
    if (!process) return {false, {}, EBADF};
    return ImageNameOf(*process);
  }

  SnapshotResult SnapshotProcesses() override { return ListProcesses(); }

  ModuleResult LoadModule(const std::filesystem::path& path) override {
    errno = 0;
    void* module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (module == nullptr) {
      // dlopen reports through dlerror's text, and errno is not reliably
      // set. A file that cannot be reached gives stat's errno; a file that is
      // there but that the loader cannot use (not a shared object, the wrong
      // architecture) gives ENOEXEC.
      OsErrorCode error = LastError();
      dlerror();
      struct stat info;
      if (stat(path.c_str(), &info) != 0) {
        error = LastError();
      } else if (error == 0 || error == ENOENT) {
        error = ENOEXEC;
      }
      return {{}, error};
    }
    return {UniqueOsModule(reinterpret_cast<NativeModule>(module), {this}), 0};
  }

  PathResult ExecutablePath() override {
    char buffer[PATH_MAX];
    const ssize_t length = readlink("/proc/self/exe", buffer, sizeof buffer);
    if (length <= 0) return {false, {}, LastError()};
    std::string path(buffer, static_cast<std::size_t>(length));
    // As on Windows, the name comes through a buffer of 260 characters: a
    // longer one is cut (not inside a UTF-8 sequence).
    constexpr std::size_t kMaxCharacters = 259;
    if (path.size() > kMaxCharacters) {
      std::size_t cut = kMaxCharacters;
      while (cut > 0 && (static_cast<unsigned char>(path[cut]) & 0xC0) == 0x80) --cut;
      path.resize(cut);
    }
    return {true, std::filesystem::path(path), 0};
  }

  std::uint16_t NativeArchitecture() override {
    utsname name{};
    if (uname(&name) != 0) return kArchitectureUnknown;
    const std::string machine = name.machine;
    if (machine == "x86_64" || machine == "amd64") return kArchitectureAmd64;
    if (machine == "aarch64" || machine == "arm64") return kArchitectureArm64;
    if (machine.size() == 4 && machine[0] == 'i' && machine.compare(2, 2, "86") == 0) {
      return kArchitectureX86;
    }
    return kArchitectureUnknown;
  }

  PathExistsResult PathExists(const std::filesystem::path& path) override {
    struct stat info;
    if (stat(path.c_str(), &info) == 0) return {PathState::kExists, 0};
    if (errno == ENOENT || errno == ENOTDIR) return {PathState::kNotFound, 0};
    return {PathState::kError, LastError()};
  }

  void Sleep(std::chrono::milliseconds duration) override { std::this_thread::sleep_for(duration); }

 private:
  template <typename T>
  UniqueOsHandle Own(T object) {
    return UniqueOsHandle(table_.Add(std::move(object)), {this});
  }

  // The pipe end's object is held for the whole read, so a close from
  // another thread cannot take the descriptor away under it.
  ReadResult ReadFromPipe(NativeHandle pipe, std::span<char> buffer, PosixReadCancellation* cancel,
                          std::optional<Clock::time_point> deadline) {
    auto fd_object = table_.Find<FdObject>(pipe);
    if (!fd_object) {
      ReadResult result;
      result.error = EBADF;
      return result;
    }
    return ReadPipe(fd_object->fd.get(), buffer, cancel, deadline);
  }

  HandleTable table_;
};

}  // namespace

VpnOs& PlatformOs() {
  static VpnOs* const os = new PosixVpnOs();
  return *os;
}

}  // namespace vpn_os
