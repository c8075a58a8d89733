// VpnManager: the native end of the channel "com.velqa.assistant/vpn_process".
// It starts, watches, reports and stops the sing-box child and probes and
// loads the WinTun library for the Dart side. Every operating-system call goes
// through a vpn_os::VpnOs (the platform's by default; tests pass a fake).
//
// Diagnostics come in two kinds: a log record (NativeLogger Info with the tag
// "VpnManager": log file and standard output) and a console line (standard
// output only, newline, flush).
//
// Threads: construction, RegisterMethodChannelDirect, HandleMethodCall, every
// handler and operation below, and the destructor run on the platform thread
// (the window message loop, on which the messenger delivers calls). The only
// other thread is the output monitor (LogMonitorThread): it reads is_running_,
// the process handle, output_read_pipe_ and stop_log_monitor_, closes
// output_write_pipe_ once at its start, keeps the child's last output in
// output_tail_ and queues the child's "exited" event, which the platform
// thread sends in DeliverPendingEvents. RegisterEventChannel comes before
// the first start_vpn. Each handler answers its result exactly once before it
// returns.
#ifndef VELQA_VPN_VPN_MANAGER_H_
#define VELQA_VPN_VPN_MANAGER_H_

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "channel/binary_messenger.h"
#include "channel/encodable_value.h"
#include "channel/method_call.h"
#include "channel/method_channel.h"
#include "channel/method_result.h"
#include "vpn/os/os_owners.h"
#include "vpn/os/vpn_os.h"
#include "vpn/output_tail.h"
#include "vpn/sing_box_output.h"
#include "vpn/vpn_events.h"
#include "vpn/vpn_limits.h"

class VpnManager {
 public:
  using MethodCall = flutter::MethodCall<flutter::EncodableValue>;
  using MethodResult = flutter::MethodResult<flutter::EncodableValue>;
  using ResultPtr = std::unique_ptr<MethodResult>;

  static constexpr char kChannelName[] = "com.velqa.assistant/vpn_process";

  // Uses the platform's real operating-system interface.
  VpnManager();
  // `os` is borrowed and must outlive the manager.
  explicit VpnManager(vpn_os::VpnOs& os);
  // Stops the monitor, ends a running child (at most 3000 ms wait), closes its
  // handles and the job, then releases WinTun.
  ~VpnManager();

  VpnManager(const VpnManager&) = delete;
  VpnManager& operator=(const VpnManager&) = delete;

  // Creates the channel on `messenger` (borrowed; the channel keeps it) with
  // the standard method codec and routes every call to HandleMethodCall. A
  // second call replaces the channel and its handler.
  void RegisterMethodChannelDirect(flutter::BinaryMessenger* messenger);

  // Creates the event channel "com.velqa.assistant/vpn_events" on
  // `messenger` (see vpn_events.h); `wake` makes the platform thread call
  // DeliverPendingEvents soon, from any thread, without blocking.
  void RegisterEventChannel(flutter::BinaryMessenger* messenger, velqa::vpn::VpnEvents::Wake wake);
  // Sends the events the output monitor queued for the Dart side; never
  // throws (it runs from a window procedure).
  void DeliverPendingEvents();

  // Dispatches on the exact method name; other names get NotImplemented.
  void HandleMethodCall(const MethodCall& call, ResultPtr result);

  // --- Handlers (each answers exactly once) ---
  void HandleStartVpnMethod(const MethodCall& call, ResultPtr result);
  void HandleStopVpnMethod(ResultPtr result);
  void HandleGetVpnStatusMethod(ResultPtr result);
  void HandleCheckTunDriverMethod(ResultPtr result);
  void HandleInstallWinTunDriverMethod(ResultPtr result);

  // Replies Success(bool) with the answer of IsWinTunAvailable.
  void CheckTunDriver(ResultPtr result);
  // Ends the monitor, the own child, stray sing-box processes and the job;
  // replies Success() in every case.
  void StopVpn(ResultPtr result);
  // True when at least one process with exactly this image name was ended.
  bool TerminateProcessesByName(const std::string& image_name);

