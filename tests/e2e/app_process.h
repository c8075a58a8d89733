// Drives the built application from a test: starts the bundle's
// velqa_assistant.exe with arguments, captures what it writes, and ends it.
//
// Threads: an AppProcess is used by the test thread; its output reader runs
// on a thread of its own and is joined by the destructor.
#ifndef VELQA_TESTS_E2E_APP_PROCESS_H_
#define VELQA_TESTS_E2E_APP_PROCESS_H_

#include <windows.h>

#include <atomic>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "base/win_resources_win.h"

namespace velqa::e2e {

// How long the application may take to start, and the image name of the
// sing-box it starts.
inline constexpr DWORD kStartTimeoutMs = 30000;
inline constexpr wchar_t kSingBoxImage[] = L"sing-box-amd64.exe";

// The bundle assembled by the build: <build>\bundle beside <build>\bin.
std::filesystem::path BundleDirectory();

// One argument quoted so that CommandLineToArgvW gives it back unchanged.
std::wstring QuoteArgument(const std::wstring& argument);

class AppProcess {
 public:
  AppProcess() = default;
  // Ends the process if it still runs, then stops the output reader.
  ~AppProcess();

  AppProcess(const AppProcess&) = delete;
  AppProcess& operator=(const AppProcess&) = delete;

  // Starts `executable` with `arguments` in `working_directory`, its standard
  // output and error going into one pipe this object reads (or, without
  // `redirect_output`, as a console's shell starts a program: with this
  // program's console). False (with the error code in `error`) when the
  // process could not be created.
  bool Start(const std::filesystem::path& executable, const std::vector<std::wstring>& arguments,
             const std::filesystem::path& working_directory, DWORD* error = nullptr,
             bool redirect_output = true);

  // The exit code once the process has ended within `timeout_ms`.
  std::optional<DWORD> WaitForExit(DWORD timeout_ms);
  bool IsRunning() const;
  void Kill();

  DWORD pid() const { return pid_; }
  HANDLE handle() const { return process_.get(); }
  // Stops (or resumes) reading the output pipe, which stays open: a
  // launcher that captured the output and lives on without reading it.
  void PauseReading(bool paused = true) { paused_ = paused; }
  // Everything read from the pipe so far.
  std::string Output();
  // Waits until the output holds `text`.
  bool WaitForOutput(const std::string& text, DWORD timeout_ms);

 private:
  void ReadOutput();

  base::UniqueHandle process_;
  base::UniqueHandle output_read_;
  DWORD pid_ = 0;
  std::atomic<bool> stop_reading_{false};
  std::atomic<bool> paused_{false};
  std::thread reader_;
  std::mutex output_mutex_;
  std::string output_;
};

// The application's top-level window belonging to `pid` (class and title of
// the application), or null.
HWND FindAppWindow(DWORD pid);

// Polls `condition` every 20 ms until it holds or `timeout_ms` passes.
template <typename Condition>
bool WaitFor(Condition condition, DWORD timeout_ms) {
  const ULONGLONG deadline = ::GetTickCount64() + timeout_ms;
  for (;;) {
    if (condition()) return true;
    if (::GetTickCount64() >= deadline) return false;
    ::Sleep(20);
  }
}

// Processes whose parent is `parent_pid`, by image file name (e.g.
// "sing-box-amd64.exe"; compared without regard to case).
std::vector<DWORD> ChildProcesses(DWORD parent_pid, const std::wstring& image_name);

}  // namespace velqa::e2e

#endif  // VELQA_TESTS_E2E_APP_PROCESS_H_
