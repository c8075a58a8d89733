#include "shell/log_folder.h"

#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

#include <system_error>

#include "logging/log_directory.h"

bool OpenFolderInShell(const std::filesystem::path& folder) {
  // Values above 32 mean success; the file manager runs on its own.
  const auto result = reinterpret_cast<INT_PTR>(
      ::ShellExecuteW(nullptr, L"open", folder.c_str(), nullptr, nullptr, SW_SHOWNORMAL));
  return result > 32;
}

bool OpenLogFolder(FolderOpener open) {
  try {
    const std::filesystem::path folder = velqa::logging::LogDirectory();
    if (folder.empty()) return false;
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    if (!std::filesystem::is_directory(folder, error)) return false;
    return open(folder);
  } catch (...) {
    // Out of memory building the path: the menu command does nothing.
    return false;
  }
}
