#include "logging/log_file.h"

namespace velqa::logging {

bool LogFile::open(const std::filesystem::path& path) {
  close();
  file_ = OpenForAppend(path);
  return file_ != nullptr;
}

void LogFile::write(const char* data, std::size_t size) {
  if (file_ != nullptr) std::fwrite(data, 1, size, file_);
}

void LogFile::flush() {
  if (file_ != nullptr) std::fflush(file_);
}

void LogFile::close() {
  if (file_ != nullptr) std::fclose(file_);
  file_ = nullptr;
}

}  // namespace velqa::logging
