#include "logging/console_output.h"

#include <thread>
#include <utility>

namespace velqa::logging {

using base::StandardStream;

ConsoleOutput& ConsoleOutput::Instance() {
  // Leaked on purpose: destroying it would have to join a thread that may
  // never come back from a blocked stream.
  static ConsoleOutput* const instance = new ConsoleOutput();
  return *instance;
}

void ConsoleOutput::Write(StandardStream stream, std::string text) {
  std::unique_lock<std::mutex> lock(mutex_);
  QueueLocked(stream, std::move(text));
}

bool ConsoleOutput::WriteBefore(StandardStream stream, std::string text,
                                std::chrono::steady_clock::time_point deadline) {
  // Polled rather than a timed lock: the lock is only ever held for a few
  // instructions, and sanitizers do not follow timed locks.
  std::unique_lock<std::mutex> lock(mutex_, std::try_to_lock);
  while (!lock.owns_lock()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::yield();
    lock.try_lock();
  }
  QueueLocked(stream, std::move(text));
  return true;
}

void ConsoleOutput::QueueLocked(StandardStream stream, std::string text) {
  StartWriterLocked();
  if (!writer_started_ || queued_bytes_ + text.size() > kMaxQueuedBytes) {
    ++dropped_;
    ++dropped_total_;
    return;
  }
  // The notice stands where the gap is.
  QueueDropNoticeLocked();
  PushLocked(stream, std::move(text));
}

void ConsoleOutput::QueueDropNoticeLocked() {
  if (dropped_ == 0 || !writer_started_) return;
  // Allowed past the limit, so that the count is never lost itself.
  PushLocked(StandardStream::kOutput,
             "[NativeLogger] 标准输出阻塞，丢弃了 " + std::to_string(dropped_) + " 行输出\n");
  dropped_ = 0;
}

void ConsoleOutput::PushLocked(StandardStream stream, std::string text) {
  queued_bytes_ += text.size();
  lines_.push_back({stream, std::move(text)});
  ++queued_count_;
  queued_.notify_one();
}

void ConsoleOutput::StartWriterLocked() {
  if (writer_started_) return;
  try {
    std::thread(&ConsoleOutput::RunWriter, this).detach();
    writer_started_ = true;
  } catch (...) {
    // No thread now (resources exhausted): lines are dropped and counted,
    // and the next line tries again.
  }
}

void ConsoleOutput::RunWriter() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    queued_.wait(lock, [this] { return !lines_.empty(); });
    Line line = std::move(lines_.front());
    lines_.pop_front();
    lock.unlock();
    // A failed write (a closed stream) has nowhere to be reported.
    static_cast<void>(base::WriteStandardText(line.stream, line.text));
    const std::size_t size = line.text.size();
    // Freed outside the lock.
    line.text = std::string();
    lock.lock();
    queued_bytes_ -= size;
    ++written_count_;
    written_.notify_all();
  }
}

bool ConsoleOutput::Drain(std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  std::unique_lock<std::mutex> lock(mutex_);
  // The count of a gap that no later line has reported yet.
  QueueDropNoticeLocked();
  const std::uint64_t target = queued_count_;
  return written_.wait_until(lock, deadline, [&] { return written_count_ >= target; });
}

std::uint64_t ConsoleOutput::dropped_total() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return dropped_total_;
}

}  // namespace velqa::logging
