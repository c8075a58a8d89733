// The Windows implementation of VpnOs: the Win32 calls themselves, always
// through the wide interface where a path or command line is involved. A
// NativeHandle is the HANDLE, a NativeModule the HMODULE.
#include <windows.h>
#include <tlhelp32.h>

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "base/utf16_text.h"
#include "base/win_resources_win.h"
#include "vpn/os/vpn_os.h"

namespace vpn_os {
namespace {

using velqa::base::UniqueHandle;
using velqa::base::Utf8FromWide;
using velqa::base::WideFromUtf8;

HANDLE AsHandle(NativeHandle handle) { return reinterpret_cast<HANDLE>(handle); }
NativeHandle FromHandle(HANDLE handle) { return reinterpret_cast<NativeHandle>(handle); }

// The errors that the existence test treats as "no such entry".
bool IsNotFoundError(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_BAD_NETPATH:
    case ERROR_NETNAME_DELETED:
    case ERROR_INVALID_NAME:
    case ERROR_DIRECTORY:
      return true;
    default:
      return false;
  }
}

// A synchronous ReadFile can only be ended from another thread with
// CancelSynchronousIo on the reading thread, and only while the read is
// pending. So the reader publishes that it is inside a read, and Cancel
// repeats the cancellation until the reader has left it, for at most
// kCancelLimit; a reader that has not yet entered sees the cancelled flag and
// does not enter. The handle to the reading thread is a duplicate of the
// thread's own pseudo-handle, taken before its first read and closed only
// with this object, so it is valid for as long as the thread can be reading.
class WinReadCancellation final : public ReadCancellation {
 public:
  bool Cancel() override {
    cancelled_.store(true);
    const ULONGLONG deadline = ::GetTickCount64() + kCancelLimit.count();
    while (in_read_.load()) {
      if (::GetTickCount64() >= deadline) return false;
      if (reader_thread_.get() != nullptr) CancelSynchronousIo(reader_thread_.get());
      ::Sleep(1);
    }
    return true;
  }
  bool IsCancelled() const override { return cancelled_.load(); }

  // Reading thread only. False when the read must not start (cancelled).
  bool EnterRead() {
    if (reader_thread_.get() == nullptr) {
      HANDLE thread = nullptr;
      if (DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &thread,
                          THREAD_TERMINATE, FALSE, 0)) {
        reader_thread_ = UniqueHandle(thread);
      }
    }
    in_read_.store(true);
    if (cancelled_.load()) {
      in_read_.store(false);
      return false;
    }
    return true;
  }
  void LeaveRead() { in_read_.store(false); }

 private:
  // Set by the reader before it first publishes in_read_; read by Cancel
  // only after it has seen in_read_ true.
  UniqueHandle reader_thread_;
  std::atomic<bool> in_read_{false};
  std::atomic<bool> cancelled_{false};
};

// Owner of an initialised PROC_THREAD_ATTRIBUTE_LIST and its storage.
class ProcThreadAttributes {
 public:
  ProcThreadAttributes() = default;
  ~ProcThreadAttributes() {
    if (initialized_) DeleteProcThreadAttributeList(get());
  }
  ProcThreadAttributes(const ProcThreadAttributes&) = delete;
  ProcThreadAttributes& operator=(const ProcThreadAttributes&) = delete;

  bool Initialize(DWORD count) {
    SIZE_T size = 0;
    InitializeProcThreadAttributeList(nullptr, count, 0, &size);  // asks for the size
    storage_.resize(size);
    initialized_ = InitializeProcThreadAttributeList(get(), count, 0, &size) != FALSE;
    return initialized_;
  }
  // `value` must outlive the list's use.
  bool Update(DWORD_PTR attribute, void* value, SIZE_T size) {
    return UpdateProcThreadAttribute(get(), 0, attribute, value, size, nullptr, nullptr) != FALSE;
  }
  LPPROC_THREAD_ATTRIBUTE_LIST get() {
    return reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(storage_.data());
  }

 private:
  std::vector<unsigned char> storage_;
  bool initialized_ = false;
};

class WinVpnOs final : public VpnOs {
 public:
  void CloseHandle(NativeHandle handle) override { ::CloseHandle(AsHandle(handle)); }

  void ReleaseModule(NativeModule module) override {
    ::FreeLibrary(reinterpret_cast<HMODULE>(module));
  }

  HandleResult CreateJob() override {
    HANDLE job = CreateJobObjectW(nullptr, nullptr);
    if (job == nullptr) return {{}, GetLastError()};
    return {Own(job), 0};
  }

