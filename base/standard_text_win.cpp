#include <windows.h>
#include <io.h>

#include <cstdio>

#include "base/standard_text.h"
#include "base/utf16_text.h"

namespace velqa::base {
namespace {

bool WriteAll(HANDLE handle, const char* data, std::size_t size) {
  while (size > 0) {
    DWORD written = 0;
    const DWORD chunk = size > 0x10000 ? 0x10000 : static_cast<DWORD>(size);
    if (!::WriteFile(handle, data, chunk, &written, nullptr) || written == 0) return false;
    data += written;
    size -= written;
  }
  return true;
}

bool WriteToConsole(HANDLE console, std::string_view text) {
  wchar_t units[512];
  while (!text.empty()) {
    const DisplayChunk chunk = Utf16ForDisplay(text, units, std::size(units));
    text.remove_prefix(chunk.consumed);
    const wchar_t* next = units;
    std::size_t left = chunk.units;
    while (left > 0) {
      DWORD written = 0;
      if (!::WriteConsoleW(console, next, static_cast<DWORD>(left), &written, nullptr) ||
          written == 0) {
        return false;
      }
      next += written;
      left -= written;
    }
  }
  return true;
}

// The bytes with each "\n" as "\r\n", as text mode stores them, gathered so
// that a line and its ending go out in one write: another writer of the
// same pipe (a C runtime printf) then never lands inside it.
bool WriteBytes(HANDLE handle, std::string_view text) {
  char buffer[4096];
  std::size_t used = 0;
  for (const char c : text) {
    if (used + 2 > sizeof buffer) {
      if (!WriteAll(handle, buffer, used)) return false;
      used = 0;
    }
    if (c == '\n') buffer[used++] = '\r';
    buffer[used++] = c;
  }
  return WriteAll(handle, buffer, used);
}

}  // namespace

bool WriteStandardText(StandardStream stream, std::string_view text) {
  // The descriptor's handle, not GetStdHandle: whoever redirects descriptor
  // 1 or 2 (a test capturing output, a debug console) is followed.
  const int fd = stream == StandardStream::kOutput ? 1 : 2;
  const auto handle = reinterpret_cast<HANDLE>(::_get_osfhandle(fd));
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE || handle == reinterpret_cast<HANDLE>(-2)) {
    return false;
  }
  DWORD mode = 0;
  if (::GetConsoleMode(handle, &mode)) return WriteToConsole(handle, text);
  return WriteBytes(handle, text);
}

}  // namespace velqa::base
