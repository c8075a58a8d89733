// The Linux implementation of VpnOs. Handles are keys into a table of the
// objects they stand for: pipe ends (descriptors), processes (pid plus a
// pidfd, with the exit status kept once it has ended, so it can be asked for
// again as on Windows), jobs (a process group watched by a JobGuard) and
// placeholders for what Linux does not have (tokens, thread handles).
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/utsname.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <unordered_map>
#include <variant>
#include <vector>

#include "base/unique_fd_posix.h"
#include "vpn/os/close_descriptors_posix.h"
#include "vpn/os/job_guard_posix.h"
#include "vpn/os/process_list_posix.h"
#include "vpn/os/vpn_os.h"

namespace vpn_os {

using velqa::base::UniqueFd;
namespace {

using Clock = std::chrono::steady_clock;

OsErrorCode LastError() { return static_cast<OsErrorCode>(errno); }

int OpenPidFd(pid_t pid) {
#ifdef SYS_pidfd_open
  return static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
#else
  (void)pid;
  errno = ENOSYS;
  return -1;
#endif
}

struct FdObject {
  UniqueFd fd;
};

// Our children that no handle or job refers to any more but that had not
// ended then: reaped later, so they do not stay zombies.
struct Orphans {
  std::mutex mutex;
  std::vector<pid_t> pids;
};

Orphans& OrphanList() {
  static Orphans* const orphans = new Orphans();
  return *orphans;
}

void ReapOrphans() {
  Orphans& orphans = OrphanList();
  std::lock_guard<std::mutex> lock(orphans.mutex);
  std::erase_if(orphans.pids, [](pid_t pid) {
    int status = 0;
    return waitpid(pid, &status, WNOHANG) != 0;  // reaped, or not ours any more
  });
}

// A process a handle or a job refers to. Our own child is never reaped while
// anything refers to it: as long as it is not reaped, its id cannot pass to
// another process, so its process group id (the job) cannot name a stranger's
// group. Its end is seen with WNOWAIT; it is reaped when the last reference
// goes.
struct ProcessObject {
  std::mutex mutex;
  pid_t pid = 0;
  UniqueFd pidfd;     // -1 on kernels without pidfd_open
  bool own = false;   // our child: we reap it and know its exit status
  bool ended = false;
  std::uint32_t exit_code = 0;
  std::optional<std::uint32_t> terminate_code;  // asked for by Terminate

  ProcessObject() = default;
  ProcessObject(const ProcessObject&) = delete;
  ProcessObject& operator=(const ProcessObject&) = delete;
  ~ProcessObject() {
    if (!own) return;
    int status = 0;
    if (waitpid(pid, &status, WNOHANG) == 0) {
      Orphans& orphans = OrphanList();
      std::lock_guard<std::mutex> lock(orphans.mutex);
      orphans.pids.push_back(pid);
    }
  }
};

struct JobObject {
  std::mutex mutex;
  JobGuard guard;
  // The leaders of the job's process groups, kept unreaped until the job
  // has ended them.
  std::vector<std::shared_ptr<ProcessObject>> leaders;
};

struct Placeholder {};

using Object = std::variant<std::shared_ptr<FdObject>, std::shared_ptr<ProcessObject>,
                            std::shared_ptr<JobObject>, Placeholder>;

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

// Whether the process the object was opened on has not been reaped (it runs
// or is a zombie), so its id still names it. Without a pidfd only the id can
// be asked.
bool PidFdProcessUnreaped(const ProcessObject& process) {
#ifdef SYS_pidfd_send_signal
  if (process.pidfd.is_valid()) {
    return syscall(SYS_pidfd_send_signal, process.pidfd.get(), 0, nullptr, 0u) == 0;
  }
#endif
  return kill(process.pid, 0) == 0 || errno == EPERM;
}

// Runs in the forked child until exec: async-signal-safe calls only.
[[noreturn]] void ExecChild(const char* path, char* const* argv, int output_fd, int error_fd,
                            bool high_priority) {
  // Its own process group: the job ends the child and everything it starts.
  setpgid(0, 0);
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
  for (int signal_number : {SIGPIPE, SIGINT, SIGQUIT, SIGHUP, SIGTERM, SIGCHLD}) {
    signal(signal_number, SIG_DFL);
  }
  const int null_fd = open("/dev/null", O_RDONLY);  // no standard input
  if (null_fd >= 0) dup2(null_fd, STDIN_FILENO);
  dup2(output_fd, STDOUT_FILENO);
  dup2(output_fd, STDERR_FILENO);
  // The child holds its three standard streams and nothing else of the
  // host's: no log file, no other pipe. The error pipe closes at exec.
  CloseDescriptorsFrom(STDERR_FILENO + 1, error_fd);
  // Raising the priority needs privilege; without it the child runs at the
  // normal priority, which is all an unprivileged host may give.
  if (high_priority) setpriority(PRIO_PROCESS, 0, -10);
  execv(path, argv);
  const int error = errno;
  while (write(error_fd, &error, sizeof error) < 0 && errno == EINTR) {
  }
  _exit(127);
}

class PosixReadCancellation final : public ReadCancellation {
 public:
  PosixReadCancellation() : event_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

