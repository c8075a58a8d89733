#include "logging/background_task.h"

#include <system_error>
#include <utility>

namespace velqa::logging {

BackgroundTask::BackgroundTask(std::function<void()> task) : task_(std::move(task)) {}

bool BackgroundTask::Start() noexcept {
  try {
    std::lock_guard<std::mutex> lock(mutex_);
    return StartLocked();
  } catch (const std::system_error&) {
    return false;
  }
}

bool BackgroundTask::StartLocked() noexcept {
  if (stopping_) return false;
  if (thread_.joinable()) return true;
  try {
    thread_ = std::thread([this] { Loop(); });
    return true;
  } catch (const std::system_error&) {
    // Out of threads: a later request tries again; nothing is lost but a pass.
    return false;
  }
}

void BackgroundTask::Request() noexcept {
  try {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!StartLocked()) return;
    requested_ = true;
    wake_.notify_one();
  } catch (const std::system_error&) {
    // The lock could not be taken: this request is dropped, the next one counts.
  }
}

void BackgroundTask::Stop() noexcept {
  try {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stopping_ = true;
      requested_ = false;
      wake_.notify_one();
      idle_.notify_all();
    }
    if (thread_.joinable()) thread_.join();
  } catch (const std::system_error&) {
    // Joining ourselves or a lock failure: leave the thread as it is.
  }
}

void BackgroundTask::WaitIdle() noexcept {
  try {
    std::unique_lock<std::mutex> lock(mutex_);
    idle_.wait(lock, [this] { return stopping_ || (!requested_ && !running_); });
  } catch (const std::system_error&) {
  }
}

void BackgroundTask::Loop() noexcept {
  try {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      wake_.wait(lock, [this] { return stopping_ || requested_; });
      if (stopping_) break;
      requested_ = false;
      running_ = true;
      lock.unlock();
      try {
        task_();
      } catch (...) {
        // No exception leaves the thread.
      }
      lock.lock();
      running_ = false;
      if (!requested_) idle_.notify_all();
    }
  } catch (...) {
    // A lock failure ends the thread; requests then go unanswered.
  }
}

}  // namespace velqa::logging
