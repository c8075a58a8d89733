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
// to that console, and its control events are handled (shell/console_control.h).
// Text reaches a console as UTF-16 (base/standard_text.h): its code page,
// which belongs to the user's shell, is never changed.
void SetUpConsole();

// Allocates a console and binds standard output and error to it.
void OpenDebugConsole();

// True when a standard handle leads nowhere (none, invalid or closed) and may
// therefore be bound to a console; false for an inherited file, pipe or
// character device, which must be kept so that redirected output still works.
bool NeedsConsoleBinding(HANDLE standard_handle);

#endif  // VELQA_SHELL_CONSOLE_H_
