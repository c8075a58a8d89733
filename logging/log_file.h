// The log file the logger appends to: opened for appending in text mode (the
// platform's line ending is stored), shared so that other programs may read
// and write it meanwhile, and never inherited by a child process. A child
// holding it would keep the file from being renamed at rotation on Windows.
//
// Threads: not synchronised; the logger uses it under its lock.
#ifndef VELQA_LOGGING_LOG_FILE_H_
#define VELQA_LOGGING_LOG_FILE_H_

#include <cstddef>
#include <cstdio>
#include <filesystem>

namespace velqa::logging {

class LogFile {
 public:
  LogFile() = default;
  ~LogFile() { close(); }
  LogFile(const LogFile&) = delete;
  LogFile& operator=(const LogFile&) = delete;

  // Continues the file at `path`, creating it when missing. False when it
  // cannot be opened (the file then stays closed).
  bool open(const std::filesystem::path& path);
  bool is_open() const { return file_ != nullptr; }
  // Write errors are not reported: a record that cannot be stored is lost.
  void write(const char* data, std::size_t size);
  void flush();
  void close();

 private:
  // Opens the platform's file for appending, not inheritable; null on failure.
  static std::FILE* OpenForAppend(const std::filesystem::path& path);

  std::FILE* file_ = nullptr;
};

}  // namespace velqa::logging

#endif  // VELQA_LOGGING_LOG_FILE_H_
