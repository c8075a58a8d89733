// Records every line the process writes to standard output (log records and
// console lines) with the moment it arrived, so tests can check what was
// written, in which order, and how soon.
#ifndef VELQA_TESTS_VPN_LIFECYCLE_OUTPUT_RECORDER_H_
#define VELQA_TESTS_VPN_LIFECYCLE_OUTPUT_RECORDER_H_

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "tests/vpn_lifecycle/stdout_tap.h"

namespace vpn_test {

struct OutputLine {
  std::string text;
  std::chrono::steady_clock::time_point at;
};

class OutputRecorder {
 public:
  OutputRecorder();   // starts recording
  ~OutputRecorder();  // stops

  // Ends the diversion; lines already written are kept.
  void Stop();

  // Everything written so far: each call first waits until a marker line
  // written now has come through, so what the calling thread wrote before
  // is included.
  std::vector<OutputLine> Lines() const;
  std::vector<std::string> Texts() const;
  // Messages of the log records with this tag, in order.
  std::vector<std::string> Records(const std::string& tag) const;
  // Console lines (text that is not a log record), in order.
  std::vector<std::string> ConsoleLines() const;

  // Waits until some line satisfies `match`; its arrival time, or nullopt.
  std::optional<std::chrono::steady_clock::time_point> WaitFor(
      const std::function<bool(const std::string&)>& match, std::chrono::milliseconds timeout);
  // Waits for a log record with exactly this message and tag.
  std::optional<std::chrono::steady_clock::time_point> WaitForRecord(
      const std::string& message, const std::string& tag, std::chrono::milliseconds timeout);
  // Waits until `condition` (which may use this recorder) holds.
  bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout);
  // The number of log records with this message and tag.
  int CountRecords(const std::string& message, const std::string& tag) const;

 private:
  void Pump();
  void Sync() const;

  std::unique_ptr<StdoutTap> tap_;
  std::thread pump_;
  std::atomic<bool> stopping_{false};
  mutable std::atomic<int> sync_count_{0};
  mutable std::mutex mutex_;
  mutable std::condition_variable arrived_;
  std::vector<OutputLine> lines_;
  std::string partial_;
};

// The message of a log record line "[time] [INFO] [tag] [I] message" with
// the given tag, or nullopt when the line is no such record.
std::optional<std::string> RecordMessage(const std::string& line, const std::string& tag);

}  // namespace vpn_test

#endif  // VELQA_TESTS_VPN_LIFECYCLE_OUTPUT_RECORDER_H_
