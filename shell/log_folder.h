// The tray's "open the log folder" command.
//
// Threads: the UI thread (the shell's open call may show windows).
#ifndef VELQA_SHELL_LOG_FOLDER_H_
#define VELQA_SHELL_LOG_FOLDER_H_

#include <filesystem>

// Asks the shell to show `folder` in the file manager; false when it refuses.
using FolderOpener = bool (*)(const std::filesystem::path& folder);

// ShellExecuteW's "open" on the folder.
bool OpenFolderInShell(const std::filesystem::path& folder);

// Creates the log directory if it is missing and hands it to `open`. False
// when the directory is unknown or cannot be made, or `open` fails.
bool OpenLogFolder(FolderOpener open);

#endif  // VELQA_SHELL_LOG_FOLDER_H_
