// Ends what runs from an install directory before its files are replaced or
// removed: every running copy of the application (found by its window, or
// announced by its single-instance mutex) is asked to exit through the tray
// menu's exit command, and once none is left, every sing-box-*.exe whose image
// lies in the install directory is terminated. Processes of the same names
// elsewhere are never touched.
//
// Threads: one call at a time; it blocks for at most the given time.
#ifndef VELQA_INSTALLER_STOP_RUNNING_RUNNING_COPIES_H_
#define VELQA_INSTALLER_STOP_RUNNING_RUNNING_COPIES_H_

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

namespace velqa::installer {

struct StopOutcome {
  // Nothing of the application runs any more (and nothing from the directory
  // that would hold its files).
  bool stopped = false;
  // What was still there when time ran out, one readable line each.
  std::vector<std::wstring> remaining;
  // One of those is a copy in another user's session: its window and tray
  // are on that user's desktop, out of reach of the one running setup.
  bool in_other_session = false;
};

// `report` receives one line per action (asked a copy to exit, terminated a
// process) for the installer's log.
StopOutcome StopRunningCopies(const std::wstring& install_directory, DWORD timeout_ms,
                              const std::function<void(const std::wstring&)>& report);

}  // namespace velqa::installer

#endif  // VELQA_INSTALLER_STOP_RUNNING_RUNNING_COPIES_H_