  // The reader waits in poll on the event (or looks at the flag every 50 ms
  // without one), so the request always reaches it.
  bool Cancel() override {
    cancelled_.store(true);
    if (event_.is_valid()) {
      const std::uint64_t one = 1;
      while (write(event_.get(), &one, sizeof one) < 0 && errno == EINTR) {
      }
    }
    return true;
  }
  bool IsCancelled() const override { return cancelled_.load(); }
  // -1 without an event descriptor: the reader then polls the flag.
  int event_fd() const { return event_.get(); }

 private:
  UniqueFd event_;
  std::atomic<bool> cancelled_{false};
};

class PosixVpnOs final : public VpnOs {
 public:
  void CloseHandle(NativeHandle handle) override {
    Object object;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      auto found = objects_.find(handle);
      if (found == objects_.end()) return;
      object = std::move(found->second);
      objects_.erase(found);
    }
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

  void ReleaseModule(NativeModule module) override {
    dlclose(reinterpret_cast<void*>(module));
  }

  HandleResult CreateJob() override {
    auto job = std::make_shared<JobObject>();
    int error = 0;
    if (!JobGuard::Start(job->guard, error)) return {{}, static_cast<OsErrorCode>(error)};
    return {Add(std::move(job)), 0};
  }

  Status ConfigureKillOnClose(NativeHandle job_handle) override {
    auto job = Find<JobObject>(job_handle);
    if (!job) return Status::Failure(EBADF);
    std::lock_guard<std::mutex> lock(job->mutex);
    job->guard.EnableKillOnClose();
    return Status::Success();
  }

  Status AssignProcessToJob(NativeHandle job_handle, NativeHandle process_handle) override {
    auto job = Find<JobObject>(job_handle);
    auto process = Find<ProcessObject>(process_handle);
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
    result.read_end = Add(std::move(read_end));
    result.write_end = Add(std::move(write_end));
    return result;
  }

  ReadResult Read(NativeHandle pipe, std::span<char> buffer,
                  ReadCancellation* cancellation) override {
    return ReadPipe(pipe, buffer, static_cast<PosixReadCancellation*>(cancellation), {});
  }

  std::unique_ptr<ReadCancellation> CreateReadCancellation() override {
    return std::make_unique<PosixReadCancellation>();
  }

  ReadResult ReadWithTimeout(NativeHandle pipe, std::span<char> buffer,
                             std::chrono::milliseconds timeout) override {
    return ReadPipe(pipe, buffer, nullptr, Clock::now() + timeout);
  }

  // Linux has no access tokens or privileges to hand a child: the child
  // simply runs with the host's credentials, so these steps succeed.
  HandleResult OpenOwnProcessToken() override { return {Add(Placeholder{}), 0}; }
  HandleResult DuplicatePrimaryToken(NativeHandle token) override {
    if (!Exists(token)) return {{}, EBADF};
    return {Add(Placeholder{}), 0};
  }
  PrivilegeResult LookupPrivilege(std::string_view /*name*/) override { return {true, {}, 0}; }
  Status EnablePrivilege(NativeHandle token, PrivilegeId /*privilege*/) override {
    return Exists(token) ? Status::Success() : Status::Failure(EBADF);
  }

