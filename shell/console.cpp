#include "shell/console.h"

#include <io.h>
#include <cstdio>
#include <iostream>

#include "base/win_resources_win.h"
#include "channel/embedding_api.h"
#include "shell/console_control.h"

namespace {

// Reopens `stream` on the console's output; if that fails, makes its
// descriptor a copy of standard output's.
void RebindToConsole(FILE* stream, int fallback_descriptor) {
  FILE* reopened = nullptr;
  if (freopen_s(&reopened, "CONOUT$", "w", stream) != 0) {
    _dup2(_fileno(stdout), fallback_descriptor);
  }
}

// Binds one standard stream to the console: the Win32 standard handle, so
// that code writing through it follows, and the C runtime's stream.
void BindToConsole(DWORD standard_id, FILE* stream, int fallback_descriptor) {
  velqa::base::UniqueHandle console(::CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE,
                                                  FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                                  OPEN_EXISTING, 0, nullptr));
  // A standard handle belongs to the process for the rest of its life.
  if (console.is_valid()) ::SetStdHandle(standard_id, console.Release());
  RebindToConsole(stream, fallback_descriptor);
}

// Everything that writes output follows the rebound streams: the C++ streams,
// and the engine's own copy of the C runtime's.
void ResyncOutputStreams() {
  std::ios::sync_with_stdio(true);
  FlutterDesktopResyncOutputStreams();
}

}  // namespace

bool NeedsConsoleBinding(HANDLE standard_handle) {
  if (standard_handle == nullptr || standard_handle == INVALID_HANDLE_VALUE) return true;
  // FILE_TYPE_UNKNOWN with an error is a handle that is not (or no longer)
  // open; anything else is a real destination somebody chose for us.
  ::SetLastError(NO_ERROR);
  const DWORD type = ::GetFileType(standard_handle);
  return type == FILE_TYPE_UNKNOWN && ::GetLastError() != NO_ERROR;
}

void OpenDebugConsole() {
  if (!::AllocConsole()) return;
  BindToConsole(STD_OUTPUT_HANDLE, stdout, 1);
  BindToConsole(STD_ERROR_HANDLE, stderr, 2);
  ResyncOutputStreams();
  InstallConsoleControlHandler();
}

void SetUpConsole() {
  const bool attached = ::AttachConsole(ATTACH_PARENT_PROCESS) != FALSE;
  const DWORD attach_error = attached ? NO_ERROR : ::GetLastError();
  // Denied means the process has a console already (Wine gives a GUI
  // program its parent's); that one serves as well.
  const bool has_console = attached || attach_error == ERROR_ACCESS_DENIED;
  if (has_console) {
    // A GUI program's streams are not connected to the console it attaches
    // to; bind the ones that lead nowhere, and keep redirected ones.
    const bool bind_output = NeedsConsoleBinding(::GetStdHandle(STD_OUTPUT_HANDLE));
    const bool bind_error = NeedsConsoleBinding(::GetStdHandle(STD_ERROR_HANDLE));
    if (bind_output) BindToConsole(STD_OUTPUT_HANDLE, stdout, 1);
    if (bind_error) BindToConsole(STD_ERROR_HANDLE, stderr, 2);
    if (bind_output || bind_error) ResyncOutputStreams();
    InstallConsoleControlHandler();
    return;
  }
  if (::IsDebuggerPresent()) OpenDebugConsole();
}
