#include "logging/executable_directory.h"

namespace velqa::logging {

std::wstring_view DirectoryOfWindowsPath(std::wstring_view module_path) {
  const std::size_t backslash = module_path.rfind(L'\\');
  if (backslash == std::wstring_view::npos) return module_path;
  // A root keeps its separator: \velqa.exe (the current drive), E:\velqa.exe and
  // \\?\E:\velqa.exe (drive E).
  const bool drive_root = backslash == 0 || module_path[backslash - 1] == L':';
  return module_path.substr(0, drive_root ? backslash + 1 : backslash);
}

}  // namespace velqa::logging
