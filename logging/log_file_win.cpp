#include <windows.h>

#include "logging/log_file.h"

namespace velqa::logging {
namespace {

std::error_code LastError() {
  return std::error_code(static_cast<int>(::GetLastError()), std::system_category());
}

// Why an entry opened as itself may not be used: it cannot be examined or it
// is a link (a symbolic link, a junction, any other reparse point); none when
// it may. `attributes` receives its attributes.
std::error_code LinkRefusal(HANDLE handle, DWORD& attributes) {
  BY_HANDLE_FILE_INFORMATION info{};
  if (!::GetFileInformationByHandle(handle, &info)) return LastError();
  attributes = info.dwFileAttributes;
  if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    return std::make_error_code(std::errc::too_many_symbolic_link_levels);
  }
  return {};
}

// Where writers of one log file take turns: a byte far beyond any size the
// file reaches, so the lock never covers what is read or written.
constexpr DWORD kTurnOffsetHigh = 0x40000000;
// A writer that keeps its turn longer (suspended in a debugger) is not
// waited for: the record is then written without the turn.
constexpr ULONGLONG kTurnWaitMs = 200;

// Holds the writers' turn of one file while it lives, when it got it.
class WriterTurn {
 public:
  explicit WriterTurn(HANDLE file) : file_(file) {
    const ULONGLONG deadline = ::GetTickCount64() + kTurnWaitMs;
    for (;;) {
      OVERLAPPED where{};
      where.OffsetHigh = kTurnOffsetHigh;
      if (::LockFileEx(file_, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0,
                       &where)) {
        held_ = true;
        return;
      }
      if (::GetLastError() != ERROR_LOCK_VIOLATION || ::GetTickCount64() >= deadline) return;
      ::Sleep(0);
    }
  }
  ~WriterTurn() {
    if (!held_) return;
    OVERLAPPED where{};
    where.OffsetHigh = kTurnOffsetHigh;
    ::UnlockFileEx(file_, 0, 1, 0, &where);
  }
  WriterTurn(const WriterTurn&) = delete;
  WriterTurn& operator=(const WriterTurn&) = delete;

 private:
  HANDLE file_;
  bool held_ = false;
};

}  // namespace

LogFileHandle OpenLogFileForAppend(const std::filesystem::path& path, std::error_code& error) {
  error.clear();
  const std::filesystem::path directory = path.has_parent_path() ? path.parent_path() : L".";
  // Held, without delete sharing, while the file is opened: the directory
  // cannot be renamed away and replaced by a junction in between.
  const base::UniqueHandle parent(::CreateFileW(
      directory.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!parent) {
    error = LastError();
    return {};
  }
  DWORD attributes = 0;
  if ((error = LinkRefusal(parent.get(), attributes))) return {};
  // FILE_APPEND_DATA without FILE_WRITE_DATA: the system writes at the end,
  // whatever another process appended meanwhile. No security attributes:
  // not inheritable. FILE_FLAG_OPEN_REPARSE_POINT: a link is opened as
  // itself, and refused below, instead of its target.
  LogFileHandle file(::CreateFileW(path.c_str(), FILE_APPEND_DATA | FILE_READ_ATTRIBUTES,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                                   FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!file) {
    error = LastError();
    return {};
  }
  if ((error = LinkRefusal(file.get(), attributes))) return {};
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 || ::GetFileType(file.get()) != FILE_TYPE_DISK) {
    error = std::make_error_code(std::errc::not_supported);
    return {};
  }
  return file;
}

std::error_code AppendToLogFile(const LogFileHandle& file, std::string_view text,
                                std::string& scratch, bool& partial) {
  partial = false;
  // Text mode's line ending, in one buffer so that the record is one write.
  scratch.clear();
  for (const char c : text) {
    if (c == '\n') scratch += '\r';
    scratch += c;
  }
  // Windows appends each write to an append-only handle whole. Wine writes
  // at the size it has just read, so two processes can write at the same
  // offset; taking turns keeps their records whole there too.
  const WriterTurn turn(file.get());
  DWORD written = 0;
  if (!::WriteFile(file.get(), scratch.data(), static_cast<DWORD>(scratch.size()), &written,
                   nullptr)) {
    partial = written > 0;
    return LastError();
  }
  if (written != scratch.size()) {
    partial = written > 0;
    return std::error_code(ERROR_DISK_FULL, std::system_category());
  }
  return {};
}

}  // namespace velqa::logging
