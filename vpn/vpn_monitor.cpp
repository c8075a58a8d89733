// The output monitor: a thread that keeps the child's output pipe drained so
// the child never stalls on a full pipe, puts the child's lines into the log
// (ChildOutputLog), and notices when the child has ended. StopLogMonitor ends it promptly even
// while the child writes nothing: the pending read is cancelled and the idle
// wait is woken.
//
// The end of the pipe is not the end of the child: a process sing-box started
// holds the pipe too, and may write on (or stay silent) long after sing-box
// itself has gone. So no read waits longer than kMonitorExitPoll, and until
// the child is seen to end it is looked at at least that often, also while
// output keeps coming. The bounded read also lets a stop end the loop when
// its cancellation cannot reach the read and a process outside the job
// holds the pipe.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <mutex>
#include <optional>
#include <span>
#include <string>

#include "vpn/sing_box_output.h"
#include "vpn/vpn_limits.h"
#include "vpn/vpn_manager.h"

void VpnManager::LogMonitorThread() {
  // No exception may leave a thread's entry.
  try {
    RunLogMonitor();
  } catch (const std::exception& e) {
    LogRecord(std::string("Log monitor thread failed: ") + e.what());
  } catch (...) {
    LogRecord("Log monitor thread failed");
  }
}

void VpnManager::RunLogMonitor() {
  LogRecord("Log monitor thread started");
  output_write_pipe_.Reset();

  velqa::vpn::ChildOutputLog output_log(&LogRecord, child_output_budget_);
  char buffer[velqa::vpn::kMonitorReadSize + 1];
  const std::span<char> into(buffer, velqa::vpn::kMonitorReadSize);
  bool child_end_seen = false;
  auto next_look = std::chrono::steady_clock::now() + velqa::vpn::kMonitorExitPoll;
  bool stop = stop_log_monitor_.load();
  while (!stop) {
    if (!output_read_pipe_) break;
    vpn_os::ReadResult read =
        os_.ReadWithTimeout(output_read_pipe_.get(), into, log_monitor_read_cancellation_.get(),
                            velqa::vpn::kMonitorExitPoll);
    if (read.ok && read.bytes > 0) {
      buffer[read.bytes] = '\0';
      output_log.Append(buffer, read.bytes);
      output_tail_.Append(buffer, read.bytes);
    } else if (read.timed_out) {
      // Nothing came, yet something holds the pipe: looked at below.
    } else if (!read.cancelled && ChildEndedAfterIdleWait()) {
      output_log.Flush();
      LogRecord("sing-box process terminated, stopping log monitor");
      ReportChildExit();
      break;
    }
    // A timed-out read counts as the time to look: its clock may run a few
    // milliseconds ahead of this one.
    if (!child_end_seen && (read.timed_out || std::chrono::steady_clock::now() >= next_look)) {
      if (ChildGone()) {
        // What the child wrote before it ended is in the pipe already, at
        // most a pipe's buffer (it would still be blocked in a write
        // otherwise): read first, so its last lines are in the event.
        std::size_t drained = 0;
        while (drained < velqa::vpn::kMonitorDrainAtChildEnd) {
          const vpn_os::ReadResult more =
              os_.ReadWithTimeout(output_read_pipe_.get(), into,
                                  log_monitor_read_cancellation_.get(), {});
          if (!more.ok || more.bytes == 0) break;
          output_log.Append(buffer, more.bytes);
          output_tail_.Append(buffer, more.bytes);
          drained += more.bytes;
        }
        ReportChildExit();
        child_end_seen = true;
      }
      next_look = std::chrono::steady_clock::now() + velqa::vpn::kMonitorExitPoll;
    }
    stop = stop_log_monitor_.load();
  }
  output_log.Flush();
  LogRecord("Log monitor thread stopped");
}

bool VpnManager::ChildGone() {
  // Not while a stop runs: a child the stop ends (the fallback that breaks
  // the pipe) is the stop's to tell, as "stopped".
  std::lock_guard<std::mutex> lock(process_mutex_);
  if (stop_log_monitor_.load()) return false;
  if (!is_running_.load() || !process_info_.process) return true;
  return EndedChildExitCode().has_value();
}

std::optional<std::uint32_t> VpnManager::EndedChildExitCode() {
  if (!is_running_.load() || !process_info_.process) return std::nullopt;
  const vpn_os::ExitCodeResult exit_code = os_.GetExitCode(process_info_.process.get());
  if (!exit_code.ok || exit_code.exit_code == vpn_os::kStillActive) return std::nullopt;
  return exit_code.exit_code;
}

bool VpnManager::ChildEndedAfterIdleWait() {
  // Nothing to read: the writers are gone. Look again in a moment, unless a
  // stop comes first, and end once the child has ended.
  // Usually the pipe ends with the child, so it is looked at once before the
  // wait: its "exited" event then goes out at once.
  std::unique_lock<std::mutex> lock(process_mutex_);
  const auto ended = [this] { return !stop_log_monitor_.load() && EndedChildExitCode(); };
  if (ended()) return true;
  log_monitor_wake_.wait_for(lock, velqa::vpn::kMonitorIdlePoll,
                             [this] { return stop_log_monitor_.load(); });
  return ended();
}

void VpnManager::StopLogMonitor() {
  LogRecord("Stopping log monitor...");
  stop_log_monitor_.exchange(true);
  if (log_monitor_thread_ && log_monitor_thread_->joinable()) {
    LogRecord("Waiting for log monitor thread to finish...");
    {
      // Taken so the wake-up cannot fall between the monitor's check of the
      // flag and its wait.
      std::lock_guard<std::mutex> lock(process_mutex_);
    }
    log_monitor_wake_.notify_all();
    if (log_monitor_read_cancellation_ && !log_monitor_read_cancellation_->Cancel()) {
      EndChildToBreakOutputPipe();
    }
    log_monitor_thread_->join();
    log_monitor_thread_.reset();
    LogRecord("Log monitor thread finished");
  }
  CloseOutputCapture();
  LogRecord("Log monitor stopped");
}

void VpnManager::EndChildToBreakOutputPipe() {
  // The monitor's read could not be ended from here: the child is ended,
  // which breaks the pipe and so ends the read, rather than leaving the
  // platform thread in the join for as long as the child lives. The whole
  // job goes, since every process the child started holds the pipe too.
  // The job also goes when the child itself has already been seen ending:
  // what it left behind may still hold the pipe.
  std::lock_guard<std::mutex> lock(process_mutex_);
  const bool child_held = is_running_.load() && process_info_.process;
  if (!child_held && !job_object_) return;
  LogRecord("Log monitor read could not be cancelled, ending sing-box process");
  if (job_object_) os_.TerminateJob(job_object_.get(), 0);
  if (child_held) os_.Terminate(process_info_.process.get(), 0);
}
