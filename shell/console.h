// The console of a GUI process: attached when the program was started from a
// console, allocated only under a debugger, absent otherwise.
//
// Threads: the main thread, at start-up, before other threads write output.
#ifndef VELQA_SHELL_CONSOLE_H_
#define VELQA_SHELL_CONSOLE_H_

#include <windows.h>

// Attaches to the parent's console; when there is none and a debugger is
// present, opens a console of its own (OpenDebugConsole). After a successful
// attach, standard output and error that are not already redirected are bound
// to that console. When output then reaches a console, that console shows
// UTF-8 until the process ends (see Utf8ConsoleOutput).
void SetUpConsole();

// Allocates a console and binds standard output and error to it.
void OpenDebugConsole();

// True when a standard handle leads nowhere (none, invalid or closed) and may
// therefore be bound to a console; false for an inherited file, pipe or
// character device, which must be kept so that redirected output still works.
bool NeedsConsoleBinding(HANDLE standard_handle);

// The program writes UTF-8 bytes; a console decodes them with its output code
// page, which is the OEM one (437, 936, ...) unless somebody changes it. While
// this object lives, the console that `output` or `error` writes to uses UTF-8;
// afterwards it gets its previous code page back, since it is usually the
// parent's console (a cmd window the user keeps). Handles that are not a
// console (redirected to a file or pipe) change nothing: those get the UTF-8
// bytes as they are.
class Utf8ConsoleOutput {
 public:
  Utf8ConsoleOutput(HANDLE output, HANDLE error);
  ~Utf8ConsoleOutput();

  Utf8ConsoleOutput(const Utf8ConsoleOutput&) = delete;
  Utf8ConsoleOutput& operator=(const Utf8ConsoleOutput&) = delete;

 private:
  // The code page to put back; 0 when nothing was changed.
  UINT previous_code_page_ = 0;
};

#endif  // VELQA_SHELL_CONSOLE_H_
