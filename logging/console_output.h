// The process's console lines (records, the logger's notices, the VPN
// manager's console lines) on their way to standard output and error. A
// thread of its own writes them, so that no thread that logs ever waits on a
// stream: standard output may be a pipe nobody reads or a console whose text
// the user is selecting. The copy on the console is a courtesy; the log file
// is the record.
//
// While the streams block, at most kMaxQueuedBytes wait; a line that does not
// fit is dropped and counted, and the first line queued after such a gap is
// preceded on standard output by "[NativeLogger] 标准输出阻塞，丢弃了 N 行输出".
//
// Threads: any thread may call any member. The queue's lock is held only to
// add or take a line, never while a stream is written.
#ifndef VELQA_LOGGING_CONSOLE_OUTPUT_H_
#define VELQA_LOGGING_CONSOLE_OUTPUT_H_

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>

#include "base/standard_text.h"

namespace velqa::logging {

class ConsoleOutput {
 public:
  static constexpr std::size_t kMaxQueuedBytes = 1 << 20;

  // The one instance; never destroyed, since its thread may stay blocked on
  // a stream until the process ends.
  static ConsoleOutput& Instance();

  // Queues `text` (whole lines, each ending in "\n") for `stream`.
  void Write(base::StandardStream stream, std::string text);
  // The same, but gives up (false, nothing queued) when the queue's lock is
  // not free by `deadline`.
  bool WriteBefore(base::StandardStream stream, std::string text,
                   std::chrono::steady_clock::time_point deadline);
  // Waits until everything queued before the call has been written, at most
  // `limit`; false when the streams did not take it in time. For the end of
  // the process and for tests reading what was written.
  bool Drain(std::chrono::milliseconds limit);

  // Lines dropped since the process started (a test's and a benchmark's view).
  std::uint64_t dropped_total() const;

 private:
  struct Line {
    base::StandardStream stream;
    std::string text;
  };

  ConsoleOutput() = default;
  // These need mutex_.
  void QueueLocked(base::StandardStream stream, std::string text);
  void QueueDropNoticeLocked();
  void PushLocked(base::StandardStream stream, std::string text);
  void StartWriterLocked();
  void RunWriter();

  mutable std::mutex mutex_;
  std::condition_variable queued_;
  std::condition_variable written_;
  std::deque<Line> lines_;
  std::size_t queued_bytes_ = 0;
  // Dropped since the last notice, and ever.
  std::uint64_t dropped_ = 0;
  std::uint64_t dropped_total_ = 0;
  // Lines ever queued and ever written (or given up on), for Drain.
  std::uint64_t queued_count_ = 0;
  std::uint64_t written_count_ = 0;
  bool writer_started_ = false;
};

}  // namespace velqa::logging

#endif  // VELQA_LOGGING_CONSOLE_OUTPUT_H_
