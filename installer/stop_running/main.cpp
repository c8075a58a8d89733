// stop_running INSTALL_DIR [TIMEOUT_MS]
//
// Run by the installer and the uninstaller before they touch the program
// files: asks every running copy of the application to exit, waits for it
// (10 s unless told otherwise), then ends sing-box processes left running from
// INSTALL_DIR. Exit code 0 when nothing of the application runs any more, 1
// when something did not end in time (listed on standard output), 2 for a
// wrong command line.
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>

#include "base/utf16_text.h"
#include "installer/stop_running/running_copies.h"

namespace {

constexpr DWORD kDefaultTimeoutMs = 10000;

void PrintLine(const std::wstring& line) {
  std::fputs((velqa::base::Utf8FromWide(line).value_or(std::string()) + "\n").c_str(), stdout);
  std::fflush(stdout);
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
  return 1;
}
