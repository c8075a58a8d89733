#include "tests/e2e/app_process.h"

#include <tlhelp32.h>

#include "shell/app_identity.h"

namespace velqa::e2e {

std::filesystem::path BundleDirectory() {
  wchar_t module[MAX_PATH] = {};
  ::GetModuleFileNameW(nullptr, module, MAX_PATH);
  return std::filesystem::path(module).parent_path().parent_path() / L"bundle";
}

std::wstring QuoteArgument(const std::wstring& argument) {
  if (!argument.empty() && argument.find_first_of(L" \t\n\v\"") == std::wstring::npos) {
    return argument;
  }
  std::wstring quoted = L"\"";
  size_t backslashes = 0;
  for (wchar_t c : argument) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    // Backslashes before a quote are doubled, and the quote escaped.
    quoted.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
    backslashes = 0;
    quoted.push_back(c);
  }
  quoted.append(backslashes * 2, L'\\');  // before the closing quote
  quoted.push_back(L'"');
  return quoted;
}

AppProcess::~AppProcess() {
  Kill();
  stop_reading_ = true;
  if (reader_.joinable()) reader_.join();
}

bool AppProcess::Start(const std::filesystem::path& executable,
                       const std::vector<std::wstring>& arguments,
                       const std::filesystem::path& working_directory, DWORD* error,
                       bool redirect_output) {
  std::wstring command_line = QuoteArgument(executable.wstring());
  for (const std::wstring& argument : arguments) command_line += L" " + QuoteArgument(argument);
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info{};

  if (!redirect_output) {
    if (!::CreateProcessW(executable.c_str(), command_line.data(), nullptr, nullptr, FALSE, 0,
                          nullptr, working_directory.c_str(), &startup, &info)) {
      if (error) *error = ::GetLastError();
      return false;
    }
    process_.Reset(info.hProcess);
    base::UniqueHandle thread(info.hThread);
    pid_ = info.dwProcessId;
    return true;
  }

  SECURITY_ATTRIBUTES inheritable{sizeof(inheritable), nullptr, TRUE};
  HANDLE read_end = nullptr;
  HANDLE write_end = nullptr;
  if (!::CreatePipe(&read_end, &write_end, &inheritable, 0)) {
    if (error) *error = ::GetLastError();
    return false;
  }
  output_read_.Reset(read_end);
  base::UniqueHandle output_write(write_end);
  ::SetHandleInformation(read_end, HANDLE_FLAG_INHERIT, 0);

  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = nullptr;
  startup.hStdOutput = write_end;
  startup.hStdError = write_end;
  if (!::CreateProcessW(executable.c_str(), command_line.data(), nullptr, nullptr, TRUE, 0, nullptr,
                        working_directory.c_str(), &startup, &info)) {
    if (error) *error = ::GetLastError();
    output_read_.Reset();
    return false;
  }
  process_.Reset(info.hProcess);
  base::UniqueHandle thread(info.hThread);
  pid_ = info.dwProcessId;
  output_write.Reset();  // the child holds the only write end now
  reader_ = std::thread([this] { ReadOutput(); });
  return true;
}

void AppProcess::ReadOutput() {
  // Polls rather than blocks: a child of the application that inherited the
  // pipe could keep a blocking read waiting after the application is gone.
  char buffer[4096];
  while (!stop_reading_) {
    if (paused_) {
      ::Sleep(10);
      continue;
    }
    DWORD available = 0;
    if (!::PeekNamedPipe(output_read_.get(), nullptr, 0, nullptr, &available, nullptr)) return;
    if (available == 0) {
      ::Sleep(10);
      continue;
    }
    DWORD read = 0;
    if (!::ReadFile(output_read_.get(), buffer, sizeof(buffer), &read, nullptr) || read == 0)
      return;
    std::lock_guard<std::mutex> lock(output_mutex_);
    output_.append(buffer, read);
  }
}

std::optional<DWORD> AppProcess::WaitForExit(DWORD timeout_ms) {
  if (!process_.is_valid()) return std::nullopt;
  if (::WaitForSingleObject(process_.get(), timeout_ms) != WAIT_OBJECT_0) return std::nullopt;
  DWORD code = 0;
  ::GetExitCodeProcess(process_.get(), &code);
  return code;
}

bool AppProcess::IsRunning() const {
  return process_.is_valid() && ::WaitForSingleObject(process_.get(), 0) == WAIT_TIMEOUT;
}

void AppProcess::Kill() {
  if (IsRunning()) {
    ::TerminateProcess(process_.get(), 99);
    ::WaitForSingleObject(process_.get(), 10000);
  }
}

std::string AppProcess::Output() {
  std::lock_guard<std::mutex> lock(output_mutex_);
  return output_;
}

bool AppProcess::WaitForOutput(const std::string& text, DWORD timeout_ms) {
  return WaitFor([&] { return Output().find(text) != std::string::npos; }, timeout_ms);
}

HWND FindAppWindow(DWORD pid) {
  HWND window = nullptr;
  while ((window = ::FindWindowExW(nullptr, window, kWindowClassName, kApplicationTitle)) !=
         nullptr) {
    DWORD owner = 0;
    ::GetWindowThreadProcessId(window, &owner);
    if (owner == pid) return window;
  }
  return nullptr;
}

std::vector<DWORD> ChildProcesses(DWORD parent_pid, const std::wstring& image_name) {
  std::vector<DWORD> children;
  base::UniqueHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot.is_valid()) return children;
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof(entry);
  for (BOOL more = ::Process32FirstW(snapshot.get(), &entry); more;
       more = ::Process32NextW(snapshot.get(), &entry)) {
    if (entry.th32ParentProcessID == parent_pid &&
        _wcsicmp(entry.szExeFile, image_name.c_str()) == 0) {
      children.push_back(entry.th32ProcessID);
    }
  }
  return children;
}

}  // namespace velqa::e2e
