// Runs one task on a thread of its own whenever asked, so that whoever asks
// never waits for it: the logger's cleanup of the log folder, asked for by the
// record that rotated the file or began a new day, while that record's lock
// is held. Requests made while the task waits or runs add up to one more run.
//
// Threads: Request from any thread, also while holding locks that the task
// itself takes (the task never runs on the caller's thread). Start, Stop and
// WaitIdle from the owner's threads, never from the task. No member throws.
#ifndef VELQA_LOGGING_BACKGROUND_TASK_H_
#define VELQA_LOGGING_BACKGROUND_TASK_H_

#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace velqa::logging {

class BackgroundTask {
 public:
  // `task` must not throw; anything it throws anyway is swallowed.
  explicit BackgroundTask(std::function<void()> task);
  ~BackgroundTask() { Stop(); }
  BackgroundTask(const BackgroundTask&) = delete;
  BackgroundTask& operator=(const BackgroundTask&) = delete;

  // Starts the thread unless it runs. False when the system refuses a thread
  // (Request tries again) or after Stop.
  bool Start() noexcept;
  // Asks for one more run of the task. Takes a short internal lock only.
  void Request() noexcept;
  // Lets a run in progress end, drops requests not yet begun, and joins the
  // thread. Later requests are ignored.
  void Stop() noexcept;
  // Returns once no run is asked for or in progress (for tests).
  void WaitIdle() noexcept;

 private:
  // Needs mutex_.
  bool StartLocked() noexcept;
  void Loop() noexcept;

  std::function<void()> task_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::condition_variable idle_;
  bool requested_ = false;
  bool running_ = false;
  bool stopping_ = false;
  std::thread thread_;
};

}  // namespace velqa::logging

#endif  // VELQA_LOGGING_BACKGROUND_TASK_H_
