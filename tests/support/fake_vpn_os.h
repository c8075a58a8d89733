// FakeVpnOs: a scripted stand-in for the VPN subsystem's OS interface. Every
// call is journaled; any operation can be made to fail with a chosen error
// code (once or always); files, the executable path, the architecture, the
// libraries, the started children and the process list are set by the test.
// Handles are tracked, so a test can check that a failure path closed
// everything it had opened.
//
// Children: StartProcess takes the next script from QueueChild (by default a
// silent child that runs until ended). A running child holds the write end
// of its output pipe; its scripted output is in the pipe at start. Read
// blocks like a real pipe: until data arrives, every writer is gone (the host
// closed its write end and the child ended), or the read is cancelled.
//
// Threads: every member may be called from any thread.
#ifndef VELQA_TESTS_SUPPORT_FAKE_VPN_OS_H_
#define VELQA_TESTS_SUPPORT_FAKE_VPN_OS_H_

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "vpn/os/vpn_os.h"

namespace vpn_test {

// The operations that can be scripted to fail.
enum class Op {
  kCreateJob,
  kConfigureKillOnClose,
  kAssignProcessToJob,
  kTerminateJob,
  kCreateOutputPipe,
  kRead,
  kOpenOwnProcessToken,
  kDuplicatePrimaryToken,
  kLookupPrivilege,
  kEnablePrivilege,
  kStartProcess,
  kResumeProcess,
  kGetExitCode,
  kTerminate,
  kWaitForExit,
  kOpenProcessForTermination,
  kProcessImageName,
  kSnapshotProcesses,
  kLoadModule,
  kExecutablePath,
  kStartThread,  // throws std::system_error with the code
};

// Windows' codes, used by the fake's own failures so that tests read alike.
inline constexpr vpn_os::OsErrorCode kErrorFileNotFound = 2;
inline constexpr vpn_os::OsErrorCode kErrorAccessDenied = 5;
inline constexpr vpn_os::OsErrorCode kErrorInvalidParameter = 87;
inline constexpr vpn_os::OsErrorCode kErrorBrokenPipe = 109;
inline constexpr vpn_os::OsErrorCode kErrorModNotFound = 126;
inline constexpr vpn_os::OsErrorCode kErrorTimeout = 258;
inline constexpr vpn_os::OsErrorCode kErrorOperationAborted = 995;

struct ChildScript {
  std::string output;              // in the pipe when the child starts
  std::optional<std::uint32_t> exit_code;  // set: the child has ended by itself at start
};

// What one handle stands for.
enum class HandleKind { kJob, kPipeRead, kPipeWrite, kToken, kProcess, kThread, kForeignProcess };

class FakeVpnOs : public vpn_os::VpnOs {
 public:
  FakeVpnOs();
  ~FakeVpnOs() override;

  // --- Scripting faults ---
  void FailNext(Op op, vpn_os::OsErrorCode code);
  void FailAlways(Op op, vpn_os::OsErrorCode code);
  void ClearFailures();

  // --- Files and the machine ---
  void SetExecutablePath(const std::filesystem::path& path);
  // The machine's architecture, and the host process's own (default x64).
  void SetArchitecture(std::uint16_t code);
  void SetProcessArchitecture(std::uint16_t code);
  // Entries that exist (file or directory alike); every other path is absent.
  void AddPath(const std::filesystem::path& path);
  void RemovePath(const std::filesystem::path& path);
  // The existence test of `path` fails with `code` (not a not-found error).
  void SetPathError(const std::filesystem::path& path, vpn_os::OsErrorCode code);
  // LoadModule of an existing `path` fails with `code`.
  void SetLoadError(const std::filesystem::path& path, vpn_os::OsErrorCode code);

