#include "shell/crash_dump_win.h"

// After windows.h, which they need.
#include <dbghelp.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>
#include <system_error>
#include <vector>

#include "base/win_resources_win.h"
#include "logging/log_directory.h"
#include "logging/native_logger.h"

namespace velqa::shell {
namespace {

namespace fs = std::filesystem;

// How long a crashing thread waits for the record and the dump before it ends
// the process anyway, and how long the record may wait for the logger's lock.
constexpr DWORD kWriterPatienceMs = 30000;
constexpr std::chrono::milliseconds kRecordPatience{2000};
// Stack the main thread keeps for its handler after an overflow.
constexpr ULONG kMainThreadStackGuarantee = 64 * 1024;
constexpr DWORD kWriterStackBytes = 256 * 1024;

using MiniDumpWriteDumpFn = decltype(&::MiniDumpWriteDump);

// Everything a crash needs, prepared by InstallCrashHandler. Plain static
// storage: nothing here is built or freed during a crash.
struct CrashState {
  std::wstring log_directory;
  MiniDumpWriteDumpFn write_dump = nullptr;
  base::UniqueHandle requested;  // set by the crashing thread
  base::UniqueHandle finished;   // set by the writer thread
  base::UniqueHandle writer;
  DWORD writer_id = 0;

  // The thread handling a crash (0: none yet). Claimed once; a second crash
  // on it or on the writer means the handling itself failed.
  std::atomic<DWORD> owner{0};
  std::atomic<DWORD> code{0};
  EXCEPTION_POINTERS* pointers = nullptr;
  const char* what = "";
  char detail[256] = {};
};

CrashState& State() {
  // Never destroyed: a crash during static destruction still finds it.
  static CrashState* state = new CrashState();
  return *state;
}

const char* DescribeCode(DWORD code) {
  switch (code) {
    case EXCEPTION_ACCESS_VIOLATION:
      return "访问冲突";
    case EXCEPTION_STACK_OVERFLOW:
      return "栈溢出";
    case EXCEPTION_ILLEGAL_INSTRUCTION:
      return "非法指令";
    case EXCEPTION_INT_DIVIDE_BY_ZERO:
      return "整数除以零";
    case EXCEPTION_IN_PAGE_ERROR:
      return "页面读取错误";
    case kInvalidParameterCrashCode:
      return "C 运行库参数无效";
    case kTerminateCrashCode:
      return "std::terminate";
    case kPureVirtualCallCrashCode:
      return "纯虚函数调用";
    case kAbortCrashCode:
      return "abort";
    default:
      return "未处理的异常";
  }
}

// Creates velqa_YYYYMMDD_HHMMSS.dmp (or _1 ... _9 when a dump of the same
// second exists) in the log directory; `name` gets its file name.
base::UniqueHandle CreateDumpFile(const CrashState& state, char (&name)[64]) {
  if (state.log_directory.empty()) {
    ::SetLastError(ERROR_PATH_NOT_FOUND);
    return base::UniqueHandle();
  }
  ::CreateDirectoryW(state.log_directory.c_str(), nullptr);
  SYSTEMTIME now{};
  ::GetLocalTime(&now);
  for (int attempt = 0; attempt < 10; ++attempt) {
    char suffix[8] = "";
    if (attempt > 0) std::snprintf(suffix, sizeof(suffix), "_%d", attempt);
    std::snprintf(name, sizeof(name), "velqa_%04u%02u%02u_%02u%02u%02u%s.dmp", now.wYear,
                  now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond, suffix);
    std::wstring path = state.log_directory + L'\\';
    for (const char* c = name; *c != '\0'; ++c) path += static_cast<wchar_t>(*c);
    base::UniqueHandle file(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                          FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file.is_valid() || ::GetLastError() != ERROR_FILE_EXISTS) return file;
  }
  return base::UniqueHandle();
}

// On the writer thread: the ERROR record, then the dump.
void WriteCrashReport(CrashState& state) {
  char name[64] = "";
  // Without dbghelp no file is made: an empty dump would only mislead.
  base::UniqueHandle file =
      state.write_dump != nullptr ? CreateDumpFile(state, name) : base::UniqueHandle();
  const DWORD create_error = file.is_valid() ? 0 : ::GetLastError();

  const EXCEPTION_RECORD* record = state.pointers->ExceptionRecord;
  char message[768];
  std::snprintf(message, sizeof(message),
                "程序崩溃: %s%s%s (异常代码 0x%08lX), 地址 0x%p, 线程 %lu", state.what,
                state.detail[0] != '\0' ? ": " : "", state.detail,
                static_cast<unsigned long>(state.code), record->ExceptionAddress,
                static_cast<unsigned long>(state.owner.load()));
  std::string text = message;
  if (file.is_valid()) {
    text += std::string(", 转储文件 ") + name;
  } else if (state.write_dump == nullptr) {
    text += ", 无法写转储文件: 缺少 dbghelp";
  } else {
    text += ", 无法创建转储文件: 错误 " + std::to_string(create_error);
  }
  NativeLogger::GetInstance().LogWithin(LogLevel::kError, text, "Main", kRecordPatience);

  if (!file.is_valid()) return;
  MINIDUMP_EXCEPTION_INFORMATION exception{};
  exception.ThreadId = state.owner.load();
  exception.ExceptionPointers = state.pointers;
  exception.ClientPointers = FALSE;
  state.write_dump(::GetCurrentProcess(), ::GetCurrentProcessId(), file.get(), MiniDumpNormal,
                   &exception, nullptr, nullptr);
}

[[noreturn]] void EndProcess(DWORD code) {
  ::TerminateProcess(::GetCurrentProcess(), code);
  // TerminateProcess on the own process does not return.
  std::abort();
}

DWORD WINAPI WriterThread(void*) noexcept {
  CrashState& state = State();
  ::WaitForSingleObject(state.requested.get(), INFINITE);
  try {
    WriteCrashReport(state);
  } catch (...) {
    // Out of memory while formatting: the process ends all the same.
  }
  ::SetEvent(state.finished.get());
  // The crashed thread may not run again (a second fault with its stack
  // used up), so the writer ends the process itself.
  EndProcess(state.code);
}

// Runs on the crashing thread, possibly with little stack left: it claims
// the crash, wakes the writer and waits for it, then ends the process.
[[noreturn]] void HandleCrash(EXCEPTION_POINTERS* pointers, const char* what) noexcept {
  CrashState& state = State();
  const DWORD self = ::GetCurrentThreadId();
  DWORD first = 0;
  if (!state.owner.compare_exchange_strong(first, self)) {
    // A crash on the writer means the report itself failed: end at once.
    // The crashed thread faulting again, or another thread crashing
    // meanwhile, leaves it to the writer, which ends the process.
    if (self != state.writer_id) {
      if (first == self && state.pointers != nullptr) ::SetEvent(state.requested.get());
      ::WaitForSingleObject(state.finished.get(), kWriterPatienceMs);
    }
    EndProcess(state.code);
  }
  state.code = pointers->ExceptionRecord->ExceptionCode;
  state.pointers = pointers;
  state.what = what != nullptr ? what : DescribeCode(state.code);
  if (state.writer.is_valid()) {
    ::SetEvent(state.requested.get());
    ::WaitForSingleObject(state.finished.get(), kWriterPatienceMs);
  }
  EndProcess(state.code);
}

// For the crashes that raise no exception: a record of `code` at the caller.
[[noreturn]] void HandleReportedCrash(DWORD code) noexcept {
  CONTEXT context{};
  ::RtlCaptureContext(&context);
  EXCEPTION_RECORD record{};
  record.ExceptionCode = code;
  record.ExceptionFlags = EXCEPTION_NONCONTINUABLE;
  record.ExceptionAddress = reinterpret_cast<void*>(context.Rip);
  EXCEPTION_POINTERS pointers{&record, &context};
  HandleCrash(&pointers, nullptr);
}

LONG WINAPI OnUnhandledException(EXCEPTION_POINTERS* pointers) noexcept {
  HandleCrash(pointers, nullptr);
}

void OnTerminate() noexcept {
  // Name the exception that was not caught, when there is one.
  try {
    if (std::exception_ptr current = std::current_exception()) std::rethrow_exception(current);
  } catch (const std::exception& e) {
    std::snprintf(State().detail, sizeof(State().detail), "%s", e.what());
  } catch (...) {
    std::snprintf(State().detail, sizeof(State().detail), "%s", "unknown exception");
  }
  HandleReportedCrash(kTerminateCrashCode);
}

void OnInvalidParameter(const wchar_t*, const wchar_t*, const wchar_t*, unsigned int,
                        uintptr_t) noexcept {
  HandleReportedCrash(kInvalidParameterCrashCode);
}

void OnPureVirtualCall() noexcept { HandleReportedCrash(kPureVirtualCallCrashCode); }

void OnAbortSignal(int) noexcept { HandleReportedCrash(kAbortCrashCode); }

bool IsDumpName(const std::wstring& name) {
  return name.size() > 10 && name.starts_with(L"velqa_") && name.ends_with(L".dmp");
}

}  // namespace

void PruneCrashDumps(const fs::path& log_directory, int keep) {
  std::error_code error;
  std::vector<fs::path> dumps;
  for (fs::directory_iterator it(log_directory, error), end; !error && it != end;
       it.increment(error)) {
    if (it->is_regular_file(error) && IsDumpName(it->path().filename().wstring())) {
      dumps.push_back(it->path());
    }
  }
  if (static_cast<int>(dumps.size()) <= keep) return;
  // The name holds the local time of the crash; a later name is a newer dump.
  std::sort(dumps.begin(), dumps.end());
  for (std::size_t i = 0; i + keep < dumps.size(); ++i) fs::remove(dumps[i], error);
}

void InstallCrashHandler() {
  CrashState& state = State();
  if (state.writer.is_valid()) return;
  try {
    const fs::path log_directory = velqa::logging::LogDirectory();
    if (!log_directory.empty()) {
      state.log_directory = log_directory.wstring();
      PruneCrashDumps(log_directory, kMaxKeptCrashDumps);
    }
  } catch (...) {
    // No directory: a crash still logs its record and ends with its code.
  }
  // From the system directory only: a dbghelp.dll beside the executable
  // could be anybody's.
  HMODULE dbghelp = ::LoadLibraryExW(L"dbghelp.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  // Kept loaded for the life of the process: a crash may come at any time.
  if (dbghelp != nullptr) {
    state.write_dump = reinterpret_cast<MiniDumpWriteDumpFn>(
        reinterpret_cast<void*>(::GetProcAddress(dbghelp, "MiniDumpWriteDump")));
    // Registers the process with dbghelp now, without reading any module's
    // symbols. Wine's dump writer otherwise does it during the crash and reads
    // the symbols of every loaded module, which can take half a minute.
    using SymInitializeFn = BOOL(WINAPI*)(HANDLE, PCWSTR, BOOL);
    auto initialize = reinterpret_cast<SymInitializeFn>(
        reinterpret_cast<void*>(::GetProcAddress(dbghelp, "SymInitializeW")));
    if (initialize != nullptr) initialize(::GetCurrentProcess(), nullptr, FALSE);
  }
  state.requested.Reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  state.finished.Reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  if (state.requested.is_valid() && state.finished.is_valid()) {
    state.writer.Reset(::CreateThread(nullptr, kWriterStackBytes, &WriterThread, nullptr,
                                      STACK_SIZE_PARAM_IS_A_RESERVATION, &state.writer_id));
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
