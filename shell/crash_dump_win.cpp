#include "shell/crash_dump_win.h"

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <string>
#include <vector>

#include "base/proc_thread_attributes_win.h"
#include "base/utf8_path.h"
#include "base/win_resources_win.h"
#include "logging/executable_directory.h"

namespace velqa::shell {
namespace {

// Stack the main thread keeps for its handler after an overflow.
constexpr ULONG kMainThreadStackGuarantee = 64 * 1024;
// What the watcher may do with the host: wait for it, read it for the dump
// and end it once the report is written.
constexpr DWORD kWatcherRights =
    SYNCHRONIZE | PROCESS_QUERY_INFORMATION | PROCESS_VM_READ | PROCESS_TERMINATE;

// Everything a crash needs, prepared by InstallCrashHandler and never freed:
// a crash during static destruction still finds it. Constant-initialised, so
// the crash path takes no guard of a function-local static.
struct CrashState {
  CrashRequest* request = nullptr;  // the page shared with the watcher
  HANDLE crashed = nullptr;         // set here, once the request is written
  HANDLE reported = nullptr;        // set by the watcher
  HANDLE watcher = nullptr;         // the watcher's process: signalled when it is gone
  // The thread handling a crash (0: none yet). Claimed once.
  std::atomic<DWORD> owner{0};
  std::atomic<DWORD> code{0};
};
constinit CrashState crash_state;

[[noreturn]] void EndProcess(DWORD code) {
  ::TerminateProcess(::GetCurrentProcess(), code);
  // TerminateProcess on the own process does not return.
  std::abort();
}

// Until the watcher says it is done, it is gone, or the patience runs out.
void WaitForReport() {
  if (crash_state.watcher == nullptr) return;
  const HANDLE waits[] = {crash_state.reported, crash_state.watcher};
  ::WaitForMultipleObjects(2, waits, FALSE, kCrashReportPatienceMs);
}

// Returns for the first crash. A later one (another thread, or this thread
// faulting again while it reports) waits for the first report and ends the
// process with the first crash's code, or with its own `code` when the first
// has not stored one yet: never with 0, which would read as success.
void ClaimCrash(DWORD code) {
  const DWORD self = ::GetCurrentThreadId();
  DWORD first = 0;
  if (crash_state.owner.compare_exchange_strong(first, self)) return;
  if (first == self && crash_state.crashed != nullptr) ::SetEvent(crash_state.crashed);
  WaitForReport();
  const DWORD first_code = crash_state.code.load();
  EndProcess(first_code != 0 ? first_code : code);
}

// On the crashing thread, with possibly little stack and the heap or a
// stream lock held by anyone: plain stores, one event, one bounded wait.
[[noreturn]] void ReportClaimedCrash(EXCEPTION_POINTERS* pointers) noexcept {
  const DWORD code = pointers->ExceptionRecord->ExceptionCode;
  crash_state.code = code;
  if (CrashRequest* request = crash_state.request) {
    request->thread_id = ::GetCurrentThreadId();
    request->code = code;
    request->exception_pointers = reinterpret_cast<std::uintptr_t>(pointers);
    request->exception_address =
        reinterpret_cast<std::uintptr_t>(pointers->ExceptionRecord->ExceptionAddress);
    ::SetEvent(crash_state.crashed);
    WaitForReport();
  }
  EndProcess(code);
}

// For the crashes that raise no exception: a record of `code` at the caller,
// on this thread's stack, where the watcher reads it while this thread waits.
[[noreturn]] void ReportClaimedCrash(DWORD code) noexcept {
  CONTEXT context{};
  ::RtlCaptureContext(&context);
  EXCEPTION_RECORD record{};
  record.ExceptionCode = code;
  record.ExceptionFlags = EXCEPTION_NONCONTINUABLE;
  record.ExceptionAddress = reinterpret_cast<void*>(context.Rip);
  EXCEPTION_POINTERS pointers{&record, &context};
  ReportClaimedCrash(&pointers);
}

LONG WINAPI OnUnhandledException(EXCEPTION_POINTERS* pointers) noexcept {
  ClaimCrash(pointers->ExceptionRecord->ExceptionCode);
  ReportClaimedCrash(pointers);
}

// Copies what the uncaught exception says into the request. `throw;` hands
// the exception being handled on without copying it (rethrow_exception would
// allocate), and only when there is one: with none it would end in terminate
// again.
void NoteTerminateReason() noexcept {
  CrashRequest* request = crash_state.request;
  if (request == nullptr || !std::current_exception()) return;
  try {
    throw;
  } catch (const std::exception& e) {
    std::snprintf(request->detail, sizeof(request->detail), "%s", e.what());
  } catch (...) {
    std::snprintf(request->detail, sizeof(request->detail), "%s", "unknown exception");
  }
}

void OnTerminate() noexcept {
  ClaimCrash(kTerminateCrashCode);
  NoteTerminateReason();
  ReportClaimedCrash(kTerminateCrashCode);
}

void OnInvalidParameter(const wchar_t*, const wchar_t*, const wchar_t*, unsigned int,
                        uintptr_t) noexcept {
  ClaimCrash(kInvalidParameterCrashCode);
  ReportClaimedCrash(kInvalidParameterCrashCode);
}

void OnPureVirtualCall() noexcept {
  ClaimCrash(kPureVirtualCallCrashCode);
  ReportClaimedCrash(kPureVirtualCallCrashCode);
}

void OnAbortSignal(int) noexcept {
  ClaimCrash(kAbortCrashCode);
  ReportClaimedCrash(kAbortCrashCode);
}

// An inheritable handle for the watcher; null when it cannot be made.
base::UniqueHandle Inheritable(HANDLE handle, DWORD rights) {
  HANDLE copy = nullptr;
  if (!::DuplicateHandle(::GetCurrentProcess(), handle, ::GetCurrentProcess(), &copy, rights,
                         TRUE, 0)) {
    return base::UniqueHandle();
  }
  return base::UniqueHandle(copy);
}

// Shares the request page and two events with a new watcher process, which
// inherits exactly those handles and one to this process. Fills crash_state
// only when the watcher runs.
void StartWatcher() {
  const std::string directory = logging::ExecutableDirectory();
  if (directory.empty()) return;
  const std::filesystem::path executable = base::PathFromUtf8(directory) / kCrashWatcherFileName;

  base::UniqueHandle mapping(::CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                                  sizeof(CrashRequest), nullptr));
  base::UniqueMappedView view(
      mapping ? ::MapViewOfFile(mapping.get(), FILE_MAP_WRITE, 0, 0, sizeof(CrashRequest))
              : nullptr);
  base::UniqueHandle crashed(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  base::UniqueHandle reported(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  if (!view || !crashed || !reported) return;

  base::UniqueHandle host = Inheritable(::GetCurrentProcess(), kWatcherRights);
  base::UniqueHandle mapping_copy = Inheritable(mapping.get(), FILE_MAP_READ);
  base::UniqueHandle crashed_copy = Inheritable(crashed.get(), SYNCHRONIZE);
  base::UniqueHandle reported_copy = Inheritable(reported.get(), EVENT_MODIFY_STATE);
  if (!host || !mapping_copy || !crashed_copy || !reported_copy) return;
  const CrashWatcherHandles shared{host.get(), mapping_copy.get(), crashed_copy.get(), reported_copy.get()};

  HANDLE inherited[] = {shared.host, shared.request, shared.crashed, shared.reported};
  base::ProcThreadAttributes attributes;
  if (!attributes.Initialize(1) ||
      !attributes.Update(PROC_THREAD_ATTRIBUTE_HANDLE_LIST, inherited, sizeof inherited)) {
    return;
  }
  STARTUPINFOEXW startup{};
  startup.StartupInfo.cb = sizeof startup;
  // No busy cursor for a program that never shows a window.
  startup.StartupInfo.dwFlags = STARTF_FORCEOFFFEEDBACK;
  startup.lpAttributeList = attributes.get();
  std::wstring command = L"\"" + executable.wstring() + L"\" " + FormatCrashWatcherArguments(shared);
  PROCESS_INFORMATION info{};
  // In the executable's folder: a current directory is held open, and the
  // host's may be one the user wants to remove.
  if (!::CreateProcessW(executable.c_str(), command.data(), nullptr, nullptr, TRUE,
                        EXTENDED_STARTUPINFO_PRESENT, nullptr,
                        base::PathFromUtf8(directory).c_str(), &startup.StartupInfo, &info)) {
    return;
  }
  base::UniqueHandle watcher(info.hProcess);
  const base::UniqueHandle thread(info.hThread);

  crash_state.request = static_cast<CrashRequest*>(view.Release());
  crash_state.crashed = crashed.Release();
  crash_state.reported = reported.Release();
  crash_state.watcher = watcher.Release();
}

}  // namespace

void InstallCrashHandler() {
  if (crash_state.watcher != nullptr) return;
  try {
    StartWatcher();
  } catch (...) {
    // Out of memory at start-up: a crash still ends the process with its code.
  }
  ULONG guarantee = kMainThreadStackGuarantee;
  ::SetThreadStackGuarantee(&guarantee);
  ::SetUnhandledExceptionFilter(&OnUnhandledException);
  std::set_terminate(&OnTerminate);
  _set_invalid_parameter_handler(&OnInvalidParameter);
  _set_purecall_handler(&OnPureVirtualCall);
  std::signal(SIGABRT, &OnAbortSignal);
  // abort's notice would otherwise be a message box that waits for the user
  // before the crash is reported.
  _set_error_mode(_OUT_TO_STDERR);
}

}  // namespace velqa::shell

#if defined(__GNUC__)
// The Itanium C++ ABI (GCC, Clang) calls this instead of the C runtime's
// purecall handler; the runtime library's version would end in std::terminate
// and hide what happened.
extern "C" void __cxa_pure_virtual() { velqa::shell::OnPureVirtualCall(); }
#endif
