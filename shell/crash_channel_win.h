// What the host and its crash watcher (velqa_crash_watcher.exe, beside the
// host's executable) share: the request the crashing host leaves in a shared
// page, and the handles the watcher inherits, named on its command line.
//
// Threads: the host writes the request once, on the crashing thread, before
// it signals `crashed`; the watcher reads it after that signal.
#ifndef VELQA_SHELL_CRASH_CHANNEL_WIN_H_
#define VELQA_SHELL_CRASH_CHANNEL_WIN_H_

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>

namespace velqa::shell {

inline constexpr wchar_t kCrashWatcherFileName[] = L"velqa_crash_watcher.exe";

// Exception codes of the crashes that raise no structured exception; they
// stand in the dump's exception record and become the exit code. An invalid
// parameter and abort use the codes Windows itself reports for them.
inline constexpr DWORD kTerminateCrashCode = 0xE0564C01;
inline constexpr DWORD kPureVirtualCallCrashCode = 0xE0564C02;
inline constexpr DWORD kInvalidParameterCrashCode =
    0xC0000417;                                       // STATUS_INVALID_CRUNTIME_PARAMETER
inline constexpr DWORD kAbortCrashCode = 0x40000015;  // STATUS_FATAL_APP_EXIT

// At most this many dumps are kept; the watcher removes older ones after
// writing a new one.
inline constexpr int kMaxKeptCrashDumps = 5;

// The one crash the host reports. Addresses are the host's own.
struct CrashRequest {
  std::uint32_t thread_id;
  std::uint32_t code;
  std::uint64_t exception_pointers;  // EXCEPTION_POINTERS* on the crashed thread's stack
  std::uint64_t exception_address;
  char detail[256];  // NUL-terminated; what std::terminate was given, or empty
};

// Handles valid in the watcher (inherited from the host).
struct CrashWatcherHandles {
  HANDLE host = nullptr;     // the host process: synchronise, read, query, terminate
  HANDLE request = nullptr;  // file mapping holding one CrashRequest
  HANDLE crashed = nullptr;  // event: the host has written its request
  HANDLE reported = nullptr; // event: the watcher is done with it
};

// "H R C D": the handle values in decimal, in the order above.
std::wstring FormatCrashWatcherArguments(const CrashWatcherHandles& handles);
// Nullopt unless `arguments` (the command line after the program name) holds
// four non-zero numbers.
std::optional<CrashWatcherHandles> ParseCrashWatcherArguments(const std::wstring& arguments);

}  // namespace velqa::shell

#endif  // VELQA_SHELL_CRASH_CHANNEL_WIN_H_
