// The process entry: console, COM, logger, the one-copy rule, then the
// top-level window and the message loop. Exit code 0 after a normal run and
// for a second copy; 1 when the window or the engine cannot be created.
#include <windows.h>
// After windows.h, which it needs.
#include <objbase.h>

#include <chrono>

#include "channel/engine_project.h"
#include "logging/console_output.h"
#include "logging/native_logger.h"
#include "shell/app_identity.h"
#include "shell/command_line.h"
#include "shell/console.h"
#include "shell/console_control.h"
#include "shell/crash_dump_win.h"
#include "shell/flutter_window.h"
#include "shell/single_instance.h"
#include "shell/startup_facts.h"

namespace {

// Where the window first appears and how large it is, in 96-dpi units.
constexpr Point kWindowOrigin{10, 10};
constexpr Size kWindowSize{420, 768};
// How long the exit waits for standard output to take the last lines.
constexpr std::chrono::milliseconds kLastLinesWait{1000};

void RunMessageLoop() {
  MSG message;
  while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
    ::TranslateMessage(&message);
    ::DispatchMessageW(&message);
  }
}

}  // namespace

int APIENTRY wWinMain(HINSTANCE, HINSTANCE, wchar_t*, int) {
  // First: the process runs elevated, and no library loaded from here on may
  // come from the current directory or PATH, where anybody may put one.
  ::SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_DEFAULT_DIRS);
  velqa::shell::InstallCrashHandler();
  SetUpConsole();
  ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);

  NativeLogger& logger = NativeLogger::GetInstance();
  logger.Initialize();
  logger.Info("应用启动", "Main");

  if (!AcquireSingleInstance()) {
    ActivateRunningInstance();
    ShowAlreadyRunningNotice();
    ::CoUninitialize();
    return 0;
  }
  logger.Info(DescribeStartupFacts(), "Main");

  // Relative paths: the engine resolves them against the executable's folder.
  flutter::EngineProject project = flutter::EngineProject::FromDataDirectory(L"data");
  project.entrypoint_arguments = CollectCommandLineArguments();

  int exit_code = 0;
  {
    FlutterWindow window(project);
    if (window.Create(kApplicationTitle, kWindowOrigin, kWindowSize)) {
      window.SetQuitOnExit(true);
      // Closing the console the host was started from ends it as "退出" does.
      SetConsoleExitWindow(window.GetHandle());
      RunMessageLoop();
      NoteExitStarted();
    } else {
      exit_code = 1;
    }
  }
  // Only once the window is gone, and with it the VpnManager whose sing-box
  // may take seconds to end, may another copy start: it would run a second
  // sing-box beside the dying one. The engine and plug-ins, which may use
  // COM, are gone too before COM is uninitialised.
  ReleaseSingleInstance();
  ::CoUninitialize();
  // A console that is being closed ends the process as soon as its handler
  // returns: the last console lines go first.
  velqa::logging::ConsoleOutput::Instance().Drain(kLastLinesWait);
  NoteExitCompleted();
  return exit_code;
}
