#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

#include <algorithm>
#include <cstdint>
#include <cwchar>
#include <iterator>
#include <string>
#include <string_view>

#include "base/utf16_text.h"
#include "base/win_resources_win.h"
#include "standins/sing_box/platform.h"

namespace standin {
namespace {

using velqa::base::UniqueHandle;
using velqa::base::UniqueLocalMemory;

// Text that is not UTF-8 or UTF-16 becomes "", as in the host.
std::string ToUtf8(std::wstring_view text) {
  return velqa::base::Utf8FromWide(text).value_or(std::string());
}

std::wstring ToWide(const std::string& text) {
  return velqa::base::WideFromUtf8(text).value_or(std::wstring());
}

std::string ErrorText(DWORD code) { return "Windows error " + std::to_string(code); }

}  // namespace

std::vector<std::string> Arguments(int, char**) {
  int count = 0;
  const UniqueLocalMemory<wchar_t*> wide(CommandLineToArgvW(GetCommandLineW(), &count));
  std::vector<std::string> out;
  for (int i = 1; wide && i < count; ++i) out.push_back(ToUtf8(wide.get()[i]));
  return out;
}

bool ReadWholeFile(const std::string& path, std::string* contents, std::string* reason) {
  UniqueHandle file(CreateFileW(ToWide(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) {
    DWORD error = GetLastError();
    *reason = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND
                  ? "The system cannot find the file specified."
                  : ErrorText(error);
    return false;
  }
  char buffer[65536];
  DWORD got = 0;
  for (;;) {
    if (!ReadFile(file.get(), buffer, sizeof buffer, &got, nullptr)) {
      *reason = ErrorText(GetLastError());
      return false;
    }
    if (got == 0) return true;
    contents->append(buffer, got);
  }
}

bool WriteTextFile(const std::string& path, const std::string& contents, std::string* reason) {
  UniqueHandle file(CreateFileW(ToWide(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) {
    *reason = ErrorText(GetLastError());
    return false;
  }
  DWORD written = 0;
  if (!contents.empty() && (!WriteFile(file.get(), contents.data(),
                                       static_cast<DWORD>(contents.size()), &written, nullptr) ||
                            written != contents.size())) {
    *reason = ErrorText(GetLastError());
    return false;
  }
  return true;
}

std::vector<std::string> HeldHandles() {
  const HANDLE standard[] = {GetStdHandle(STD_INPUT_HANDLE), GetStdHandle(STD_OUTPUT_HANDLE),
                             GetStdHandle(STD_ERROR_HANDLE)};
  std::vector<std::string> held;
  // Handle values are multiples of 4; a young process uses few of them.
  for (std::uintptr_t value = 4; value < (1u << 16); value += 4) {
    const HANDLE handle = reinterpret_cast<HANDLE>(value);
    DWORD flags = 0;
    if (!GetHandleInformation(handle, &flags)) continue;
    const DWORD type = GetFileType(handle);
    if (type == FILE_TYPE_UNKNOWN) continue;  // not a file, pipe or device
    std::string kind = "other";
    if (std::find(std::begin(standard), std::end(standard), handle) != std::end(standard)) {
      kind = "standard";
    }
    std::string detail = type == FILE_TYPE_PIPE ? "pipe" : type == FILE_TYPE_CHAR ? "char" : "disk";
    // The console that the system makes for a process started without a
    // window is not the parent's.
    if (kind == "other" && type == FILE_TYPE_CHAR) kind = "console";
    if (type == FILE_TYPE_DISK) {
      BY_HANDLE_FILE_INFORMATION info{};
      if (kind == "other" && GetFileInformationByHandle(handle, &info) &&
          (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        kind = "directory";
      }
      wchar_t path[MAX_PATH * 4];
      const DWORD length =
          GetFinalPathNameByHandleW(handle, path, static_cast<DWORD>(std::size(path)), 0);
      if (length > 0 && length < std::size(path))
        // Two appends: `" " + std::string` trips GCC 12's -Wrestrict false
        // positive at -O3.
        detail.append(" ").append(ToUtf8(std::wstring_view(path, length)));
    }
    held.push_back(std::to_string(value) + " " + kind + " " + detail);
  }
  return held;
}

bool WriteAll(Stream stream, const char* data, size_t size) {
  HANDLE out = GetStdHandle(stream == Stream::kOut ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE);
  if (out == nullptr || out == INVALID_HANDLE_VALUE) return false;
  while (size > 0) {
    DWORD chunk = size > (1u << 20) ? (1u << 20) : static_cast<DWORD>(size);
    DWORD written = 0;
    if (!WriteFile(out, data, chunk, &written, nullptr)) return false;
    data += written;
    size -= written;
  }
  return true;
}

namespace {

// Starts this executable again with "run -c CONFIG", inheriting the standard
// handles; `flags` are added to CREATE_NO_WINDOW.
unsigned long SpawnSelf(const std::string& config_path, DWORD flags, std::string* reason) {
  wchar_t self[32768];
  DWORD len = GetModuleFileNameW(nullptr, self, static_cast<DWORD>(std::size(self)));
  if (len == 0 || len >= std::size(self)) {
    *reason = ErrorText(GetLastError());
    return 0;
  }
  std::wstring command = L"\"" + std::wstring(self) + L"\" run -c \"" + ToWide(config_path) + L"\"";
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = nullptr;
  startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
  startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  PROCESS_INFORMATION info{};
  if (!CreateProcessW(self, command.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW | flags,
                      nullptr, nullptr, &startup, &info)) {
    *reason = ErrorText(GetLastError());
    return 0;
  }
  const UniqueHandle process(info.hProcess);
  const UniqueHandle thread(info.hThread);
  return info.dwProcessId;
}

}  // namespace

unsigned long SpawnCopy(const std::string& config_path, std::string* reason) {
  SetEnvironmentVariableW(L"VELQA_STANDIN_NO_SPAWN", L"1");
  return SpawnSelf(config_path, 0, reason);
}

unsigned long SpawnEscapingCopy(const std::string& config_path, Linger linger,
                                std::string* reason) {
  SetEnvironmentVariableW(L"VELQA_STANDIN_NO_SPAWN", L"1");
  SetEnvironmentVariableW(L"VELQA_STANDIN_LINGER_MS", std::to_wstring(linger.ms).c_str());
  if (linger.writes) SetEnvironmentVariableW(L"VELQA_STANDIN_LINGER_WRITES", L"1");
  // A job that does not allow breakaway refuses the flag; the copy then
  // stays wherever its parent is.
  unsigned long pid = SpawnSelf(config_path, CREATE_BREAKAWAY_FROM_JOB, reason);
  return pid != 0 ? pid : SpawnSelf(config_path, 0, reason);
}

Linger LingerRequested() {
  wchar_t ms[32] = {};
  const DWORD length = GetEnvironmentVariableW(L"VELQA_STANDIN_LINGER_MS", ms, 32);
  return {length > 0 && length < 32 ? std::wcstol(ms, nullptr, 10) : 0,
          GetEnvironmentVariableW(L"VELQA_STANDIN_LINGER_WRITES", nullptr, 0) > 0};
}

bool NoSpawnRequested() {
  return GetEnvironmentVariableW(L"VELQA_STANDIN_NO_SPAWN", nullptr, 0) > 0;
}

unsigned long OwnProcessId() { return GetCurrentProcessId(); }

void SleepMilliseconds(long ms) { Sleep(static_cast<DWORD>(ms)); }

void RunUntilEnded() {
  for (;;) Sleep(INFINITE);
}

void ExitWith(int code) { ExitProcess(static_cast<UINT>(code)); }

}  // namespace standin
