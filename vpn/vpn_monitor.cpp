// The output monitor: a thread that keeps the child's output pipe drained so
// the child never stalls on a full pipe, puts the child's lines into the log,
// and notices when the child has ended. StopLogMonitor ends it promptly even
// while the child writes nothing: the pending read is cancelled and the idle
// wait is woken.
#include <chrono>
#include <exception>
#include <mutex>
#include <span>
#include <string>

#include "logging/native_logger.h"
#include "vpn/sing_box_output.h"
#include "vpn/vpn_manager.h"

namespace {

// One read fills at most this much of a buffer one byte larger, so a
// terminating zero always fits.
constexpr size_t kReadSize = 4095;
constexpr std::chrono::milliseconds kIdlePoll{100};
// A child that floods its output gets its first lines logged, then about
// this many per second; the rest is counted and reported.
constexpr double kLoggedLinesPerSecond = 200;
constexpr double kLoggedLinesBurst = 2000;
constexpr int kFloodChunksPerClockReading = 16;

void LogChildLine(std::string_view line) {
  std::string text = velqa::vpn::CleanOutputLine(line);
  if (!text.empty()) NativeLogger::GetInstance().Info(text, velqa::vpn::kSingBoxOutputTag);
}

}  // namespace

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

  velqa::vpn::LineBudget budget(kLoggedLinesPerSecond, kLoggedLinesBurst);
  auto report_skipped = [&budget] {
    if (std::uint64_t skipped = budget.TakeSkipped()) {
      LogRecord(std::to_string(skipped) + " lines of sing-box output not logged (output too fast)");
    }
  };
  // One clock reading per chunk: the lines of a chunk arrived together.
  velqa::vpn::LineBudget::Clock::time_point chunk_time;
  velqa::vpn::OutputLineSplitter lines([&](std::string_view line) {
    if (budget.Take(chunk_time)) {
      report_skipped();
      LogChildLine(line);
    }
  });
  // Before the last records: the child's unfinished last line and the count
  // of lines left out.
  auto flush = [&] {
    std::string last = lines.TakePending();
    if (!last.empty()) LogChildLine(last);
    report_skipped();
  };

  char buffer[kReadSize + 1];
  bool flooding = false;
  int chunks_since_clock = 0;
  bool stop = stop_log_monitor_.load();
  while (!stop) {
    if (!output_read_pipe_) break;
    vpn_os::ReadResult read = os_.Read(output_read_pipe_.get(), std::span<char>(buffer, kReadSize),
                                       log_monitor_read_cancellation_.get());
    if (read.ok && read.bytes > 0) {
      buffer[read.bytes] = '\0';
      // In a flood whose budget is spent, the lines of a chunk are only
      // counted, not cut out one by one, and the clock (slow to read on some
      // machines) is read only every few chunks: a line's worth of budget
      // accrues in 5 ms, and those chunks arrive in far less. So the drain
      // keeps pace with the child.
      if (!flooding || ++chunks_since_clock >= kFloodChunksPerClockReading) {
        chunk_time = velqa::vpn::LineBudget::Clock::now();
        chunks_since_clock = 0;
      }
      flooding = budget.Exhausted(chunk_time);
      if (flooding) {
        budget.CountSkipped(lines.Skip(buffer, read.bytes));
      } else {
        lines.Append(buffer, read.bytes);
      }
    } else if (!read.cancelled) {
      // Nothing to read: the writers are gone. Look again in a moment,
      // unless a stop comes first, and end once the child has ended.
      std::unique_lock<std::mutex> lock(process_mutex_);
      log_monitor_wake_.wait_for(lock, kIdlePoll, [this] { return stop_log_monitor_.load(); });
      if (!stop_log_monitor_.load() && is_running_.load() && process_info_.process) {
        vpn_os::ExitCodeResult exit_code = os_.GetExitCode(process_info_.process.get());
        if (exit_code.ok && exit_code.exit_code != vpn_os::kStillActive) {
          lock.unlock();
          flush();
          LogRecord("sing-box process terminated, stopping log monitor");
          break;
        }
      }
    }
    stop = stop_log_monitor_.load();
  }
  flush();
  LogRecord("Log monitor thread stopped");
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
  log_monitor_read_cancellation_.reset();
  output_read_pipe_.Reset();
  output_write_pipe_.Reset();
  LogRecord("Log monitor stopped");
}

void VpnManager::EndChildToBreakOutputPipe() {
  // The monitor's read could not be ended from here: the child is ended,
  // which breaks the pipe and so ends the read, rather than leaving the
  // platform thread in the join for as long as the child lives.
  std::lock_guard<std::mutex> lock(process_mutex_);
  if (!is_running_.load() || !process_info_.process) return;
  LogRecord("Log monitor read could not be cancelled, ending sing-box process");
  os_.Terminate(process_info_.process.get(), 0);
}
