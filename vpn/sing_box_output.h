// What becomes of sing-box's output on its way into the host's log: the byte
// stream of the pipe is cut into lines, each line loses its trailing carriage
// return and its terminal colour sequences, and a flood of lines is thinned so
// that a child writing megabytes cannot bury the log or slow the pipe drain.
//
// Threads: each object is used by one thread at a time (the output monitor,
// or the platform thread reading an early exit's output).
#ifndef VELQA_VPN_SING_BOX_OUTPUT_H_
#define VELQA_VPN_SING_BOX_OUTPUT_H_

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <utility>

#include "vpn/vpn_limits.h"

namespace velqa::vpn {

// The tag of log records that carry sing-box's own output.
inline constexpr char kSingBoxOutputTag[] = "sing-box";

// Removes one trailing carriage return and every ANSI escape sequence (CSI
// such as colours "ESC[31m", OSC up to BEL or ESC\, and two-byte escapes).
std::string CleanOutputLine(std::string_view line);

// One line of sing-box's output into the log: cleaned, then an Info record
// with the tag kSingBoxOutputTag unless nothing is left of it.
void LogOutputLine(std::string_view line);

// Cuts a byte stream into lines ending at a line feed (the line feed is not
// part of the line). A chunk counts only up to its first zero byte, as the
// pipe carries text. A line longer than kMaxLine is handed on in pieces of
// kMaxLine bytes so a child that never ends a line cannot grow memory.
class OutputLineSplitter {
 public:
  static constexpr size_t kMaxLine = kMaxOutputLine;
  using LineSink = std::function<void(std::string_view line)>;

  explicit OutputLineSplitter(LineSink sink) : sink_(std::move(sink)) {}

  void Append(const char* data, size_t size);
  // Takes a chunk as Append does, but hands no line to the sink: returns how
  // many lines Append would have handed on. For a flood that is not logged,
  // at a fraction of the cost.
  std::uint64_t Skip(const char* data, size_t size);
  // The unfinished tail of the stream, kept for the next chunk.
  const std::string& pending() const { return pending_; }
  // Hands out the unfinished tail and forgets it.
  std::string TakePending() { return std::exchange(pending_, std::string()); }

 private:
  LineSink sink_;
  std::string pending_;
};

// A token bucket over lines: up to `burst` lines at once, refilled at
// `per_second`. Lines refused are counted so the log can say how many it left
// out once the flood is over.
class LineBudget {
 public:
  using Clock = std::chrono::steady_clock;

  LineBudget(double per_second, double burst)
      : per_second_(per_second), burst_(burst), tokens_(burst) {}

  // True when the line at time `now` may be logged.
  bool Take(Clock::time_point now);
  // True when no line at time `now` may be logged: Take(now) would refuse.
  bool Exhausted(Clock::time_point now);
  // Counts `lines` refused without asking for each.
  void CountSkipped(std::uint64_t lines) { skipped_ += lines; }
  // Lines refused since the last call; resets the count.
  std::uint64_t TakeSkipped();

 private:
  double per_second_;
  double burst_;
  double tokens_;
  Clock::time_point last_{};
  bool started_ = false;
  std::uint64_t skipped_ = 0;

  // Adds what has accrued up to `now`.
  void Refill(Clock::time_point now);
};

// The child's output on its way into the log, for the monitor and for the
// output of a child that ended at its start alike: cut into lines and thinned
// by a line budget that outlives it (`budget`, one for every child of a
// manager, so that starts retried in a row share it too), with the lines left
// out counted and reported in a record of the caller's (`record`).
class ChildOutputLog {
 public:
  using Record = void (*)(const std::string& message);

  ChildOutputLog(Record record, LineBudget& budget);
  // The splitter's sink refers to this object.
  ChildOutputLog(const ChildOutputLog&) = delete;
  ChildOutputLog& operator=(const ChildOutputLog&) = delete;

  // One chunk of the pipe (up to its first zero byte); its lines arrived
  // together, so one clock reading serves them all.
  void Append(const char* data, std::size_t size);
  // Before the last records: the child's unfinished last line and the count
  // of lines left out.
  void Flush();

 private:
  void ReportSkipped();

  Record record_;
  LineBudget& budget_;
  LineBudget::Clock::time_point chunk_time_;
  OutputLineSplitter lines_;
  bool flooding_ = false;
  int chunks_since_clock_ = 0;
};

}  // namespace velqa::vpn

#endif  // VELQA_VPN_SING_BOX_OUTPUT_H_