  // --- Processes ---
  void QueueChild(ChildScript script);
  // A process not started by the host, listed by the snapshot.
  void AddForeignProcess(std::uint32_t process_id, const std::string& image_name);
  // Makes OpenProcessForTermination or Terminate fail for that process id.
  void DenyOpen(std::uint32_t process_id);
  void DenyTerminate(std::uint32_t process_id);
  // The child ends by itself with `exit_code` (its write end goes with it).
  void EndChild(std::uint32_t process_id, std::uint32_t exit_code);
  // The child writes more output.
  void WriteChildOutput(std::uint32_t process_id, const std::string& text);
  // Read cancellations created from now on do not reach a pending read:
  // Cancel answers false, and the read ends only when the pipe breaks.
  void SetCancelUnreachable(bool unreachable);
  bool ProcessRuns(std::uint32_t process_id) const;
  std::optional<std::uint32_t> ProcessExitCode(std::uint32_t process_id) const;
  // The launch of the most recent StartProcess call.
  std::optional<vpn_os::ProcessLaunch> LastLaunch() const;

  // --- Observation ---
  // One line per call, in order: "CreateJob -> job#1", "Close job#1", ...
  std::vector<std::string> Journal() const;
  // Only the names of the calls, in order ("CreateJob", "Close", ...).
  std::vector<std::string> CallNames() const;
  void ClearJournal();
  // Kinds of the handles open now.
  std::multiset<HandleKind> OpenHandles() const;
  std::size_t OpenHandleCount() const;
  bool IsOpen(vpn_os::NativeHandle handle) const;
  // Loads that have not been released, and loads made so far.
  int LoadedModules() const;
  int LoadCalls() const;
  // Durations passed to Sleep. The fake sleeps for real at most
  // `real_sleep_cap` (default 1 ms) so that polling loops stay cheap.
  std::vector<std::chrono::milliseconds> Sleeps() const;
  void SetRealSleepCap(std::chrono::milliseconds cap);

  // --- VpnOs ---
  void CloseHandle(vpn_os::NativeHandle handle) override;
  void ReleaseModule(vpn_os::NativeModule module) override;
  vpn_os::HandleResult CreateJob() override;
  vpn_os::Status ConfigureKillOnClose(vpn_os::NativeHandle job) override;
  vpn_os::Status AssignProcessToJob(vpn_os::NativeHandle job,
                                    vpn_os::NativeHandle process) override;
  vpn_os::Status TerminateJob(vpn_os::NativeHandle job, std::uint32_t exit_code) override;
  vpn_os::PipeResult CreateOutputPipe() override;
  vpn_os::ReadResult Read(vpn_os::NativeHandle pipe, std::span<char> buffer,
                          vpn_os::ReadCancellation* cancellation) override;
  std::unique_ptr<vpn_os::ReadCancellation> CreateReadCancellation() override;
  vpn_os::ReadResult ReadWithTimeout(vpn_os::NativeHandle pipe, std::span<char> buffer,
                                     vpn_os::ReadCancellation* cancellation,
                                     std::chrono::milliseconds timeout) override;
  vpn_os::HandleResult OpenOwnProcessToken() override;
  vpn_os::HandleResult DuplicatePrimaryToken(vpn_os::NativeHandle token) override;
  vpn_os::PrivilegeResult LookupPrivilege(std::string_view name) override;
  vpn_os::Status EnablePrivilege(vpn_os::NativeHandle token,
                                 vpn_os::PrivilegeId privilege) override;
  vpn_os::ProcessResult StartProcess(const vpn_os::ProcessLaunch& launch) override;
  vpn_os::Status ResumeProcess(vpn_os::NativeHandle thread) override;
  vpn_os::ExitCodeResult GetExitCode(vpn_os::NativeHandle process) override;
  vpn_os::Status Terminate(vpn_os::NativeHandle process, std::uint32_t exit_code) override;
  vpn_os::WaitResult WaitForExit(vpn_os::NativeHandle process,
                                 std::chrono::milliseconds timeout) override;
  vpn_os::HandleResult OpenProcessForTermination(std::uint32_t process_id) override;
  vpn_os::ImageNameResult ProcessImageName(vpn_os::NativeHandle process) override;
  vpn_os::SnapshotResult SnapshotProcesses() override;
  vpn_os::ModuleResult LoadModule(const std::filesystem::path& path) override;
  vpn_os::PathResult ExecutablePath() override;
  std::uint16_t NativeArchitecture() override;
  std::uint16_t ProcessArchitecture() override;
  vpn_os::PathExistsResult PathExists(const std::filesystem::path& path) override;
  void Sleep(std::chrono::milliseconds duration) override;
  std::unique_ptr<std::thread> StartThread(std::function<void()> body) override;

