// velqa_crash_watcher.exe: started by the host at start-up with the handles
// of crash_channel_win.h, it waits, costing nothing, until the host either
// ends (it then ends too) or reports a crash. For a crash it writes the
// report from outside the crashed process (crash_report_win.h), where no
// lock the crash left taken can stop it, tells the host it is done and ends
// the host with the crash's code.
//
// A GUI program with no window: it gets no console, so a Ctrl+C or the
// closing of the console the host was started from cannot end it.
#include <windows.h>

#include <cstring>
#include <optional>

#include "base/system_library_win.h"
#include "base/win_resources_win.h"
#include "logging/log_directory.h"
#include "shell/crash_channel_win.h"
#include "shell/crash_watcher/crash_report_win.h"

namespace {

using velqa::base::SystemFunction;
using velqa::base::UniqueHandle;
using velqa::base::UniqueMappedView;
using velqa::base::UniqueModule;
using velqa::shell::CrashRequest;
using velqa::shell::MiniDumpWriteDumpFn;

// The dump writer of `dbghelp` (from System32: a dbghelp.dll beside the
// executable could be anybody's), which stays loaded until the watcher ends.
MiniDumpWriteDumpFn LoadDumpWriter(const UniqueModule& dbghelp, HANDLE host) {
  // Registers the host with dbghelp now, without reading any module's
  // symbols. Wine's dump writer otherwise does it during the crash and reads
  // the symbols of every loaded module, which can take half a minute.
  using SymInitializeFn = BOOL(WINAPI*)(HANDLE, PCWSTR, BOOL);
  const auto initialize = SystemFunction<SymInitializeFn>(dbghelp, "SymInitializeW");
  if (initialize != nullptr) initialize(host, nullptr, FALSE);
  return SystemFunction<MiniDumpWriteDumpFn>(dbghelp, "MiniDumpWriteDump");
}

// The command line after the program name.
std::wstring Arguments() {
  const wchar_t* line = ::GetCommandLineW();
  bool quoted = false;
  for (; *line != L'\0'; ++line) {
    if (*line == L'"') quoted = !quoted;
    if (!quoted && (*line == L' ' || *line == L'\t')) break;
  }
  return line;
}

}  // namespace

// STATUS_FATAL_APP_EXIT: what Windows itself reports for an application that
// ended on a fatal error without saying which.
constexpr UINT kUnknownCrashExitCode = 0x40000015;

int WINAPI wWinMain(HINSTANCE, HINSTANCE, wchar_t*, int) {
  ::SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
  const std::optional<velqa::shell::CrashWatcherHandles> handles =
      velqa::shell::ParseCrashWatcherArguments(Arguments());
  if (!handles) return 2;
  const UniqueHandle host(handles->host);
  const UniqueHandle crashed(handles->crashed);
  const UniqueHandle reported(handles->reported);
  UniqueMappedView view;
  {
    const UniqueHandle mapping(handles->request);
    view.Reset(::MapViewOfFile(mapping.get(), FILE_MAP_READ, 0, 0, sizeof(CrashRequest)));
  }
  if (!view) return 3;
  const UniqueModule dbghelp = velqa::base::LoadSystemLibrary(L"dbghelp.dll");
  const MiniDumpWriteDumpFn write_dump = LoadDumpWriter(dbghelp, host.get());

  const HANDLE waits[] = {crashed.get(), host.get()};
  if (::WaitForMultipleObjects(2, waits, FALSE, INFINITE) != WAIT_OBJECT_0) return 0;

  CrashRequest request;
  std::memcpy(&request, view.get(), sizeof(request));
  velqa::shell::WriteCrashReport(host.get(), request, velqa::logging::LogDirectory(), write_dump);
  ::SetEvent(reported.get());
  // The crashed thread may not run again (a second fault with its stack used
  // up), so the host is ended from here as well.
  // A request that a second fault cut short before its code was stored
  // holds 0, which would read as a clean exit: a crash never ends with 0.
  ::TerminateProcess(host.get(), request.code != 0 ? request.code : kUnknownCrashExitCode);
  return 0;
}
