#include "standins/flutter_windows/task_runner_win.h"

#include <utility>

#include "standins/flutter_windows/files_win.h"

namespace velqa::standin {
namespace {

constexpr wchar_t kClassName[] = L"VelqaStandinEngineTasks";
constexpr UINT kRunTasks = WM_APP + 1;

void RegisterClassOnce() {
  static const bool registered = [] {
    WNDCLASSW window_class{};
    window_class.lpfnWndProc = DefWindowProcW;
    window_class.hInstance = ThisModule();
    window_class.lpszClassName = kClassName;
    return RegisterClassW(&window_class) != 0;
  }();
  (void)registered;
}

}  // namespace

bool TaskRunner::Queue::Post(Task task) {
  std::lock_guard lock(mutex);
  if (closed) return false;
  tasks.push_back(std::move(task));
  // One wake-up per task is harmless: an empty drain does nothing.
  return PostMessageW(window, kRunTasks, 0, 0) != 0;
}

std::unique_ptr<TaskRunner> TaskRunner::Create() {
  RegisterClassOnce();
  std::unique_ptr<TaskRunner> runner(new TaskRunner());
  runner->window_.Reset(CreateWindowExW(0, kClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                        ThisModule(), nullptr));
  if (!runner->window_) return nullptr;
  SetWindowLongPtrW(runner->window_.get(), GWLP_USERDATA, reinterpret_cast<LONG_PTR>(runner.get()));
  SetWindowLongPtrW(runner->window_.get(), GWLP_WNDPROC,
                    reinterpret_cast<LONG_PTR>(&TaskRunner::WindowProc));
  runner->queue_->window = runner->window_.get();
  return runner;
}

TaskRunner::~TaskRunner() { Close(); }

bool TaskRunner::Post(Task task) { return queue_->Post(std::move(task)); }

std::function<bool(TaskRunner::Task)> TaskRunner::Poster() {
  return [queue = queue_](Task task) { return queue->Post(std::move(task)); };
}

void TaskRunner::PostDelayed(unsigned milliseconds, Task task) {
  if (!window_) return;
  UINT_PTR id = next_timer_++;
  timers_.emplace(id, std::move(task));
  SetTimer(window_.get(), id, milliseconds, nullptr);
}

void TaskRunner::Close() {
  {
    std::lock_guard lock(queue_->mutex);
    queue_->closed = true;
    queue_->tasks.clear();
  }
  timers_.clear();
  if (window_) SetWindowLongPtrW(window_.get(), GWLP_USERDATA, 0);
  window_.Reset();
}

void TaskRunner::RunQueued() {
  // A task may end the engine and with it this runner: only the shared queue
  // is touched after a task has run.
  std::shared_ptr<Queue> queue = queue_;
  while (true) {
    Task task;
    {
      std::lock_guard lock(queue->mutex);
      if (queue->closed || queue->tasks.empty()) return;
      task = std::move(queue->tasks.front());
      queue->tasks.pop_front();
    }
    RunGuarded(task);
  }
}

void TaskRunner::RunGuarded(const Task& task) {
  try {
    task();
  } catch (...) {
    OutputDebugStringW(L"flutter_windows stand-in: a platform task failed\n");
  }
}

LRESULT CALLBACK TaskRunner::WindowProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  auto* runner = reinterpret_cast<TaskRunner*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (runner == nullptr) return DefWindowProcW(hwnd, message, wparam, lparam);
  if (message == kRunTasks) {
    runner->RunQueued();
    return 0;
  }
  if (message == WM_TIMER) {
    KillTimer(hwnd, wparam);
    auto found = runner->timers_.find(wparam);
    if (found != runner->timers_.end()) {
      Task task = std::move(found->second);
      runner->timers_.erase(found);
      RunGuarded(task);
    }
    return 0;
  }
  return DefWindowProcW(hwnd, message, wparam, lparam);
}

}  // namespace velqa::standin
