#include "shell/console.h"

#include <cstdio>
#include <io.h>
#include <iostream>

#include "channel/embedding_api.h"

namespace {

// Reopens `stream` on the console's output; if that fails, makes its
// descriptor a copy of standard output's.
void RebindToConsole(FILE* stream, int fallback_descriptor) {
  FILE* reopened = nullptr;
  if (freopen_s(&reopened, "CONOUT$", "w", stream) != 0) {
    _dup2(_fileno(stdout), fallback_descriptor);
  }
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
  RebindToConsole(stdout, 1);
  RebindToConsole(stderr, 2);
  ResyncOutputStreams();
}

void SetUpConsole() {
  if (::AttachConsole(ATTACH_PARENT_PROCESS)) {
    // A GUI program's streams are not connected to the console it attaches
    // to; bind the ones that lead nowhere, and keep redirected ones.
    const bool bind_output = NeedsConsoleBinding(::GetStdHandle(STD_OUTPUT_HANDLE));
    const bool bind_error = NeedsConsoleBinding(::GetStdHandle(STD_ERROR_HANDLE));
    if (bind_output) RebindToConsole(stdout, 1);
    if (bind_error) RebindToConsole(stderr, 2);
    if (bind_output || bind_error) ResyncOutputStreams();
    return;
  }
  if (::IsDebuggerPresent()) OpenDebugConsole();
}
