#include "installer/stop_running/running_copies.h"

#include <tlhelp32.h>

#include <algorithm>
#include <map>

#include "base/win_resources_win.h"
#include "installer/stop_running/process_paths.h"
#include "shell/app_identity.h"
#include "shell/single_instance.h"
#include "shell/win32_window.h"

namespace velqa::installer {
namespace {

constexpr DWORD kPollMs = 100;
// A copy still starting up ignores the exit command until its message loop
// runs (it only quits once it is told to on exit), so the command is repeated.
constexpr ULONGLONG kRepeatAskMs = 1000;

struct AskedCopy {
  base::UniqueHandle process;
  ULONGLONG last_asked = 0;
};

struct DirectoryProcess {
  DWORD pid = 0;
  std::wstring image;
};

std::vector<HWND> ApplicationWindows() {
  std::vector<HWND> windows;
  HWND window = nullptr;
  while ((window = ::FindWindowExW(nullptr, window, kWindowClassName, kApplicationTitle)) !=
         nullptr) {
    windows.push_back(window);
  }
  return windows;
}

bool SingleInstanceMutexExists() {
  base::UniqueHandle mutex(::OpenMutexW(SYNCHRONIZE, FALSE, kSingleInstanceMutexName));
  return mutex.is_valid();
}

bool IsAlive(const base::UniqueHandle& process) {
  return process.is_valid() && ::WaitForSingleObject(process.get(), 0) == WAIT_TIMEOUT;
}

// The application copies and sing-box processes whose images lie in
// `directory`; other names are not looked at, so a directory such as a
// drive's root never makes unrelated programs count.
std::vector<DirectoryProcess> ProcessesInDirectory(const std::wstring& directory) {
  std::vector<DirectoryProcess> found;
  base::UniqueHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot.is_valid()) return found;
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof(entry);
  for (BOOL more = ::Process32FirstW(snapshot.get(), &entry); more;
       more = ::Process32NextW(snapshot.get(), &entry)) {
    if (!IsSingBoxImage(entry.szExeFile) && !IsApplicationImage(entry.szExeFile)) continue;
    std::optional<std::wstring> image = ProcessImagePath(entry.th32ProcessID);
    if (image && IsInsideDirectory(*image, directory)) {
      found.push_back({entry.th32ProcessID, std::move(*image)});
    }
  }
  return found;
}

bool InOtherSession(DWORD pid) {
  DWORD own = 0;
  DWORD session = 0;
  return ::ProcessIdToSessionId(::GetCurrentProcessId(), &own) &&
         ::ProcessIdToSessionId(pid, &session) && session != own;
}

std::wstring Describe(const DirectoryProcess& process) {
  return L"process " + std::to_wstring(process.pid) + L" " + process.image;
}

void Terminate(const DirectoryProcess& process, DWORD wait_ms,
               const std::function<void(const std::wstring&)>& report) {
  base::UniqueHandle handle(::OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, process.pid));
  if (!handle.is_valid()) {
    report(L"cannot open " + Describe(process) + L", error " + std::to_wstring(::GetLastError()));
    return;
  }
  if (!::TerminateProcess(handle.get(), 1)) {
    report(L"cannot end " + Describe(process) + L", error " + std::to_wstring(::GetLastError()));
    return;
  }
  ::WaitForSingleObject(handle.get(), wait_ms);
  report(L"ended " + Describe(process));
}

}  // namespace

StopOutcome StopRunningCopies(const std::wstring& install_directory, DWORD timeout_ms,
                              const std::function<void(const std::wstring&)>& report) {
  const std::wstring directory = NormalizePath(install_directory);
  const ULONGLONG deadline = ::GetTickCount64() + timeout_ms;
  std::map<DWORD, AskedCopy> asked;
  for (;;) {
    const ULONGLONG now = ::GetTickCount64();
    std::vector<std::wstring> waiting_for;

    for (HWND window : ApplicationWindows()) {
      DWORD pid = 0;
      ::GetWindowThreadProcessId(window, &pid);
      auto [copy, first_time] = asked.try_emplace(pid);
      if (first_time) {
        copy->second.process.Reset(::OpenProcess(SYNCHRONIZE, FALSE, pid));
        report(L"asking the running copy (process " + std::to_wstring(pid) + L") to exit");
      }
      if (first_time || now - copy->second.last_asked >= kRepeatAskMs) {
        ::PostMessageW(window, WM_COMMAND, kTrayExitCommand, 0);
        copy->second.last_asked = now;
      }
      waiting_for.push_back(L"window of process " + std::to_wstring(pid));
    }
    // The mutex outlives nothing it marks, but a copy between taking it and
    // creating its window has no window yet.
    if (SingleInstanceMutexExists()) {
      waiting_for.push_back(L"the single-instance mutex of a running copy");
    }
    // A copy that has closed its window may still be stopping its sing-box.
    for (const auto& [pid, copy] : asked) {
      if (IsAlive(copy.process)) waiting_for.push_back(L"process " + std::to_wstring(pid));
    }

    std::vector<DirectoryProcess> sing_boxes;
    bool in_other_session = false;
    for (DirectoryProcess& process : ProcessesInDirectory(directory)) {
      if (IsSingBoxImage(FileName(process.image))) {
        sing_boxes.push_back(std::move(process));
      } else if (InOtherSession(process.pid)) {
        in_other_session = true;
        waiting_for.push_back(Describe(process) + L" (another user's session)");
      } else {
        waiting_for.push_back(Describe(process));
      }
    }

    // sing-box children normally end with their copy (its job object ends
    // them); only what is left after every copy has gone is terminated.
    if (waiting_for.empty()) {
      if (sing_boxes.empty()) return {true, {}};
      // A terminated process gets a moment to go even when time is up.
      const ULONGLONG left = std::max<ULONGLONG>(deadline > now ? deadline - now : 0, 1000);
      for (const DirectoryProcess& process : sing_boxes) {
        Terminate(process, static_cast<DWORD>(left), report);
      }
      for (const DirectoryProcess& process : sing_boxes) waiting_for.push_back(Describe(process));
    }
    if (::GetTickCount64() >= deadline) return {false, std::move(waiting_for), in_other_session};
    ::Sleep(kPollMs);
  }
}

}  // namespace velqa::installer
