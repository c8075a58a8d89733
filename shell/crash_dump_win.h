// Crash reports a user can hand over. Once installed, a crash of the process
// — an unhandled structured exception on any thread (a stack overflow too),
// std::terminate, an invalid-parameter or pure-virtual-call report of the C
// runtime, or abort — makes the crash watcher, a small process of its own
// started here, write a minidump velqa_YYYYMMDD_HHMMSS.dmp (threads,
// exception record, stacks) into the log directory and one ERROR record into
// the day's log; then the process ends with the exception code as its exit
// code. The five newest dumps are kept.
//
// The report is written from outside: the crashing process may have died
// holding the heap lock, the C runtime's stream locks or the logger's lock,
// and a thread of its own that needs any of them would wait forever. So the
// code that runs in the crashing process allocates nothing and takes no
// lock: it leaves the exception's address, thread and code in a page shared
// with the watcher, signals it, waits for it with a bound (not at all when
// the watcher is gone) and ends the process.
//
// What this cannot catch: crashes that never reach the handlers above. Code
// built against the Universal C Runtime (a real engine, plug-ins) ends
// abort, /GS failures and heap-corruption fail-fast through __fastfail,
// which skips the unhandled-exception filter; so does a crash in a library
// that installs its own filter, and a kill from outside. Those are left to
// Windows Error Reporting's local dumps, which the installer registers.
// std::terminate and pure virtual calls are caught only where this
// executable's own C++ runtime reports them; a library with a C++ runtime of
// its own ends such a crash in its abort, reported here only when that
// library shares this executable's C runtime.
//
// Threads: InstallCrashHandler once, on the main thread, first thing in
// start-up. The handlers themselves run on whichever thread crashes.
#ifndef VELQA_SHELL_CRASH_DUMP_WIN_H_
#define VELQA_SHELL_CRASH_DUMP_WIN_H_

#include <windows.h>

#include "shell/crash_channel_win.h"

namespace velqa::shell {

// How long a crashing thread waits for the watcher's report before it ends
// the process anyway.
inline constexpr DWORD kCrashReportPatienceMs = 20000;

// Starts the watcher (velqa_crash_watcher.exe beside this executable), shares
// the request page with it and installs the handlers. Without the watcher a
// crash only ends the process with its code.
void InstallCrashHandler();

}  // namespace velqa::shell

#endif  // VELQA_SHELL_CRASH_DUMP_WIN_H_
