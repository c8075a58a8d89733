// The output monitor: a thread that keeps the child's output pipe drained so
// the child never stalls on a full pipe, puts the child's lines into the log
// (ChildOutputLog), and notices when the child has ended. StopLogMonitor ends it promptly even
// while the child writes nothing: the pending read is cancelled and the idle
// wait is woken.
#include <cstddef>
#include <cstdint>
#include <exception>
#include <mutex>
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
  bool stop = stop_log_monitor_.load();
  while (!stop) {
    if (!output_read_pipe_) break;
    vpn_os::ReadResult read =
        os_.Read(output_read_pipe_.get(), std::span<char>(buffer, velqa::vpn::kMonitorReadSize),
                 log_monitor_read_cancellation_.get());
    if (read.ok && read.bytes > 0) {
      buffer[read.bytes] = '\0';
      output_log.Append(buffer, read.bytes);
      output_tail_.Append(buffer, read.bytes);
    } else if (!read.cancelled && ChildEndedAfterIdleWait()) {
      output_log.Flush();
      LogRecord("sing-box process terminated, stopping log monitor");
      ReportChildExit();
      break;
    }
    stop = stop_log_monitor_.load();
  }
  output_log.Flush();
  LogRecord("Log monitor thread stopped");
}

bool VpnManager::ChildEndedAfterIdleWait() {
  // Nothing to read: the writers are gone. Look again in a moment, unless a
  // stop comes first, and end once the child has ended.
  std::unique_lock<std::mutex> lock(process_mutex_);
  log_monitor_wake_.wait_for(lock, velqa::vpn::kMonitorIdlePoll,
                             [this] { return stop_log_monitor_.load(); });
  if (stop_log_monitor_.load() || !is_running_.load() || !process_info_.process) return false;
  vpn_os::ExitCodeResult exit_code = os_.GetExitCode(process_info_.process.get());
  return exit_code.ok && exit_code.exit_code != vpn_os::kStillActive;
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
