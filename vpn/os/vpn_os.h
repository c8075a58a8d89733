// VpnOs: every operating-system call the VPN manager makes, behind one narrow
// interface, so that the manager's steps, records and replies are the same on
// Windows (vpn_os_win.cpp), on Linux (vpn_os_posix.cpp) and against the
// scripted fake of the tests.
//
// Results carry the platform's error code captured at the failing call.
// Paths are std::filesystem::path (made from UTF-8 text, see path_text.h);
// on Windows every call with a path or command line uses the wide interface.
//
// Threads: an implementation may be called from any thread. The manager calls
// Read and GetExitCode from its output monitor thread while the platform
// thread uses other handles; a handle must not be closed while another thread
// is inside a call with it. ReadCancellation::Cancel may be called from any
// thread at any time.
#ifndef VELQA_VPN_OS_VPN_OS_H_
#define VELQA_VPN_OS_VPN_OS_H_

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "vpn/os/os_owners.h"

namespace vpn_os {

// GetExitCode answers this while the process runs (Windows' STILL_ACTIVE).
inline constexpr std::uint32_t kStillActive = 259;

// Processor architecture codes as Windows' GetNativeSystemInfo reports them;
// the POSIX implementation maps uname's machine onto the same codes.
inline constexpr std::uint16_t kArchitectureX86 = 0;
inline constexpr std::uint16_t kArchitectureAmd64 = 9;
inline constexpr std::uint16_t kArchitectureArm64 = 12;
inline constexpr std::uint16_t kArchitectureUnknown = 0xFFFF;

// The architecture this program itself was built for, which decides what it
// can load: an x64 host on an ARM64 machine loads x64 libraries only.
#if defined(_M_ARM64) || defined(__aarch64__)
inline constexpr std::uint16_t kBuildArchitecture = kArchitectureArm64;
#elif defined(_M_X64) || defined(__x86_64__)
inline constexpr std::uint16_t kBuildArchitecture = kArchitectureAmd64;
#elif defined(_M_IX86) || defined(__i386__)
inline constexpr std::uint16_t kBuildArchitecture = kArchitectureX86;
#else
inline constexpr std::uint16_t kBuildArchitecture = kArchitectureUnknown;
#endif

// Success, or failure with the error code of the failing call.
struct Status {
  bool ok = false;
  OsErrorCode error = 0;  // meaningful only when !ok

  static Status Success() { return {true, 0}; }
  static Status Failure(OsErrorCode code) { return {false, code}; }
  explicit operator bool() const { return ok; }
};

struct HandleResult {
  UniqueOsHandle handle;  // empty on failure
  OsErrorCode error = 0;  // meaningful only when the handle is empty
  bool ok() const { return handle.is_valid(); }
};

// A pipe for the child's output (Windows: a named pipe of its own, read
// overlapped). The read end stays private to the host and is never
// inheritable; the write end is inheritable so that a child started with it
// as its output can write to it.
struct PipeResult {
  UniqueOsHandle read_end;
  UniqueOsHandle write_end;
  OsErrorCode error = 0;
  bool ok() const { return read_end.is_valid() && write_end.is_valid(); }
};

struct ReadResult {
  bool ok = false;         // false: the read failed (pipe broken, cancelled, ...)
  bool cancelled = false;  // the failure came from a ReadCancellation
  bool timed_out = false;  // ReadWithTimeout: nothing came, yet a writer remains
  std::size_t bytes = 0;   // bytes delivered when ok; 0 means the writers are gone
  OsErrorCode error = 0;
};

// A process the host holds: its handles and ids (PROCESS_INFORMATION). On
// Linux the thread handle is a placeholder and the thread id is the pid.
struct ProcessInfo {
  UniqueOsHandle process;
  UniqueOsHandle thread;
  std::uint32_t process_id = 0;
  std::uint32_t thread_id = 0;

