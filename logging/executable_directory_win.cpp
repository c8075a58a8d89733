#include <windows.h>

#include "logging/executable_directory.h"

namespace velqa::logging {
namespace {

std::string Utf8FromWide(const wchar_t* text, int length) {
  // Unpaired surrogates would turn into U+FFFD and name another directory.
  const int size = WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, text, length, nullptr, 0,
                                       nullptr, nullptr);
  if (size <= 0) return {};
  std::string utf8(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, text, length, utf8.data(), size, nullptr,
                      nullptr);
  return utf8;
}

}  // namespace

std::string ExecutableDirectory() {
  wchar_t buffer[kExecutablePathCapacity];
  const DWORD length = GetModuleFileNameW(nullptr, buffer, kExecutablePathCapacity);
  // 0 is failure; a full buffer means the path was cut short.
  if (length == 0 || length >= kExecutablePathCapacity) return {};
  const std::wstring_view path = DirectoryOfWindowsPath(std::wstring_view(buffer, length));
  return Utf8FromWide(path.data(), static_cast<int>(path.size()));
}

}  // namespace velqa::logging
