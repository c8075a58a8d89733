// The engine's platform task runner: a message-only window on the thread that
// created the engine, which runs posted tasks and timers from the window
// message loop of that thread.
//
// Threads: Post from any thread; PostDelayed, Close and destruction on the
// platform thread.
#ifndef VELQA_STANDINS_FLUTTER_WINDOWS_TASK_RUNNER_WIN_H_
#define VELQA_STANDINS_FLUTTER_WINDOWS_TASK_RUNNER_WIN_H_

#include <windows.h>

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>

#include "base/win_resources_win.h"

namespace velqa::standin {

class TaskRunner {
 public:
  using Task = std::function<void()>;

  // Null when the window cannot be created.
  static std::unique_ptr<TaskRunner> Create();
  ~TaskRunner();

  // False once closed; the task is then dropped.
  bool Post(Task task);
  // A poster for holders that may outlive the runner (the messenger).
  std::function<bool(Task)> Poster();
  void PostDelayed(unsigned milliseconds, Task task);
  // Drops queued tasks and timers; later posts are refused.
  void Close();

 private:
  struct Queue {
    std::mutex mutex;
    std::deque<Task> tasks;
    HWND window = nullptr;
    bool closed = false;
    bool Post(Task task);
  };

  TaskRunner() = default;
  static LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);
  void RunQueued();
  static void RunGuarded(const Task& task);

  std::shared_ptr<Queue> queue_ = std::make_shared<Queue>();
  std::map<UINT_PTR, Task> timers_;
  UINT_PTR next_timer_ = 1;
  base::UniqueWindow window_;
};

}  // namespace velqa::standin

#endif  // VELQA_STANDINS_FLUTTER_WINDOWS_TASK_RUNNER_WIN_H_