  ProcessResult StartProcess(const ProcessLaunch& launch) override {
    ReapOrphans();
    ProcessResult result;
    auto output = Find<FdObject>(launch.output);
    if (!output) {
      result.error = EBADF;
      return result;
    }
    // Everything the child needs is prepared before the fork.
    const std::string path = launch.executable.string();
    std::vector<std::string> arguments = launch.argv;
    if (arguments.empty()) arguments.push_back(path);
    std::vector<char*> argv;
    for (std::string& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);

    int error_pipe[2];
    if (pipe2(error_pipe, O_CLOEXEC) != 0) {
      result.error = LastError();
      return result;
    }
    UniqueFd error_read(error_pipe[0]);
    UniqueFd error_write(error_pipe[1]);

    const pid_t pid = fork();
    if (pid < 0) {
      result.error = LastError();
      return result;
    }
    if (pid == 0) {
      ExecChild(path.c_str(), argv.data(), output->fd.get(), error_write.get(),
                launch.high_priority);
    }
    // Also set here, so that the group exists whichever of the two runs
    // first (the child may already have executed: then this fails harmlessly).
    setpgid(pid, pid);
    error_write.Reset();
    // The error pipe closes at a successful exec; otherwise it carries errno.
    int exec_error = 0;
    ssize_t got;
    do {
      got = ::read(error_read.get(), &exec_error, sizeof exec_error);
    } while (got < 0 && errno == EINTR);
    if (got == static_cast<ssize_t>(sizeof exec_error)) {
      int status = 0;
      while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
      }
      result.error = static_cast<OsErrorCode>(exec_error);
      return result;
    }

    auto process = std::make_shared<ProcessObject>();
    process->pid = pid;
    process->pidfd.Reset(OpenPidFd(pid));
    process->own = true;
    result.info.process = Add(std::move(process));
    result.info.thread = Add(Placeholder{});
    result.info.process_id = static_cast<std::uint32_t>(pid);
    result.info.thread_id = static_cast<std::uint32_t>(pid);
    return result;
  }

  // The child is in its own process group, the job's unit here, from before
  // it executes; it needs no suspension to be inside the job from its start.
  Status ResumeProcess(NativeHandle thread) override {
    return Exists(thread) ? Status::Success() : Status::Failure(EBADF);
  }

  ExitCodeResult GetExitCode(NativeHandle process_handle) override {
    ExitCodeResult result;
    auto process = Find<ProcessObject>(process_handle);
    if (!process) {
      result.error = EBADF;
      return result;
    }
    std::lock_guard<std::mutex> lock(process->mutex);
    if (!process->own) {
      if (!ForeignProcessRuns(*process)) {
        result.error = ECHILD;  // ended, and its status is not ours to read
        return result;
      }
      result.ok = true;
      result.exit_code = kStillActive;
      return result;
    }
    if (!UpdateLocked(*process)) {
      result.error = LastError();
      return result;
    }
    result.ok = true;
    result.exit_code = process->ended ? process->exit_code : kStillActive;
    return result;
  }

  Status Terminate(NativeHandle process_handle, std::uint32_t exit_code) override {
    auto process = Find<ProcessObject>(process_handle);
    if (!process) return Status::Failure(EBADF);
    std::lock_guard<std::mutex> lock(process->mutex);
    UpdateLocked(*process);
    if (process->ended) return Status::Failure(ESRCH);
    int sent = -1;
#ifdef SYS_pidfd_send_signal
    if (process->pidfd.is_valid()) {
      sent = static_cast<int>(
          syscall(SYS_pidfd_send_signal, process->pidfd.get(), SIGKILL, nullptr, 0));
    }
#endif
    if (!process->pidfd.is_valid()) sent = kill(process->pid, SIGKILL);
    if (sent != 0) return Status::Failure(LastError());
    process->terminate_code = exit_code;
    return Status::Success();
  }

  WaitResult WaitForExit(NativeHandle process_handle, std::chrono::milliseconds timeout) override {
    auto process = Find<ProcessObject>(process_handle);
    if (!process) return {WaitOutcome::kFailed, EBADF};
    const Clock::time_point deadline = Clock::now() + timeout;
    for (;;) {
      {
        std::lock_guard<std::mutex> lock(process->mutex);
        if (process->own) {
          if (!UpdateLocked(*process)) return {WaitOutcome::kFailed, LastError()};
          if (process->ended) return {WaitOutcome::kExited, 0};
        } else if (!ForeignProcessRuns(*process)) {
          return {WaitOutcome::kExited, 0};
        }
      }
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
      if (left.count() <= 0) return {WaitOutcome::kTimedOut, 0};
      if (process->pidfd.is_valid()) {
        // Readable once the process has ended; then the loop notes it.
        pollfd entry{process->pidfd.get(), POLLIN, 0};
        if (poll(&entry, 1, static_cast<int>(left.count())) < 0 && errno != EINTR) {
          return {WaitOutcome::kFailed, LastError()};
        }
      } else {
        std::this_thread::sleep_for(std::min(left, std::chrono::milliseconds(2)));
      }
    }
  }

