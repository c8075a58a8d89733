#include "logging/log_file.h"

#include <utility>

namespace velqa::logging {

bool LogFile::open(const std::filesystem::path& path) {
  LogFileHandle opened = OpenLogFileForAppend(path, error_);
  if (!opened) return false;
  file_ = std::move(opened);
  torn_ = false;
  return true;
}

std::error_code LogFile::append(std::string_view text) {
  if (!file_) return std::make_error_code(std::errc::bad_file_descriptor);
  bool partial = false;
  if (torn_) {
    // Ends the piece a failed write left, so that this record stands whole.
    const std::error_code error = AppendToLogFile(file_, "\n", scratch_, partial);
    if (error) return error;
    torn_ = false;
  }
  const std::error_code error = AppendToLogFile(file_, text, scratch_, partial);
  torn_ = partial;
  return error;
}

}  // namespace velqa::logging