  Status ConfigureKillOnClose(NativeHandle job) override {
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    if (!SetInformationJobObject(AsHandle(job), JobObjectExtendedLimitInformation, &limits,
                                 sizeof limits)) {
      return Status::Failure(GetLastError());
    }
    return Status::Success();
  }

  Status AssignProcessToJob(NativeHandle job, NativeHandle process) override {
    if (!AssignProcessToJobObject(AsHandle(job), AsHandle(process))) {
      return Status::Failure(GetLastError());
    }
    return Status::Success();
  }

  PipeResult CreateOutputPipe() override {
    SECURITY_ATTRIBUTES attributes{};
    attributes.nLength = sizeof attributes;
    attributes.lpSecurityDescriptor = nullptr;
    attributes.bInheritHandle = TRUE;
    HANDLE read_end = nullptr;
    HANDLE write_end = nullptr;
    if (!CreatePipe(&read_end, &write_end, &attributes, 0)) return {{}, {}, GetLastError()};
    PipeResult result;
    result.read_end = Own(read_end);
    result.write_end = Own(write_end);
    // Only the write end is for the child: a child holding the read end too
    // would keep its own writes from ever failing once the host stops reading.
    if (!SetHandleInformation(read_end, HANDLE_FLAG_INHERIT, 0)) {
      const DWORD error = GetLastError();
      return {{}, {}, error};
    }
    return result;
  }

  ReadResult Read(NativeHandle pipe, std::span<char> buffer,
                  ReadCancellation* cancellation) override {
    ReadResult result;
    auto* cancel = static_cast<WinReadCancellation*>(cancellation);
    if (cancel != nullptr && !cancel->EnterRead()) {
      result.cancelled = true;
      result.error = ERROR_OPERATION_ABORTED;
      return result;
    }
    DWORD read = 0;
    const BOOL ok = ReadFile(AsHandle(pipe), buffer.data(), static_cast<DWORD>(buffer.size()),
                             &read, nullptr);
    const DWORD error = ok ? 0 : GetLastError();
    if (cancel != nullptr) cancel->LeaveRead();
    if (!ok) {
      result.error = error;
      result.cancelled = error == ERROR_OPERATION_ABORTED;
      return result;
    }
    result.ok = true;
    result.bytes = read;
    return result;
  }

  std::unique_ptr<ReadCancellation> CreateReadCancellation() override {
    return std::make_unique<WinReadCancellation>();
  }

  ReadResult ReadWithTimeout(NativeHandle pipe, std::span<char> buffer,
                             std::chrono::milliseconds timeout) override {
    // An anonymous pipe has no overlapped reads: look at what is waiting and
    // read only that much, so that ReadFile never blocks.
    constexpr DWORD kPoll = 5;
    const ULONGLONG deadline = ::GetTickCount64() + static_cast<ULONGLONG>(timeout.count());
    ReadResult result;
    for (;;) {
      DWORD available = 0;
      if (!PeekNamedPipe(AsHandle(pipe), nullptr, 0, nullptr, &available, nullptr)) {
        result.error = GetLastError();  // ERROR_BROKEN_PIPE once drained and writerless
        return result;
      }
      if (available > 0) {
        const DWORD wanted =
            available < buffer.size() ? available : static_cast<DWORD>(buffer.size());
        DWORD read = 0;
        if (!ReadFile(AsHandle(pipe), buffer.data(), wanted, &read, nullptr)) {
          result.error = GetLastError();
          return result;
        }
        result.ok = true;
        result.bytes = read;
        return result;
      }
      const ULONGLONG now = ::GetTickCount64();
      if (now >= deadline) {
        result.timed_out = true;
        result.error = WAIT_TIMEOUT;
        return result;
      }
      ::Sleep(static_cast<DWORD>(deadline - now < kPoll ? deadline - now : kPoll));
    }
  }