  // --- Discovery (paths are UTF-8; empty means not found) ---
  // "x86", "x64" or "arm64".
  std::string GetSystemArchitecture();
  // Never throws.
  std::string GetSingBoxExecutablePath();
  // Throws std::filesystem::filesystem_error when the existence test fails
  // for a reason other than not-found.
  std::string GetWinTunDllPath();

  // --- WinTun ---
  bool LoadWinTun();
  void UnloadWinTun();
  bool IsWinTunAvailable();
  // Replies Success(true) or Error "WINTUN_INSTALL_FAILED".
  void InstallWinTunDriver(ResultPtr result);

  // --- Output monitor ---
  // Thread body; runs on the monitor thread.
  void LogMonitorThread();
  // Platform thread: requests the stop, ends a pending read, joins the thread,
  // closes both pipe ends. Safe without a thread or pipe.
  void StopLogMonitor();

 private:
  friend class VpnManagerTestPeer;

  // --- Ending the own child (platform thread) ---
  // How one caller ends the child: what it says, and what else it closes.
  // Empty texts are not written.
  struct ChildTeardown {
    // When set, the child's exit code is asked first, and a child that has
    // already ended is only recorded with this text, not terminated.
    std::string already_ended;
    std::string before_terminate;  // record before the terminate
    std::string exited;            // record: the child ended within the wait
    std::string timed_out;         // record: it did not
    // A failed terminate is written as a console line and not waited on;
    // otherwise the wait is made anyway.
    bool report_terminate_failure = false;
    // Kill-on-close: closing the job also ends whatever the child left in it.
    bool close_job = true;
    // When set, a child that cannot be terminated is ended through its job,
    // and one that still runs after the wait is kept (handles, record, job),
    // with this record, rather than orphaned.
    std::string kept_running;
  };
  enum class ChildEnd { kNoChild, kEnded, kKeptRunning };
  // Terminates the own child, waits at most kChildExitWait, closes its
  // handles and clears the record (under process_mutex_), then the job if
  // asked. kNoChild, doing nothing, when no child is held.
  ChildEnd EndOwnChild(const ChildTeardown& teardown);
  // Closes the monitor's read cancellation and both pipe ends.
  void CloseOutputCapture();

  // --- sing-box lifecycle helpers (platform thread unless noted) ---
  // A started child whose monitor thread cannot be created: ended, and
  // everything start_vpn created is closed.
  void AbandonStartedChild();

  // --- start_vpn, step by step; a step that fails has closed what it
  // created and gives the Error to answer ---
  struct StartFailure {
    std::string code;
    std::string message;
  };
  using StepOutcome = std::optional<StartFailure>;
  // The answer when the child cannot be started, or cannot be kept.
  static StartFailure ProcessStartFailed();
  // The whole sequence; nothing means the child runs and is monitored.
  StepOutcome StartSingBox(const MethodCall& call);
  // A new start_vpn while the own child runs: ends that child (terminate,
  // wait at most 3000 ms), closes its handles and job, stops the monitor.
  // Fails, keeping that child, when it cannot be ended.
  StepOutcome EndRunningChildBeforeStart();
  // A child that can neither be resumed nor terminated: its job is closed
  // (which ends it when it is inside), and so is everything else the start
  // created. Gives the start's answer.
  StartFailure AbandonUnresumedChild();
  // The call names an existing configuration file (UTF-8 path).
  StepOutcome ValidateStartArguments(const MethodCall& call, std::string& config_path);
  // sing-box's executable is found and exists.
  StepOutcome LocateSingBox(std::string& executable);
  // The job (kill-on-close) and the output pipe exist.
  StepOutcome CreateJobAndPipe();
  // The child runs, suspended no longer, inside the job.
  StepOutcome LaunchChild(const std::string& executable, const std::string& config_path);
  // Starts it with a duplicate of the host's token; the tokens are closed
  // when this returns.
  StepOutcome StartWithHostToken(vpn_os::ProcessLaunch& launch, vpn_os::ProcessInfo& child);
  // The child survived its first second; otherwise its output is the answer.
  StepOutcome CheckStability();
  // The child ended within the stability wait: its output is read and its
  // handles are closed.
  StartFailure ReleaseEarlyExitedChild(bool exit_code_known);
  // The monitor thread takes over the child's output.
  StepOutcome HandOverToMonitor();
  // The stability check: until the child ends, at most one second.
  void WaitForStability();
  // Early-exit path: everything the ended child wrote, read to the end of
  // the pipe, or for at most two seconds when something else holds it open.
  std::string CollectEarlyExitOutput();

