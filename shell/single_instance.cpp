#include "shell/single_instance.h"

#include <windows.h>

#include <utility>

#include "base/win_resources_win.h"
#include "shell/app_identity.h"

namespace {

// Held from a successful AcquireSingleInstance until ReleaseSingleInstance;
// the process exiting releases it too.
velqa::base::UniqueHandle& SingleInstanceMutex() {
  static velqa::base::UniqueHandle mutex;
  return mutex;
}

}  // namespace

bool AcquireSingleInstance() {
  velqa::base::UniqueHandle mutex(::CreateMutexW(nullptr, FALSE, kSingleInstanceMutexName));
  // Read at once: nothing may run between the call and the error code.
  const DWORD error = ::GetLastError();
  // Without a mutex we cannot tell; starting is better than refusing to.
  if (!mutex.is_valid()) return true;
  if (error == ERROR_ALREADY_EXISTS) return false;  // `mutex` closes our handle
  SingleInstanceMutex() = std::move(mutex);
  return true;
}

void ReleaseSingleInstance() { SingleInstanceMutex().Reset(); }

void ActivateRunningInstance() {
  HWND window = ::FindWindowW(kWindowClassName, kApplicationTitle);
  if (window == nullptr) return;
  ::SetForegroundWindow(window);
  if (::IsIconic(window)) ::ShowWindow(window, SW_RESTORE);
  ::FlashWindow(window, TRUE);
}

void ShowAlreadyRunningNotice() {
  // This copy has just handed the foreground to the running one, whose window
  // would cover the notice. The notice asks for the foreground back, and stays
  // on top should the system refuse that to a process that gave it away.
  ::MessageBoxW(nullptr, kAlreadyRunningText, kAlreadyRunningCaption,
                MB_OK | MB_ICONINFORMATION | MB_SETFOREGROUND | MB_TOPMOST);
}