  HandleResult OpenProcessForTermination(std::uint32_t process_id) override {
    const pid_t pid = static_cast<pid_t>(process_id);
    if (pid <= 0) return {{}, EINVAL};
    // Signalling 0 asks whether it exists and whether we may signal it.
    if (kill(pid, 0) != 0) return {{}, LastError()};
    auto process = std::make_shared<ProcessObject>();
    process->pid = pid;
    process->pidfd.Reset(OpenPidFd(pid));  // pins the process against pid reuse
    return {Add(std::move(process)), 0};
  }

  ImageNameResult ProcessImageName(NativeHandle process_handle) override {
    auto process = Find<ProcessObject>(process_handle);
    if (!process) return {false, {}, EBADF};
    std::lock_guard<std::mutex> lock(process->mutex);
    std::string name = ProcessImageNameOf(process->pid);
    // The name was read by id; it is that of the pidfd's process only if
    // that process has not been reaped meanwhile (then the id is still its).
    if (!PidFdProcessUnreaped(*process)) return {false, {}, ESRCH};
    if (name.empty()) return {false, {}, ESRCH};
    return {true, std::move(name), 0};
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

  void Sleep(std::chrono::milliseconds duration) override {
    std::this_thread::sleep_for(duration);
  }

 private:
  template <typename T>
  UniqueOsHandle Add(T object) {
    std::lock_guard<std::mutex> lock(mutex_);
    const NativeHandle handle = next_handle_++;
    objects_.emplace(handle, Object(std::move(object)));
    return UniqueOsHandle(handle, {this});
  }

  template <typename T>
  std::shared_ptr<T> Find(NativeHandle handle) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto found = objects_.find(handle);
    if (found == objects_.end()) return nullptr;
    auto* object = std::get_if<std::shared_ptr<T>>(&found->second);
    return object != nullptr ? *object : nullptr;
  }

  // Read and ReadWithTimeout. Waits in poll while a read could block: until
  // the pipe is readable or writerless (then the read does not block), the
  // cancellation's event fires, or the deadline (if any) passes.
  ReadResult ReadPipe(NativeHandle pipe, std::span<char> buffer, PosixReadCancellation* cancel,
                      std::optional<Clock::time_point> deadline) {
    ReadResult result;
    auto fd_object = Find<FdObject>(pipe);
    if (!fd_object) {
      result.error = EBADF;
      return result;
    }
    const int fd = fd_object->fd.get();
    for (;;) {
      if (cancel != nullptr || deadline) {
        if (cancel != nullptr && cancel->IsCancelled()) {
          result.cancelled = true;
          result.error = ECANCELED;
          return result;
        }
        const bool with_event = cancel != nullptr && cancel->event_fd() >= 0;
        pollfd entries[2] = {{fd, POLLIN, 0}, {with_event ? cancel->event_fd() : -1, POLLIN, 0}};
        // Without an event descriptor the cancelled flag is looked at every 50 ms.
        int timeout_ms = cancel != nullptr && !with_event ? 50 : -1;
        if (deadline) {
          const auto left =
              std::chrono::duration_cast<std::chrono::milliseconds>(*deadline - Clock::now());
          const int left_ms = static_cast<int>(std::max<long long>(left.count(), 0));
          timeout_ms = timeout_ms < 0 ? left_ms : std::min(timeout_ms, left_ms);
        }
        const int ready = poll(entries, with_event ? 2 : 1, timeout_ms);
        if (ready < 0 && errno != EINTR) {
          result.error = LastError();
          return result;
        }
        if (ready <= 0 || entries[0].revents == 0) {
          if (deadline && Clock::now() >= *deadline) {
            result.timed_out = true;
            result.error = ETIMEDOUT;
            return result;
          }
          continue;  // woken, interrupted or the flag's turn: look again
        }
      }
      const ssize_t got = ::read(fd, buffer.data(), buffer.size());
      if (got < 0 && errno == EINTR) continue;
      if (got < 0) {
        result.error = LastError();
        return result;
      }
      result.ok = true;
      result.bytes = static_cast<std::size_t>(got);
      return result;
    }
  }

  bool Exists(NativeHandle handle) {
    std::lock_guard<std::mutex> lock(mutex_);
    return objects_.count(handle) != 0;
  }

  std::mutex mutex_;
  std::unordered_map<NativeHandle, Object> objects_;
  NativeHandle next_handle_ = 0x100;
};

}  // namespace

VpnOs& PlatformOs() {
  static VpnOs* const os = new PosixVpnOs();
  return *os;
}

}  // namespace vpn_os
