#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "logging/link_status.h"
#include "logging/log_file.h"

namespace velqa::logging {

LogFileHandle OpenLogFileForAppend(const std::filesystem::path& path, std::error_code& error) {
  error.clear();
  // The directory without following a final link, then the file inside that
  // very directory, so neither can be swapped for a link in between.
  const std::filesystem::path directory = path.has_parent_path() ? path.parent_path() : ".";
  const base::UniqueFd parent(
      ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (!parent) {
    // ENOTDIR is what O_NOFOLLOW|O_DIRECTORY gives for a link as well.
    const int code = errno;
    error = IsLink(directory) ? std::make_error_code(std::errc::too_many_symbolic_link_levels)
                              : std::error_code(code, std::generic_category());
    return {};
  }
  // Close-on-exec: a child the host starts must not hold the log open.
  // Non-blocking: a FIFO planted under the name would otherwise hold the
  // open until somebody reads it.
  LogFileHandle file(::openat(parent.get(), path.filename().c_str(),
                              O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK,
                              0666));
  if (!file) {
    error = errno == ELOOP ? std::make_error_code(std::errc::too_many_symbolic_link_levels)
                           : std::error_code(errno, std::generic_category());
    return {};
  }
  struct stat info;
  if (::fstat(file.get(), &info) != 0 || !S_ISREG(info.st_mode)) {
    error = std::make_error_code(std::errc::not_supported);
    return {};
  }
  ::fcntl(file.get(), F_SETFL, O_WRONLY | O_APPEND);
  return file;
}

std::error_code AppendToLogFile(const LogFileHandle& file, std::string_view text, std::string&,
                                bool& partial) {
  partial = false;
  while (!text.empty()) {
    const ssize_t written = ::write(file.get(), text.data(), text.size());
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return std::error_code(written < 0 ? errno : ENOSPC, std::generic_category());
    text.remove_prefix(static_cast<std::size_t>(written));
    // More to go means the system stored only a piece (a full disk does that).
    partial = !text.empty();
  }
  return {};
}

}  // namespace velqa::logging