  HandleResult OpenOwnProcessToken() override {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(),
                          TOKEN_ASSIGN_PRIMARY | TOKEN_DUPLICATE | TOKEN_QUERY |
                              TOKEN_ADJUST_DEFAULT,
                          &token)) {
      return {{}, GetLastError()};
    }
    return {Own(token), 0};
  }

  HandleResult DuplicatePrimaryToken(NativeHandle token) override {
    HANDLE duplicate = nullptr;
    if (!DuplicateTokenEx(AsHandle(token), MAXIMUM_ALLOWED, nullptr, SecurityImpersonation,
                          TokenPrimary, &duplicate)) {
      return {{}, GetLastError()};
    }
    return {Own(duplicate), 0};
  }

  PrivilegeResult LookupPrivilege(std::string_view name) override {
    LUID luid{};
    const std::wstring wide_name = WideFromUtf8(name).value_or(std::wstring());
    if (!LookupPrivilegeValueW(nullptr, wide_name.c_str(), &luid)) {
      return {false, {}, GetLastError()};
    }
    return {true, {luid.LowPart, luid.HighPart}, 0};
  }

  Status EnablePrivilege(NativeHandle token, PrivilegeId privilege) override {
    TOKEN_PRIVILEGES privileges{};
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Luid.LowPart = privilege.low;
    privileges.Privileges[0].Luid.HighPart = privilege.high;
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    // A call that succeeds without assigning (ERROR_NOT_ALL_ASSIGNED) is not
    // examined: the child then simply runs without the privilege.
    if (!AdjustTokenPrivileges(AsHandle(token), FALSE, &privileges, 0, nullptr, nullptr)) {
      return Status::Failure(GetLastError());
    }
    return Status::Success();
  }

  ProcessResult StartProcess(const ProcessLaunch& launch) override {
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
      created = CreateProcessAsUserW(AsHandle(launch.token), application.c_str(),
                                     command_line.data(), nullptr, nullptr, TRUE, flags, nullptr,
                                     nullptr, &startup.StartupInfo, &info);
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

  Status ResumeProcess(NativeHandle thread) override {
    if (ResumeThread(AsHandle(thread)) == static_cast<DWORD>(-1)) {
      return Status::Failure(GetLastError());
    }
    return Status::Success();
  }

  ExitCodeResult GetExitCode(NativeHandle process) override {
    DWORD code = 0;
    if (!GetExitCodeProcess(AsHandle(process), &code)) return {false, 0, GetLastError()};
    return {true, code, 0};
  }

  Status Terminate(NativeHandle process, std::uint32_t exit_code) override {
    if (!TerminateProcess(AsHandle(process), exit_code)) return Status::Failure(GetLastError());
    return Status::Success();
  }

  WaitResult WaitForExit(NativeHandle process, std::chrono::milliseconds timeout) override {
    const DWORD outcome =
        WaitForSingleObject(AsHandle(process), static_cast<DWORD>(timeout.count()));
    if (outcome == WAIT_OBJECT_0) return {WaitOutcome::kExited, 0};
    if (outcome == WAIT_TIMEOUT) return {WaitOutcome::kTimedOut, 0};
    return {WaitOutcome::kFailed, GetLastError()};
  }

  HandleResult OpenProcessForTermination(std::uint32_t process_id) override {
    HANDLE process =
        OpenProcess(PROCESS_TERMINATE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, process_id);
    if (process == nullptr) return {{}, GetLastError()};
    return {Own(process), 0};
  }

  ImageNameResult ProcessImageName(NativeHandle process) override {
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

  SnapshotResult SnapshotProcesses() override {
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
      result.processes.push_back(
          {entry.th32ProcessID, Utf8FromWide(entry.szExeFile).value_or(std::string())});
    }
    result.ok = true;
    return result;
  }

  ModuleResult LoadModule(const std::filesystem::path& path) override {
    HMODULE module = LoadLibraryW(path.c_str());
    if (module == nullptr) return {{}, GetLastError()};
    return {UniqueOsModule(reinterpret_cast<NativeModule>(module), {this}), 0};
  }

  PathResult ExecutablePath() override {
    // A buffer of 260 characters, as the installer's paths are bounded by it;
    // a longer name comes back cut and is used as cut.
    wchar_t buffer[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, buffer, MAX_PATH);
    if (length == 0) return {false, {}, GetLastError()};
    const DWORD kept = length < MAX_PATH ? length : MAX_PATH - 1;
    return {true, std::filesystem::path(std::wstring(buffer, kept)), 0};
  }

  std::uint16_t NativeArchitecture() override {
    SYSTEM_INFO info{};
    GetNativeSystemInfo(&info);
    return info.wProcessorArchitecture;
  }

  PathExistsResult PathExists(const std::filesystem::path& path) override {
    if (GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES) {
      return {PathState::kExists, 0};
    }
    const DWORD error = GetLastError();
    if (IsNotFoundError(error)) return {PathState::kNotFound, 0};
    return {PathState::kError, error};
  }

  void Sleep(std::chrono::milliseconds duration) override {
    ::Sleep(static_cast<DWORD>(duration.count()));
  }

 private:
  UniqueOsHandle Own(HANDLE handle) { return UniqueOsHandle(FromHandle(handle), {this}); }
};

}  // namespace

VpnOs& PlatformOs() {
  static VpnOs* const os = new WinVpnOs();
  return *os;
}

}  // namespace vpn_os
