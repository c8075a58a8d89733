// What the crash watcher writes for a crashed host: the minidump
// velqa_YYYYMMDD_HHMMSS.dmp (threads, exception record, stacks) in the log
// directory, then one ERROR record "程序崩溃: ..." in the day's log file,
// then the removal of all but the newest dumps.
//
// Threads: the watcher's main thread, while the crashed host waits.
#ifndef VELQA_SHELL_CRASH_WATCHER_CRASH_REPORT_WIN_H_
#define VELQA_SHELL_CRASH_WATCHER_CRASH_REPORT_WIN_H_

#include <windows.h>
// After windows.h, which it needs.
#include <dbghelp.h>

#include <filesystem>
#include <string>

#include "shell/crash_channel_win.h"

namespace velqa::shell {

using MiniDumpWriteDumpFn = decltype(&::MiniDumpWriteDump);

// `request` is the host's, copied out of the shared page; `host` a handle to
// the host process with read, query and synchronise rights. Without
// `write_dump` (no dbghelp) only the record is written. Never throws.
void WriteCrashReport(HANDLE host, const CrashRequest& request,
                      const std::filesystem::path& log_directory, MiniDumpWriteDumpFn write_dump);

// The record's text, e.g. "程序崩溃: 访问冲突 (异常代码 0xC0000005), 地址
// 0x..., 线程 42, 转储文件 velqa_20260101_120000.dmp"; `dump_outcome` is what
// follows the thread (", 转储文件 NAME" or why there is none).
std::string CrashRecordText(const CrashRequest& request, const std::string& dump_outcome);

// Removes all but the `keep` newest velqa_*.dmp files of `log_directory`, by
// name (which holds the time of the crash). Files of other names stay.
void PruneCrashDumps(const std::filesystem::path& log_directory, int keep);

}  // namespace velqa::shell

#endif  // VELQA_SHELL_CRASH_WATCHER_CRASH_REPORT_WIN_H_
