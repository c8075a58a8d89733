// stop_running INSTALL_DIR [TIMEOUT_MS]
//
// Run by the installer and the uninstaller before they touch the program
// files: asks every running copy of the application to exit, waits for it
// (10 s unless told otherwise), then ends sing-box processes left running from
// INSTALL_DIR. Exit code 0 when nothing of the application runs any more, 1
// when something did not end in time (listed on standard output), 3 when one
// of those is a copy in another user's session, 2 for a wrong command line.
//
// Setup reads the output through a pipe in the system's ANSI code page unless
// it starts with a UTF-16 byte-order mark, so that is what a pipe or file
// gets; a console gets the text as such.
#include <windows.h>

#include <cwchar>
#include <string>

#include "installer/stop_running/running_copies.h"

namespace {

constexpr DWORD kDefaultTimeoutMs = 10000;
constexpr int kInOtherSession = 3;

void PrintLine(const std::wstring& line) {
  static bool mark_written = false;
  const HANDLE out = ::GetStdHandle(STD_OUTPUT_HANDLE);
  if (out == nullptr || out == INVALID_HANDLE_VALUE) return;
  std::wstring text = line + L"\r\n";
  DWORD mode = 0;
  DWORD written = 0;
  if (::GetConsoleMode(out, &mode)) {
    ::WriteConsoleW(out, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    return;
  }
  if (!mark_written) text.insert(text.begin(), L'\xFEFF');
  mark_written = true;
  ::WriteFile(out, text.data(), static_cast<DWORD>(text.size() * sizeof(wchar_t)), &written,
              nullptr);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 2 || argc > 3 || argv[1][0] == L'\0') {
    PrintLine(L"usage: stop_running INSTALL_DIR [TIMEOUT_MS]");
    return 2;
  }
  DWORD timeout_ms = kDefaultTimeoutMs;
  if (argc == 3) {
    wchar_t* end = nullptr;
    const unsigned long value = std::wcstoul(argv[2], &end, 10);
    if (end == argv[2] || *end != L'\0') {
      PrintLine(L"stop_running: not a number of milliseconds: " + std::wstring(argv[2]));
      return 2;
    }
    timeout_ms = static_cast<DWORD>(value);
  }
  const velqa::installer::StopOutcome outcome =
      velqa::installer::StopRunningCopies(argv[1], timeout_ms, PrintLine);
  if (outcome.stopped) return 0;
  for (const std::wstring& line : outcome.remaining) PrintLine(L"still running: " + line);
  return outcome.in_other_session ? kInOtherSession : 1;
}
