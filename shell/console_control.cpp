#include "shell/console_control.h"

#include <atomic>

#include "shell/win32_window.h"

namespace {

std::atomic<HWND> g_exit_window{nullptr};
// Set once the message loop has ended: the window is being torn down (sing-box
// stopping), so an event waits for that instead of ending the process now.
std::atomic<bool> g_exit_started{false};
// Manual reset: every handler thread that waits sees the exit completed.
// Created once, before the handler can run, and kept for the process's life.
HANDLE ExitCompletedEvent() {
  static const HANDLE event = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  return event;
}

}  // namespace

BOOL WINAPI ConsoleControlHandler(DWORD event) {
  switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
      return TRUE;
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT: {
      const HWND window = g_exit_window.load();
      if (!g_exit_started.load()) {
        // The same command as the tray menu's "退出" (high word 0: a menu's).
        if (window == nullptr ||
            !::PostMessageW(window, WM_COMMAND, MAKEWPARAM(kTrayExitCommand, 0), 0)) {
          return FALSE;
        }
      }
      const HANDLE completed = ExitCompletedEvent();
      if (completed != nullptr) ::WaitForSingleObject(completed, kConsoleExitWaitMs);
      return TRUE;
    }
    default:
      return FALSE;
  }
}

void InstallConsoleControlHandler() {
  ExitCompletedEvent();
  ::SetConsoleCtrlHandler(ConsoleControlHandler, TRUE);
}

void SetConsoleExitWindow(HWND window) { g_exit_window.store(window); }

void NoteExitStarted() {
  g_exit_started.store(true);
  g_exit_window.store(nullptr);
}

void NoteExitCompleted() {
  const HANDLE completed = ExitCompletedEvent();
  if (completed != nullptr) ::SetEvent(completed);
}
