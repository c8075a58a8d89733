#include "tests/vpn_lifecycle/output_recorder.h"

#include <algorithm>
#include <cstdio>
#include <optional>

#include <gtest/gtest.h>

#include "logging/console_output.h"

namespace vpn_test {

std::optional<std::string> RecordMessage(const std::string& line, const std::string& tag) {
  // "[2025-03-01 09:15:02.047] [INFO] [VpnManager] [I] message"
  if (line.empty() || line[0] != '[') return std::nullopt;
  const std::string marker = "] [INFO] [" + tag + "] [I] ";
  size_t at = line.find(marker);
  if (at == std::string::npos || at > 30) return std::nullopt;
  return line.substr(at + marker.size());
}

OutputRecorder::OutputRecorder() : tap_(StdoutTap::Divert()) {
  pump_ = std::thread([this] { Pump(); });
}

OutputRecorder::~OutputRecorder() { Stop(); }

void OutputRecorder::Stop() {
  if (!pump_.joinable()) return;
  // Console lines still queued belong to this recording.
  velqa::logging::ConsoleOutput::Instance().Drain(std::chrono::seconds(10));
  tap_->Restore();
  stopping_ = true;
  pump_.join();
  // A failing test shows what was written while it ran (its own failure
  // messages included).
  if (::testing::Test::HasFailure()) {
    for (const auto& line : Lines()) std::printf("| %s\n", line.text.c_str());
    std::fflush(stdout);
  }
}

void OutputRecorder::Pump() {
  char buffer[65536];
  for (;;) {
    // After the stop request, drain what is left without waiting for an end
    // of file: a child may still hold a copy of the diverted descriptor.
    size_t n = tap_->Read(buffer, sizeof buffer, std::chrono::milliseconds(stopping_ ? 0 : 20));
    if (n == 0) {
      if (stopping_) break;
      continue;
    }
    auto now = std::chrono::steady_clock::now();
    std::lock_guard<std::mutex> lock(mutex_);
    partial_.append(buffer, n);
    size_t start = 0;
    for (size_t feed; (feed = partial_.find('\n', start)) != std::string::npos; start = feed + 1) {
      // Console lines end in "\r\n" on Windows, as text mode writes them.
      const size_t end = feed > start && partial_[feed - 1] == '\r' ? feed - 1 : feed;
      lines_.push_back({partial_.substr(start, end - start), now});
    }
    partial_.erase(0, start);
    arrived_.notify_all();
  }
  std::lock_guard<std::mutex> lock(mutex_);
  if (!partial_.empty()) lines_.push_back({partial_, std::chrono::steady_clock::now()});
  partial_.clear();
}

namespace {
constexpr char kSyncMarker[] = "@@recorder sync ";
}  // namespace

void OutputRecorder::Sync() const {
  if (!pump_.joinable() || stopping_) return;
  const std::string marker = kSyncMarker + std::to_string(sync_count_++);
  // Behind every line queued for the console so far.
  velqa::logging::ConsoleOutput::Instance().Write(velqa::base::StandardStream::kOutput,
                                                  marker + "\n");
  std::unique_lock<std::mutex> lock(mutex_);
  arrived_.wait_for(lock, std::chrono::seconds(10), [&] {
    return !lines_.empty() && std::any_of(lines_.rbegin(), lines_.rend(),
                                          [&](const OutputLine& l) { return l.text == marker; });
  });
}

std::vector<OutputLine> OutputRecorder::Lines() const {
  Sync();
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<OutputLine> out;
  out.reserve(lines_.size());
  for (const auto& line : lines_) {
    if (line.text.rfind(kSyncMarker, 0) != 0) out.push_back(line);
  }
  return out;
}

std::vector<std::string> OutputRecorder::Texts() const {
  std::vector<std::string> out;
  for (const auto& line : Lines()) out.push_back(line.text);
  return out;
}

std::vector<std::string> OutputRecorder::Records(const std::string& tag) const {
  std::vector<std::string> out;
  for (const auto& line : Lines()) {
    if (auto message = RecordMessage(line.text, tag)) out.push_back(*message);
  }
  return out;
}

std::vector<std::string> OutputRecorder::ConsoleLines() const {
  std::vector<std::string> out;
  for (const auto& line : Lines()) {
    if (line.text.rfind("[", 0) != 0) out.push_back(line.text);
  }
  return out;
}

std::optional<std::chrono::steady_clock::time_point> OutputRecorder::WaitFor(
    const std::function<bool(const std::string&)>& match, std::chrono::milliseconds timeout) {
  std::unique_lock<std::mutex> lock(mutex_);
  std::optional<std::chrono::steady_clock::time_point> found;
  arrived_.wait_for(lock, timeout, [&] {
    for (const auto& line : lines_) {
      if (match(line.text)) {
        found = line.at;
        return true;
      }
    }
    return false;
  });
  return found;
}

std::optional<std::chrono::steady_clock::time_point> OutputRecorder::WaitForRecord(
    const std::string& message, const std::string& tag, std::chrono::milliseconds timeout) {
  return WaitFor(
      [&](const std::string& line) {
        auto got = RecordMessage(line, tag);
        return got && *got == message;
      },
      timeout);
}

bool OutputRecorder::WaitUntil(const std::function<bool()>& condition,
                               std::chrono::milliseconds timeout) {
  auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    if (condition()) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::unique_lock<std::mutex> lock(mutex_);
    arrived_.wait_for(lock, std::chrono::milliseconds(20));
  }
}

int OutputRecorder::CountRecords(const std::string& message, const std::string& tag) const {
  int count = 0;
  for (const auto& text : Records(tag)) count += text == message;
  return count;
}

}  // namespace vpn_test
