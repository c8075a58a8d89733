// Crashes the host process for the crash-report tests, the way the scripted
// Dart side asks (see dart_script.h). Only the stand-in engine can do this;
// the application itself has no such command.
//
// Threads: platform thread; with `on_worker` the crash happens on a new
// thread while the platform thread waits.
#ifndef VELQA_STANDINS_FLUTTER_WINDOWS_HOST_CRASH_WIN_H_
#define VELQA_STANDINS_FLUTTER_WINDOWS_HOST_CRASH_WIN_H_

#include "standins/flutter_windows/dart_script.h"

namespace velqa::standin {

// Does not return when the crash works.
void CrashHost(CrashKind kind, bool on_worker);

}  // namespace velqa::standin

#endif  // VELQA_STANDINS_FLUTTER_WINDOWS_HOST_CRASH_WIN_H_