  // Closes both handles; the ids stay as they were.
  void CloseHandles() {
    process.Reset();
    thread.Reset();
  }
  // Closes both handles and zeroes the ids.
  void Clear() {
    CloseHandles();
    process_id = 0;
    thread_id = 0;
  }
};

struct ProcessResult {
  ProcessInfo info;       // empty on failure
  OsErrorCode error = 0;  // meaningful only on failure
  bool ok() const { return info.process.is_valid(); }
};

// How to start a child. The Windows implementation passes `command_line`
// verbatim (it is the complete command line, quotes included) and
// `executable` as the application name; the POSIX implementation executes
// `executable` with `argv`. Both forms name the same call.
struct ProcessLaunch {
  std::filesystem::path executable;
  std::string command_line;       // UTF-8
  std::vector<std::string> argv;  // UTF-8, argv[0] included
  // Becomes the child's standard output and standard error; the child gets
  // no standard input. Must be an inheritable handle from CreateOutputPipe.
  NativeHandle output = 0;
  // Primary token the child runs with (from DuplicatePrimaryToken).
  NativeHandle token = 0;
  bool no_console_window = true;  // CREATE_NO_WINDOW, SW_HIDE
  bool high_priority = true;      // HIGH_PRIORITY_CLASS
  // Created with its primary thread suspended (CREATE_SUSPENDED), so that it
  // can be put into a job before it runs any code; ResumeProcess lets it go.
  // On Linux the child is in its own process group before it executes, which
  // is what the job holds there, so it starts at once.
  bool start_suspended = false;
};

struct ExitCodeResult {
  bool ok = false;
  std::uint32_t exit_code = 0;  // kStillActive while the process runs
  OsErrorCode error = 0;
};

enum class WaitOutcome { kExited, kTimedOut, kFailed };

struct WaitResult {
  WaitOutcome outcome = WaitOutcome::kFailed;
  OsErrorCode error = 0;  // meaningful for kFailed
};

struct ProcessEntry {
  std::uint32_t process_id = 0;
  // The executable's file name without directory, UTF-8 ("sing-box.exe").
  std::string image_name;
};

struct ImageNameResult {
  bool ok = false;
  std::string image_name;  // file name without directory, UTF-8
  OsErrorCode error = 0;
};

struct SnapshotResult {
  bool ok = false;
  std::vector<ProcessEntry> processes;
  OsErrorCode error = 0;
};

// Identifier of a privilege on the local system (a LUID on Windows).
struct PrivilegeId {
  std::uint32_t low = 0;
  std::int32_t high = 0;
};

struct PrivilegeResult {
  bool ok = false;
  PrivilegeId id;
  OsErrorCode error = 0;
};

struct ModuleResult {
  UniqueOsModule module;  // empty on failure
  OsErrorCode error = 0;
  bool ok() const { return module.is_valid(); }
};

struct PathResult {
  bool ok = false;
  std::filesystem::path path;
  OsErrorCode error = 0;
};

// The existence test: any entry type counts; a query that fails with one of
// the platform's not-found errors means absent; any other failure is kError.
enum class PathState { kExists, kNotFound, kError };

struct PathExistsResult {
  PathState state = PathState::kError;
  OsErrorCode error = 0;  // meaningful for kError
};

// Lets another thread end the pending, or the next, Read that is given this
// object. Once cancelled it stays cancelled: every later Read with it fails
// at once with `cancelled` set. The read waits on the pipe and on an event
// that Cancel signals (Windows: an overlapped read, ended by the reading
// thread itself with CancelIoEx on that read's own OVERLAPPED; Linux: poll).
//
// Threads: one reading thread passes it to Read; Cancel from any thread, any
// number of times. The reading thread must not outlive this object.
class ReadCancellation {
 public:
  virtual ~ReadCancellation() = default;
  // True when the request reaches the pending read, or the next one. False
  // when it cannot (an implementation that has no way to wake the reader);
  // the caller must then break the pipe some other way, by ending every
  // process that holds its write end.
  virtual bool Cancel() = 0;
  virtual bool IsCancelled() const = 0;
};

class VpnOs {
 public:
  virtual ~VpnOs() = default;

  // Releases a handle or library handed out by this object. Called only by
  // UniqueOsHandle and UniqueOsModule.
  virtual void CloseHandle(NativeHandle handle) = 0;
  virtual void ReleaseModule(NativeModule module) = 0;

  // --- Job that holds the child (Linux: the child's process group, watched
  // by a guard process so that it also ends when the host dies) ---
  virtual HandleResult CreateJob() = 0;
  // Closing the last handle of the job ends every process in it.
  virtual Status ConfigureKillOnClose(NativeHandle job) = 0;
  virtual Status AssignProcessToJob(NativeHandle job, NativeHandle process) = 0;
  // Ends every process in the job now (Windows: TerminateJobObject; Linux:
  // SIGKILL to each of its process groups); the job stays open.
  virtual Status TerminateJob(NativeHandle job, std::uint32_t exit_code) = 0;

