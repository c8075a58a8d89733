#include <windows.h>

#include "base/utf16_text.h"
#include "logging/executable_directory.h"

namespace velqa::logging {

std::string ExecutableDirectory() {
  wchar_t buffer[kExecutablePathCapacity];
  const DWORD length = GetModuleFileNameW(nullptr, buffer, kExecutablePathCapacity);
  // 0 is failure; a full buffer means the path was cut short.
  if (length == 0 || length >= kExecutablePathCapacity) return {};
  const std::wstring_view path = DirectoryOfWindowsPath(std::wstring_view(buffer, length));
  // Unpaired surrogates would name another directory: those give "".
  return velqa::base::Utf8FromWide(path).value_or(std::string());
}

}  // namespace velqa::logging
