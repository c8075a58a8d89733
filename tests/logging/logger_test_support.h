// Helpers for the logger tests: a logger with a controlled clock, directory
// and rename, temporary directories (also with Chinese names), and readers
// for the files it writes.
#ifndef VELQA_TESTS_LOGGING_LOGGER_TEST_SUPPORT_H_
#define VELQA_TESTS_LOGGING_LOGGER_TEST_SUPPORT_H_

#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "logging/log_environment.h"
#include "logging/log_file.h"
#include "logging/native_logger.h"
#include "tests/logging/native_logger_test_peer.h"

// Text-mode files store the platform's line ending.
#ifdef _WIN32
inline constexpr char kFileLineEnd[] = "\r\n";
#else
inline constexpr char kFileLineEnd[] = "\n";
#endif

inline constexpr std::uintmax_t kRotationThreshold = 52'428'800;

// A time point for a local calendar time (DST is left to the C library).
std::chrono::system_clock::time_point LocalTime(int year, int month, int day, int hour, int minute,
                                                int second, int millis = 0);

// A clock the test moves by hand; shared with the logger that reads it, also
// on the logger's cleanup thread.
class FakeClock {
 public:
  explicit FakeClock(std::chrono::system_clock::time_point start) : now_(start) {}
  std::chrono::system_clock::time_point now() const { return now_.load(); }
  void Set(std::chrono::system_clock::time_point now) { now_.store(now); }
  void Advance(std::chrono::milliseconds step) { now_.store(now_.load() + step); }

 private:
  std::atomic<std::chrono::system_clock::time_point> now_;
};

// A fresh directory below the system's temporary directory, removed with
// everything in it at destruction. `utf8_leaf` may hold sub-directories.
class TempDir {
 public:
  explicit TempDir(const std::string& utf8_leaf = "install");
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  std::string utf8() const;
  std::filesystem::path logs() const { return path_ / "logs"; }

 private:
  std::filesystem::path root_;
  std::filesystem::path path_;
};

std::string ReadFileBytes(const std::filesystem::path& path);
// The file's lines without their line endings.
std::vector<std::string> ReadLines(const std::filesystem::path& path);
// The lines of the last `bytes` bytes of a (possibly huge, sparse) file; the
// first one may be partial.
std::vector<std::string> ReadTailLines(const std::filesystem::path& path, std::size_t bytes);
// Lines of captured console text, "\r" dropped.
std::vector<std::string> SplitLines(const std::string& text);

// Writes a small file and sets its last write time.
void WriteFileWithTime(const std::filesystem::path& path, const std::string& content,
                       std::chrono::system_clock::time_point last_write);

// The part of a record after "[timestamp] ", e.g. "[INFO] [Main] [I] text".
std::string WithoutTimestamp(const std::string& record);

// Captures standard output and standard error from construction to Finish.
class ConsoleCapture {
 public:
  ConsoleCapture();
  ~ConsoleCapture();
  ConsoleCapture(const ConsoleCapture&) = delete;
  ConsoleCapture& operator=(const ConsoleCapture&) = delete;
  void Finish();
  const std::string& out() const { return out_; }
  const std::string& err() const { return err_; }

 private:
  bool active_ = true;
  std::string out_;
  std::string err_;
};

// A logger beside a temporary install directory, with a fake clock standing
// at 1 March 2025 09:15:02.047 local time.
class LoggerTest : public ::testing::Test {
 protected:
  explicit LoggerTest(const std::string& utf8_leaf = "install");

  // Environment for a logger made by MakeLogger; tests may change it first.
  velqa::logging::LogEnvironment Environment();
  std::unique_ptr<NativeLogger> MakeLogger() { return NativeLoggerTestPeer::Create(Environment()); }
  // A logger that has been initialised (console output discarded).
  std::unique_ptr<NativeLogger> MakeInitializedLogger();

  std::filesystem::path LogFile(const NativeLogger& logger) const;
  std::filesystem::path DayFile() const { return dir_.logs() / "velqa_20250301.log"; }

  TempDir dir_;
  std::shared_ptr<FakeClock> clock_;
  std::function<std::string()> install_directory_;
  std::function<void(const std::filesystem::path&, const std::filesystem::path&)> rename_;
  std::uintmax_t max_log_folder_bytes_ = velqa::logging::kMaxLogFolderBytes;
};

#endif  // VELQA_TESTS_LOGGING_LOGGER_TEST_SUPPORT_H_
