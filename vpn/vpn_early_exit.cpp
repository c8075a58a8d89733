// start_vpn's answer for a child that ended within its first second: what it
// wrote before it ended, read from the pipe within bounds, goes into the log
// and into the Error, and everything the start created is closed.
#include <chrono>
#include <mutex>
#include <span>
#include <string>
#include <string_view>

#include "vpn/sing_box_output.h"
#include "vpn/vpn_limits.h"
#include "vpn/vpn_manager.h"

VpnManager::StartFailure VpnManager::ReleaseEarlyExitedChild(bool exit_code_known) {
  LogRecord("Process started but terminated immediately, capturing output...");
  if (!exit_code_known) {
    // Its state is unknown and its handles are about to be closed: make sure
    // it is not left running unseen.
    os_.Terminate(process_info_.process.get(), 0);
  }
  output_write_pipe_.Reset();
  // The job goes first: a process the child left behind in it could hold the
  // pipe's write end and keep the read below from ever ending. Output already
  // in the pipe stays readable.
  job_object_.Reset();
  LogRecord("Reading process output...");
  std::string output = CollectEarlyExitOutput();
  output_read_pipe_.Reset();
  {
    std::lock_guard<std::mutex> lock(process_mutex_);
    process_info_.CloseHandles();
    is_running_.store(false);
  }
  return StartFailure{"PROCESS_TERMINATED_IMMEDIATELY", "sing-box启动失败。错误信息: " + output};
}

std::string VpnManager::CollectEarlyExitOutput() {
  using velqa::vpn::kEarlyExitChunk;
  using velqa::vpn::kEarlyExitOutputLimit;
  std::string output;
  // Its lines go into the log under the monitor's budget: a descendant that
  // keeps writing, and a Dart side that retries, must not flood it.
  velqa::vpn::ChildOutputLog lines(&LogRecord, child_output_budget_);
  char buffer[kEarlyExitChunk + 1];
  // The child has ended, but a process it started outside its job (or its
  // process group) may still hold the pipe open, for as long as it lives:
  // the platform thread waits only so long for the end of the output.
  const auto deadline = std::chrono::steady_clock::now() + velqa::vpn::kEarlyExitOutputWait;
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    // Checked before every read: a holder that keeps writing must not keep
    // the loop going either.
    vpn_os::ReadResult read;
    if (left.count() > 0) {
      read = os_.ReadWithTimeout(output_read_pipe_.get(), std::span<char>(buffer, kEarlyExitChunk),
                                 nullptr, left);
    } else {
      read.timed_out = true;
    }
    if (read.timed_out) {
      LogRecord("sing-box output still held open by another process; answering with what was read");
      break;
    }
    if (!read.ok || read.bytes == 0) break;
    buffer[read.bytes] = '\0';
    std::string_view chunk(buffer);  // up to the first zero byte
    output.append(chunk);
    lines.Append(chunk.data(), chunk.size());
    if (output.size() >= kEarlyExitOutputLimit) {
      LogRecord("sing-box output longer than " + std::to_string(kEarlyExitOutputLimit) +
                " bytes; answering with its beginning");
      break;
    }
  }
  lines.Flush();
  return output;
}
