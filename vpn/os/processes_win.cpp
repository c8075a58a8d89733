// Windows processes for VpnOs: the job that holds the child, starting the
// child with exactly its output handle, and asking after, waiting for and
// ending processes.
#include <windows.h>
// After windows.h, which declares what it uses.
#include <tlhelp32.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base/proc_thread_attributes_win.h"
#include "vpn/os/vpn_os_win.h"

namespace vpn_os {
using velqa::base::ProcThreadAttributes;

HandleResult WinVpnOs::CreateJob() {
  HANDLE job = CreateJobObjectW(nullptr, nullptr);
  if (job == nullptr) return {{}, GetLastError()};
  return {Own(job), 0};
}

Status WinVpnOs::ConfigureKillOnClose(NativeHandle job) {
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
  limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
  if (!SetInformationJobObject(AsHandle(job), JobObjectExtendedLimitInformation, &limits,
                               sizeof limits)) {
    return Status::Failure(GetLastError());
  }
  return Status::Success();
}

Status WinVpnOs::AssignProcessToJob(NativeHandle job, NativeHandle process) {
  if (!AssignProcessToJobObject(AsHandle(job), AsHandle(process))) {
    return Status::Failure(GetLastError());
  }
  return Status::Success();
}

Status WinVpnOs::TerminateJob(NativeHandle job, std::uint32_t exit_code) {
  if (!TerminateJobObject(AsHandle(job), exit_code)) return Status::Failure(GetLastError());
  return Status::Success();
}

ProcessResult WinVpnOs::StartProcess(const ProcessLaunch& launch) {
  ProcessResult result;
  // The child gets exactly its output handle: with inheritance on and no
  // list it would also get every other inheritable handle the host holds
  // at that moment (a log file it then keeps from being renamed, say).
  HANDLE inherited[] = {AsHandle(launch.output)};
  ProcThreadAttributes attributes;
  if (!attributes.Initialize(1) ||
      !attributes.Update(PROC_THREAD_ATTRIBUTE_HANDLE_LIST, inherited, sizeof inherited)) {
    result.error = GetLastError();
    return result;
  }

  STARTUPINFOEXW startup{};
  startup.StartupInfo.cb = sizeof startup;
  startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES | STARTF_USESHOWWINDOW;
  startup.StartupInfo.wShowWindow = launch.no_console_window ? SW_HIDE : SW_SHOWNORMAL;
  startup.StartupInfo.hStdInput = nullptr;
  startup.StartupInfo.hStdOutput = AsHandle(launch.output);
  startup.StartupInfo.hStdError = AsHandle(launch.output);
  startup.lpAttributeList = attributes.get();

  const std::wstring application = launch.executable.wstring();
  // Text that is not UTF-8 would start the child with another command line.
  const std::optional<std::wstring> command_text = WideFromUtf8(launch.command_line);
  if (!command_text) {
    result.error = ERROR_NO_UNICODE_TRANSLATION;
    return result;
  }
  std::vector<wchar_t> command_line(command_text->begin(), command_text->end());
  command_line.push_back(L'\0');  // CreateProcess may write into it
  DWORD flags = EXTENDED_STARTUPINFO_PRESENT;
  if (launch.no_console_window) flags |= CREATE_NO_WINDOW;
  if (launch.high_priority) flags |= HIGH_PRIORITY_CLASS;
  if (launch.start_suspended) flags |= CREATE_SUSPENDED;

  PROCESS_INFORMATION info{};
  BOOL created;
  if (launch.token != 0) {
    created = CreateProcessAsUserW(AsHandle(launch.token), application.c_str(), command_line.data(),
                                   nullptr, nullptr, TRUE, flags, nullptr, nullptr,
                                   &startup.StartupInfo, &info);
  } else {
    created = CreateProcessW(application.c_str(), command_line.data(), nullptr, nullptr, TRUE,
                             flags, nullptr, nullptr, &startup.StartupInfo, &info);
  }
  if (!created) {
    result.error = GetLastError();
    return result;
  }
  result.info.process = Own(info.hProcess);
  result.info.thread = Own(info.hThread);
  result.info.process_id = info.dwProcessId;
  result.info.thread_id = info.dwThreadId;
  return result;
}

Status WinVpnOs::ResumeProcess(NativeHandle thread) {
  if (ResumeThread(AsHandle(thread)) == static_cast<DWORD>(-1)) {
    return Status::Failure(GetLastError());
  }
  return Status::Success();
}

ExitCodeResult WinVpnOs::GetExitCode(NativeHandle process) {
  DWORD code = 0;
  if (!GetExitCodeProcess(AsHandle(process), &code)) return {false, 0, GetLastError()};
  return {true, code, 0};
}

Status WinVpnOs::Terminate(NativeHandle process, std::uint32_t exit_code) {
  if (!TerminateProcess(AsHandle(process), exit_code)) return Status::Failure(GetLastError());
  return Status::Success();
}

WaitResult WinVpnOs::WaitForExit(NativeHandle process, std::chrono::milliseconds timeout) {
  const DWORD outcome = WaitForSingleObject(AsHandle(process), static_cast<DWORD>(timeout.count()));
  if (outcome == WAIT_OBJECT_0) return {WaitOutcome::kExited, 0};
  if (outcome == WAIT_TIMEOUT) return {WaitOutcome::kTimedOut, 0};
  return {WaitOutcome::kFailed, GetLastError()};
}

HandleResult WinVpnOs::OpenProcessForTermination(std::uint32_t process_id) {
  HANDLE process =
      OpenProcess(PROCESS_TERMINATE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, process_id);
  if (process == nullptr) return {{}, GetLastError()};
  return {Own(process), 0};
}

ImageNameResult WinVpnOs::ProcessImageName(NativeHandle process) {
  // Asked of the process object the handle holds, not of whatever has the
  // id now.
  std::vector<wchar_t> buffer(32768);
  DWORD size = static_cast<DWORD>(buffer.size());
  if (!QueryFullProcessImageNameW(AsHandle(process), 0, buffer.data(), &size)) {
    return {false, {}, GetLastError()};
  }
  const std::wstring path(buffer.data(), size);
  const std::size_t separator = path.find_last_of(L"\\/");
  const std::wstring name = separator == std::wstring::npos ? path : path.substr(separator + 1);
  return {true, Utf8FromWide(name).value_or(std::string()), 0};
}

SnapshotResult WinVpnOs::SnapshotProcesses() {
  SnapshotResult result;
  UniqueHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (snapshot.get() == INVALID_HANDLE_VALUE) {
    result.error = GetLastError();
    return result;
  }
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32FirstW(snapshot.get(), &entry); more;
       more = Process32NextW(snapshot.get(), &entry)) {
    result.processes.push_back({entry.th32ProcessID, Utf8FromWide(entry.szExeFile).value_or(std::string())});
  }
  result.ok = true;
  return result;
}

}  // namespace vpn_os