  // --- The output monitor ---
  // The monitor's loop (monitor thread); LogMonitorThread adds the guard
  // that keeps exceptions inside the thread.
  void RunLogMonitor();
  // Monitor thread, when the pipe had nothing: tells whether the child has
  // ended, looking again after a moment (less when a stop comes).
  bool ChildEndedAfterIdleWait();
  // Monitor thread: the child has ended, or is no longer the manager's;
  // false while a stop runs.
  bool ChildGone();
  // process_mutex_ held: the own child's exit code once it has ended;
  // nothing while it runs, when none is held, or when it cannot be read.
  std::optional<std::uint32_t> EndedChildExitCode();
  // StopLogMonitor, when the monitor's pending read cannot be cancelled:
  // ends the own child so that the pipe breaks.
  void EndChildToBreakOutputPipe();

  // --- Events for the Dart side (vpn_manager_events.cpp) ---
  // A new child is about to start (platform thread, no monitor running):
  // events still queued for the last one go out, and its end is untold.
  void BeginChildEvents();
  // The host is about to end its own child (platform thread): the event for
  // that end, "exited" when the child has already ended by itself, "stopped"
  // otherwise; nothing when no child runs or its end was told already.
  std::optional<flutter::EncodableValue> TakeChildEndEvent();
  // The monitor saw the child end by itself (monitor thread).
  void ReportChildExit();
  // Queues "exited" unless this child's end was told; process_mutex_ held.
  void QueueChildExit(std::uint32_t exit_code);
  // EndOwnChild for an end the host causes, told to the Dart side: "stopped",
  // or "exited" for a child that had already ended by itself. A child kept
  // running stays untold.
  ChildEnd EndOwnChildAndTell(const ChildTeardown& teardown);

  // One log record: Info with the tag "VpnManager".
  static void LogRecord(const std::string& message);
  // One console line: standard output, newline, flush.
  static void ConsoleLine(const std::string& text);

  // Borrowed; outlives every handle below, which closes through it.
  vpn_os::VpnOs& os_;

  vpn_os::ProcessInfo process_info_;
  // Atomic: the monitor thread reads it while the platform thread writes it.
  std::atomic<bool> is_running_{false};
  std::unique_ptr<flutter::MethodChannel<flutter::EncodableValue>> channel_;
  vpn_os::UniqueOsHandle job_object_;
  vpn_os::UniqueOsHandle output_read_pipe_;
  vpn_os::UniqueOsHandle output_write_pipe_;
  std::unique_ptr<std::thread> log_monitor_thread_;
  std::atomic<bool> stop_log_monitor_{false};
  vpn_os::UniqueOsModule wintun_module_;
  // Ends the monitor's pending read when a stop is requested; created with
  // the thread, reset by StopLogMonitor after the join.
  std::unique_ptr<vpn_os::ReadCancellation> log_monitor_read_cancellation_;
  // Orders the monitor's exit-code query against the platform thread closing
  // the process handle (get_vpn_status, stop_vpn, a second start_vpn): the
  // process record and is_running_ change only under it while a monitor may
  // run. Also guards the monitor's idle wait, which log_monitor_wake_ ends
  // early when a stop is requested.
  std::mutex process_mutex_;
  std::condition_variable log_monitor_wake_;
  // How many of the children's lines may still go into the log: used by the
  // monitor thread while it runs, otherwise by the early-exit path of the
  // platform thread (never both at once: the monitor is created after, and
  // joined before, every early-exit read).
  velqa::vpn::LineBudget child_output_budget_{velqa::vpn::kLoggedLinesPerSecond,
                                              velqa::vpn::kLoggedLinesBurst};

  velqa::vpn::VpnEvents events_;
  // The running child's last output, for its "exited" event; the monitor
  // appends to it.
  velqa::vpn::OutputTail output_tail_;
  // The running child's end has been told to the Dart side (or was the end
  // of a failed start, which its answer tells). Under process_mutex_.
  bool child_end_told_ = false;
};

#endif  // VELQA_VPN_VPN_MANAGER_H_
