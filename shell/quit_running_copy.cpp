// velqa_quit: asks the running copy of the application to exit the way the
// tray menu's "退出" does (the same command to its top-level window), then
// waits for it to end. For desktops without a tray area, and for scripts.
//
// Exit codes: 0 the copy has ended; 1 no copy is running; 2 the copy was
// asked but still runs after the wait; 3 the request could not be posted.
//
// Threads: one, the main thread.
#include <windows.h>

#include <string>

#include "base/stderr_line.h"
#include "base/win_resources_win.h"
#include "shell/app_identity.h"
#include "shell/win32_window.h"

namespace {

constexpr DWORD kExitWaitMs = 15000;

}  // namespace

int wmain() {
  HWND window = ::FindWindowW(kWindowClassName, kApplicationTitle);
  if (window == nullptr) {
    velqa::base::WriteStderrLine("velqa_quit: no running copy");
    return 1;
  }
  DWORD pid = 0;
  ::GetWindowThreadProcessId(window, &pid);
  // Opened before asking, so that the process cannot end unobserved between.
  velqa::base::UniqueHandle process(::OpenProcess(SYNCHRONIZE, FALSE, pid));
  if (!::PostMessageW(window, WM_COMMAND, MAKEWPARAM(kTrayExitCommand, 0), 0)) {
    velqa::base::WriteStderrLine("velqa_quit: could not ask the running copy to exit (error ",
                                 std::to_string(::GetLastError()) + ")");
    return 3;
  }
  bool ended = false;
  if (process.is_valid()) {
    ended = ::WaitForSingleObject(process.get(), kExitWaitMs) == WAIT_OBJECT_0;
  } else {
    // Without a process handle, the window's disappearance tells.
    const ULONGLONG deadline = ::GetTickCount64() + kExitWaitMs;
    while (!(ended = !::IsWindow(window)) && ::GetTickCount64() < deadline) ::Sleep(50);
  }
  if (!ended) {
    velqa::base::WriteStderrLine("velqa_quit: the running copy was asked to exit but still runs");
    return 2;
  }
  return 0;
}
