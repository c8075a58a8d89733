// The log file the logger appends to, and the one way to open it, which a
// second process writing the same day's file uses as well.
//
// Opened for appending only: every record is one write that the system puts
// at the end of the file, so records of two processes never overwrite or tear
// each other (on Windows FILE_APPEND_DATA without FILE_WRITE_DATA; on POSIX
// O_APPEND). Shared so that other programs may read and write it meanwhile
// (not for deletion on Windows, as the C runtime's default open), never
// inherited by a child process (a child holding it would keep it from being
// renamed at rotation on Windows), and never reached through a link: the host
// runs elevated in a folder a standard user may write, and a planted link
// would make it append to a file of the link's choosing. The directory and the
// file itself must not be links (symbolic links, junctions, other reparse
// points), and the file must be a regular file.
//
// Threads: not synchronised; the logger uses it under its lock.
#ifndef VELQA_LOGGING_LOG_FILE_H_
#define VELQA_LOGGING_LOG_FILE_H_

#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>

#ifdef _WIN32
#include "base/win_resources_win.h"
#else
#include "base/unique_fd_posix.h"
#endif

namespace velqa::logging {

#ifdef _WIN32
using LogFileHandle = base::UniqueHandle;
#else
using LogFileHandle = base::UniqueFd;
#endif

// Opens (creating when missing) the file at `path` for appending as described
// above. An empty handle and the reason in `error` on failure; a link is
// refused with std::errc::too_many_symbolic_link_levels, anything but a
// regular file with std::errc::not_supported.
LogFileHandle OpenLogFileForAppend(const std::filesystem::path& path, std::error_code& error);

// Appends `text` to an open log file with one write: each "\n" is stored as
// the platform's line ending. `scratch` is reused for the translation. On
// failure `partial` tells whether some of the text was stored.
std::error_code AppendToLogFile(const LogFileHandle& file, std::string_view text,
                                std::string& scratch, bool& partial);

class LogFile {
 public:
  // Continues the file at `path`, creating it when missing. The file held so
  // far is closed only once the new one is open; on failure it stays as it
  // was, and error() tells why.
  bool open(const std::filesystem::path& path);
  bool is_open() const { return file_.is_valid(); }
  // Appends whole lines (each ending in "\n") in one write. The error, e.g.
  // a full disk, or none. After a write that stored only part of the text,
  // the next text starts on a line of its own.
  std::error_code append(std::string_view text);
  void close() { file_.Reset(); }
  const std::error_code& error() const { return error_; }

 private:
  LogFileHandle file_;
  std::error_code error_;
  bool torn_ = false;
  std::string scratch_;
};

}  // namespace velqa::logging

#endif  // VELQA_LOGGING_LOG_FILE_H_
