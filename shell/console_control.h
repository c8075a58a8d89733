// Console control events of a host started from a console. The console is
// the user's shell window: Ctrl+C and Ctrl+Break are meant for the shell's
// foreground program, not for a window application that merely shows its
// lines there, so they are ignored. Closing the console, logging off or
// shutting down ends the host the way the tray's "退出" does (sing-box
// stopped, last records written, tray icon removed) within the few seconds
// the system waits; without a handler the system would end the process at
// once on its handler thread, leaving sing-box and a ghost tray icon.
//
// Threads: InstallConsoleControlHandler, SetConsoleExitWindow and
// NoteExitStarted on the main
// thread; the system calls ConsoleControlHandler on a thread of its own;
// NoteExitCompleted from the thread that finishes the exit.
#ifndef VELQA_SHELL_CONSOLE_CONTROL_H_
#define VELQA_SHELL_CONSOLE_CONTROL_H_

#include <windows.h>

// How long a close, logoff or shutdown event waits for the normal exit; the
// system ends the process 5 s after a close event.
inline constexpr DWORD kConsoleExitWaitMs = 4500;

void InstallConsoleControlHandler();

// The window that gets the tray's exit command when the console goes away;
// null while there is none (the event then ends the process as the system
// would, since nothing has been started that needs an orderly stop).
void SetConsoleExitWindow(HWND window);

// The message loop has ended and the exit is under way; from now on an event
// waits for NoteExitCompleted instead of asking the window again.
void NoteExitStarted();

// The normal exit is done; a waiting handler returns.
void NoteExitCompleted();

// The handler InstallConsoleControlHandler installs: TRUE for Ctrl+C and
// Ctrl+Break (ignored); for close, logoff and shutdown it posts the exit
// command (unless the exit has started already), waits until
// NoteExitCompleted (at most kConsoleExitWaitMs) and returns TRUE; FALSE for
// anything else, and when there is no window yet.
BOOL WINAPI ConsoleControlHandler(DWORD event);

#endif  // VELQA_SHELL_CONSOLE_CONTROL_H_
