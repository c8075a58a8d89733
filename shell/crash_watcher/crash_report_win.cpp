#include "shell/crash_watcher/crash_report_win.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <system_error>
#include <vector>

#include "base/win_resources_win.h"
#include "logging/link_status.h"
#include "logging/log_directory.h"
#include "logging/log_file.h"
#include "logging/log_format.h"

namespace velqa::shell {
namespace {

namespace fs = std::filesystem;

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
// second exists) in the log directory, never replacing one; `name` gets its
// file name.
base::UniqueHandle CreateDumpFile(const fs::path& log_directory, std::string& name) {
  std::error_code ignored;
  fs::create_directories(log_directory, ignored);
  SYSTEMTIME now{};
  ::GetLocalTime(&now);
  for (int attempt = 0; attempt < 10; ++attempt) {
    char text[64];
    char suffix[8] = "";
    if (attempt > 0) std::snprintf(suffix, sizeof(suffix), "_%d", attempt);
    std::snprintf(text, sizeof(text), "velqa_%04u%02u%02u_%02u%02u%02u%s.dmp", now.wYear,
                  now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond, suffix);
    name = text;
    const fs::path path = log_directory / name;
    base::UniqueHandle file(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                          FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file.is_valid() || ::GetLastError() != ERROR_FILE_EXISTS) return file;
  }
  return base::UniqueHandle();
}

// The dump, with the exception read through the host's own pointers. What
// the record says about it follows the thread in the record.
std::string WriteDump(HANDLE host, const CrashRequest& request, const fs::path& log_directory,
                      MiniDumpWriteDumpFn write_dump) {
  if (write_dump == nullptr) return ", 无法写转储文件: 缺少 dbghelp";
  std::string name;
  base::UniqueHandle file = CreateDumpFile(log_directory, name);
  if (!file.is_valid()) return ", 无法创建转储文件: 错误 " + std::to_string(::GetLastError());

  MINIDUMP_EXCEPTION_INFORMATION exception{};
  exception.ThreadId = request.thread_id;
  exception.ExceptionPointers =
      reinterpret_cast<EXCEPTION_POINTERS*>(static_cast<std::uintptr_t>(request.exception_pointers));
  exception.ClientPointers = TRUE;
  if (write_dump(host, ::GetProcessId(host), file.get(), MiniDumpNormal, &exception, nullptr,
                 nullptr)) {
    return ", 转储文件 " + name;
  }
  // A cut dump only misleads: it goes, and the record says why.
  const DWORD error = ::GetLastError();
  file.Reset();
  std::error_code ignored;
  fs::remove(log_directory / name, ignored);
  char text[64];
  std::snprintf(text, sizeof(text), ", 无法写转储文件: 错误 0x%08lX",
                static_cast<unsigned long>(error));
  return text;
}

// Appends the record to the day's file the host's logger writes, as a
// second writer of that file.
void AppendRecord(const fs::path& log_directory, const std::string& message) {
  const auto now = std::chrono::system_clock::now();
  std::string line = logging::FormatLogEntry(LogLevel::kError, message, "Main",
                                             logging::FormatRecordTime(now));
  line += '\n';
  logging::LogFile file;
  if (!file.open(logging::DayLogFilePath(log_directory, now))) return;
  file.append(line);
}

bool IsDigits(const std::wstring& text, std::size_t from, std::size_t count) {
  return std::all_of(text.begin() + from, text.begin() + from + count,
                     [](wchar_t c) { return c >= L'0' && c <= L'9'; });
}

// velqa_YYYYMMDD_HHMMSS[_N].dmp, the host's own: Windows Error Reporting's
// velqa_assistant.exe.<pid>.dmp in the same folder keeps its own count.
bool IsDumpName(const std::wstring& name) {
  return name.size() >= 25 && name.starts_with(L"velqa_") && name.ends_with(L".dmp") &&
         IsDigits(name, 6, 8) && name[14] == L'_' && IsDigits(name, 15, 6);
}

}  // namespace

std::string CrashRecordText(const CrashRequest& request, const std::string& dump_outcome) {
  char detail[sizeof(request.detail)];
  std::snprintf(detail, sizeof(detail), "%.*s", static_cast<int>(sizeof(request.detail) - 1),
                request.detail);
  char message[768];
  std::snprintf(message, sizeof(message),
                "程序崩溃: %s%s%s (异常代码 0x%08lX), 地址 0x%p, 线程 %lu",
                DescribeCode(request.code), detail[0] != '\0' ? ": " : "", detail,
                static_cast<unsigned long>(request.code),
                reinterpret_cast<void*>(static_cast<std::uintptr_t>(request.exception_address)),
                static_cast<unsigned long>(request.thread_id));
  return message + dump_outcome;
}

void WriteCrashReport(HANDLE host, const CrashRequest& request, const fs::path& log_directory,
                      MiniDumpWriteDumpFn write_dump) {
  try {
    // A link planted in place of "logs" (a standard user may write beside a
    // portable copy) would take the elevated process's memory and record
    // wherever it points; the logger refuses it too.
    if (logging::IsLink(log_directory)) return;
    const std::string outcome = WriteDump(host, request, log_directory, write_dump);
    AppendRecord(log_directory, CrashRecordText(request, outcome));
    PruneCrashDumps(log_directory, kMaxKeptCrashDumps);
  } catch (...) {
    // Out of memory or a time with no local form: the host ends all the same.
  }
}

void PruneCrashDumps(const fs::path& log_directory, int keep) {
  std::error_code error;
  std::vector<fs::path> dumps;
  for (fs::directory_iterator it(log_directory, error), end; !error && it != end;
       it.increment(error)) {
    if (IsDumpName(it->path().filename().wstring()) && !logging::IsLink(it->path()) &&
        it->is_regular_file(error)) {
      dumps.push_back(it->path());
    }
  }
  if (static_cast<int>(dumps.size()) <= keep) return;
  // The name holds the local time of the crash; a later name is a newer dump.
  std::sort(dumps.begin(), dumps.end());
  for (std::size_t i = 0; i + keep < dumps.size(); ++i) fs::remove(dumps[i], error);
}

}  // namespace velqa::shell
