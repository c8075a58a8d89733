// velqa_quit: asks the running copy of the application to exit the way the
// tray menu's "退出" does (the same command to its top-level window), then
// waits for it to end. For desktops without a tray area, and for scripts.
//
// Exit codes: 0 the copy has ended; 1 no copy is running; 2 the copy was
// asked but still runs after the wait; 3 the request could not be posted.
//
// Threads: one, the main thread.
#include <windows.h>

#include <cstdio>

#include "shell/app_identity.h"
#include "shell/win32_window.h"
#include "shell/win_resources.h"

namespace {

constexpr DWORD kExitWaitMs = 15000;

}  // namespace

int wmain() {
  HWND window = ::FindWindowW(kWindowClassName, kApplicationTitle);
  if (window == nullptr) {
    std::fputs("velqa_quit: no running copy\n", stderr);
    return 1;
  }
  DWORD pid = 0;
  ::GetWindowThreadProcessId(window, &pid);
  // Opened before asking, so that the process cannot end unobserved between.
  velqa::shell::UniqueHandle process(::OpenProcess(SYNCHRONIZE, FALSE, pid));
  if (!::PostMessageW(window, WM_COMMAND, MAKEWPARAM(kTrayExitCommand, 0), 0)) {
    std::fprintf(stderr, "velqa_quit: could not ask the running copy to exit (error %lu)\n",
                 ::GetLastError());
    return 3;
  }
  bool ended = false;
  if (process.IsValid()) {
    ended = ::WaitForSingleObject(process.Get(), kExitWaitMs) == WAIT_OBJECT_0;
  } else {
    // Without a process handle, the window's disappearance tells.
    const ULONGLONG deadline = ::GetTickCount64() + kExitWaitMs;
    while (!(ended = !::IsWindow(window)) && ::GetTickCount64() < deadline) ::Sleep(50);
  }
  if (!ended) {
    std::fputs("velqa_quit: the running copy was asked to exit but still runs\n", stderr);
    return 2;
  }
  return 0;
}
