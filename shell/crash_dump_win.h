// Crash dumps a user can hand over. Once installed, a crash of the process —
// an unhandled structured exception on any thread, std::terminate, an
// invalid-parameter or pure-virtual-call report of the C runtime, or abort —
// writes one ERROR record into the day's log and a minidump (threads,
// exception record, stacks) named velqa_YYYYMMDD_HHMMSS.dmp into the log
// directory, then ends the process with the exception code as its exit code.
//
// Everything the crash needs (dbghelp, the writer thread, the directory's
// name) is prepared at installation: the crashing thread may have no stack
// left, so it only wakes the writer thread and waits for it, with a bound.
//
// Threads: InstallCrashHandler once, on the main thread, early in start-up.
// The handlers themselves run on whichever thread crashes.
#ifndef VELQA_SHELL_CRASH_DUMP_WIN_H_
#define VELQA_SHELL_CRASH_DUMP_WIN_H_

#include <windows.h>

#include <filesystem>

namespace velqa::shell {

// Exception codes of the crashes that raise no structured exception; they
// stand in the dump's exception record and become the exit code. An invalid
// parameter and abort use the codes Windows itself reports for them.
//
// std::terminate and pure virtual calls are caught where this executable's
// own C++ runtime reports them. A library with a C++ runtime of its own (the
// engine, plug-ins) ends such a crash in abort, which the shared C runtime
// reports here as kAbortCrashCode.
inline constexpr DWORD kTerminateCrashCode = 0xE0564C01;
inline constexpr DWORD kPureVirtualCallCrashCode = 0xE0564C02;
inline constexpr DWORD kInvalidParameterCrashCode =
    0xC0000417;                                       // STATUS_INVALID_CRUNTIME_PARAMETER
inline constexpr DWORD kAbortCrashCode = 0x40000015;  // STATUS_FATAL_APP_EXIT

// At most this many dumps are kept; older ones are removed by the next start.
inline constexpr int kMaxKeptCrashDumps = 5;

// Removes all but the kMaxKeptCrashDumps newest velqa_*.dmp files of the log
// directory, prepares the writer and installs the handlers. Without dbghelp a
// crash still writes its record; without the writer thread it only ends the
// process with its code.
void InstallCrashHandler();

// The dump removal alone, for `log_directory`: the newest by name (which
// holds the time of the crash) stay. Files of other names are left alone.
void PruneCrashDumps(const std::filesystem::path& log_directory, int keep);

}  // namespace velqa::shell

#endif  // VELQA_SHELL_CRASH_DUMP_WIN_H_