 private:
  struct Pipe {
    std::string buffer;
    bool host_write_end_open = true;
    int child_writers = 0;
  };
  struct Process {
    std::uint32_t process_id = 0;
    std::string image_name;
    bool own = false;
    bool running = true;
    std::uint32_t exit_code = 0;
    std::shared_ptr<Pipe> output;  // own children only
  };
  struct Handle {
    HandleKind kind = HandleKind::kJob;
    std::string label;                 // "job#1"
    std::shared_ptr<Pipe> pipe;        // pipe ends
    std::uint32_t process_id = 0;      // processes
    // Jobs: with kill-on-close, closing the job ends the processes in it.
    bool kill_on_close = false;
    std::vector<std::uint32_t> members;
  };

  // Read and ReadWithTimeout: blocks like a pipe, without a time limit when
  // `timeout` is empty.
  vpn_os::ReadResult ReadPipe(vpn_os::NativeHandle pipe, std::span<char> buffer,
                              vpn_os::ReadCancellation* cancellation,
                              std::optional<std::chrono::milliseconds> timeout);
  // Needs mutex_. The scripted failure for `op`, if one applies now.
  std::optional<vpn_os::OsErrorCode> TakeFailure(Op op);
  vpn_os::UniqueOsHandle AddHandle(HandleKind kind, std::shared_ptr<Pipe> pipe = nullptr,
                                   std::uint32_t process_id = 0);
  void Record(std::string line);
  const Handle* FindHandle(vpn_os::NativeHandle handle) const;
  Process* FindProcess(std::uint32_t process_id);
  const Process* FindProcess(std::uint32_t process_id) const;
  void EndProcessLocked(Process& process, std::uint32_t exit_code);
  static std::string PathKey(const std::filesystem::path& path);

  mutable std::mutex mutex_;
  std::condition_variable pipe_changed_;
  std::map<Op, std::deque<vpn_os::OsErrorCode>> next_failures_;
  std::map<Op, vpn_os::OsErrorCode> always_failures_;

  std::optional<std::filesystem::path> executable_path_;
  std::uint16_t architecture_ = vpn_os::kArchitectureAmd64;
  std::uint16_t process_architecture_ = vpn_os::kArchitectureAmd64;
  std::set<std::string> paths_;
  std::map<std::string, vpn_os::OsErrorCode> path_errors_;
  std::map<std::string, vpn_os::OsErrorCode> load_errors_;

  std::deque<ChildScript> child_scripts_;
  std::map<std::uint32_t, Process> processes_;
  std::set<std::uint32_t> deny_open_;
  std::set<std::uint32_t> deny_terminate_;
  std::uint32_t next_process_id_ = 4000;
  std::optional<vpn_os::ProcessLaunch> last_launch_;

  std::map<vpn_os::NativeHandle, Handle> handles_;
  vpn_os::NativeHandle next_handle_ = 0x10;
  std::map<HandleKind, int> kind_counters_;
  std::map<vpn_os::NativeModule, std::string> modules_;
  vpn_os::NativeModule next_module_ = 0x7000;
  int load_calls_ = 0;

  std::vector<std::string> journal_;
  std::vector<std::chrono::milliseconds> sleeps_;
  std::chrono::milliseconds real_sleep_cap_{1};
  bool cancel_unreachable_ = false;
};

}  // namespace vpn_test

#endif  // VELQA_TESTS_SUPPORT_FAKE_VPN_OS_H_