  // --- Output pipe ---
  virtual PipeResult CreateOutputPipe() = 0;
  // Reads up to buffer.size() bytes, blocking until data arrives, every
  // writer is gone, or `cancellation` (may be null) is cancelled.
  virtual ReadResult Read(NativeHandle pipe, std::span<char> buffer,
                          ReadCancellation* cancellation) = 0;
  virtual std::unique_ptr<ReadCancellation> CreateReadCancellation() = 0;
  // Like Read, but waits at most `timeout` for data: then fails with
  // `timed_out` set. For a pipe whose writer may be held by a process nobody
  // controls, and for a reader that must also look at something else now
  // and then. `cancellation` may be null.
  virtual ReadResult ReadWithTimeout(NativeHandle pipe, std::span<char> buffer,
                                     ReadCancellation* cancellation,
                                     std::chrono::milliseconds timeout) = 0;

  // --- Access token (Linux has no equivalent: these succeed) ---
  // The own process token with TOKEN_ASSIGN_PRIMARY | TOKEN_DUPLICATE |
  // TOKEN_QUERY | TOKEN_ADJUST_DEFAULT.
  virtual HandleResult OpenOwnProcessToken() = 0;
  // MAXIMUM_ALLOWED, SecurityImpersonation, TokenPrimary.
  virtual HandleResult DuplicatePrimaryToken(NativeHandle token) = 0;
  virtual PrivilegeResult LookupPrivilege(std::string_view name) = 0;
  // Enables the privilege on the token. A call that succeeds without
  // assigning it (ERROR_NOT_ALL_ASSIGNED) counts as success.
  virtual Status EnablePrivilege(NativeHandle token, PrivilegeId privilege) = 0;

  // --- Processes ---
  // The child inherits nothing but launch.output (Windows: an explicit
  // handle list; Linux: every other descriptor is closed before exec).
  virtual ProcessResult StartProcess(const ProcessLaunch& launch) = 0;
  // Lets a child started with start_suspended run (its thread handle).
  virtual Status ResumeProcess(NativeHandle thread) = 0;
  virtual ExitCodeResult GetExitCode(NativeHandle process) = 0;
  virtual Status Terminate(NativeHandle process, std::uint32_t exit_code) = 0;
  virtual WaitResult WaitForExit(NativeHandle process, std::chrono::milliseconds timeout) = 0;
  // A handle that may terminate the process with that id and ask for its
  // image name (PROCESS_TERMINATE | PROCESS_QUERY_LIMITED_INFORMATION). It
  // stays bound to the process it was opened on, even if the id is reused.
  virtual HandleResult OpenProcessForTermination(std::uint32_t process_id) = 0;
  // The image name of the process that `process` is bound to, not of
  // whatever has its id now (Linux: fails once that process is reaped).
  virtual ImageNameResult ProcessImageName(NativeHandle process) = 0;
  virtual SnapshotResult SnapshotProcesses() = 0;

  // --- Libraries ---
  virtual ModuleResult LoadModule(const std::filesystem::path& path) = 0;

  // --- Files and the machine ---
  // The running executable's full path as the platform reports it into a
  // buffer of 260 characters (a longer path comes back cut).
  virtual PathResult ExecutablePath() = 0;
  virtual std::uint16_t NativeArchitecture() = 0;
  // The architecture of the running host process (not of the machine).
  virtual std::uint16_t ProcessArchitecture() { return kBuildArchitecture; }
  virtual PathExistsResult PathExists(const std::filesystem::path& path) = 0;
  // Blocks the calling thread (the fake records the request instead).
  virtual void Sleep(std::chrono::milliseconds duration) = 0;

  // --- Threads ---
  // Starts a thread running `body`. Throws std::system_error when no thread
  // can be created, as std::thread does; a fake may throw to test that path.
  virtual std::unique_ptr<std::thread> StartThread(std::function<void()> body) {
    return std::make_unique<std::thread>(std::move(body));
  }
};

// The platform's real implementation, one per process, never destroyed.
VpnOs& PlatformOs();

}  // namespace vpn_os

#endif  // VELQA_VPN_OS_VPN_OS_H_
