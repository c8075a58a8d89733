#include "tests/logging/logger_test_support.h"

#include <atomic>
#include <ctime>
#include <fstream>
#include <random>
#include <stdexcept>
#include <system_error>

#include "base/utf8_path.h"
#include "logging/console_output.h"
#include "tests/logging/file_time_setter.h"

namespace fs = std::filesystem;
using velqa::base::PathFromUtf8;

std::chrono::system_clock::time_point LocalTime(int year, int month, int day, int hour, int minute,
                                                int second, int millis) {
  std::tm local{};
  local.tm_year = year - 1900;
  local.tm_mon = month - 1;
  local.tm_mday = day;
  local.tm_hour = hour;
  local.tm_min = minute;
  local.tm_sec = second;
  local.tm_isdst = -1;
  const std::time_t seconds = std::mktime(&local);
  if (seconds == static_cast<std::time_t>(-1)) throw std::runtime_error("mktime failed");
  return std::chrono::system_clock::from_time_t(seconds) + std::chrono::milliseconds(millis);
}

TempDir::TempDir(const std::string& utf8_leaf) {
  static std::atomic<unsigned> sequence{0};
  std::random_device random;
  root_ = fs::temp_directory_path() /
          ("velqa_logger_test_" + std::to_string(random()) + "_" + std::to_string(++sequence));
  path_ = root_ / PathFromUtf8(utf8_leaf);
  fs::create_directories(path_);
}

TempDir::~TempDir() {
  std::error_code ignored;
  fs::remove_all(root_, ignored);
}

std::string TempDir::utf8() const { return velqa::base::Utf8FromPath(path_); }

std::string ReadFileBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::string line;
  for (char c : text) {
    if (c == '\r') continue;
    if (c == '\n') {
      lines.push_back(line);
      line.clear();
    } else {
      line += c;
    }
  }
  if (!line.empty()) lines.push_back(line);
  return lines;
}

std::vector<std::string> ReadLines(const fs::path& path) { return SplitLines(ReadFileBytes(path)); }

std::vector<std::string> ReadTailLines(const fs::path& path, std::size_t bytes) {
  std::ifstream in(path, std::ios::binary);
  in.seekg(0, std::ios::end);
  const std::streamoff size = in.tellg();
  const std::streamoff start = size > static_cast<std::streamoff>(bytes) ? size - bytes : 0;
  in.seekg(start);
  std::string tail(static_cast<std::size_t>(size - start), '\0');
  in.read(tail.data(), static_cast<std::streamsize>(tail.size()));
  return SplitLines(tail);
}

void WriteFileWithTime(const fs::path& path, const std::string& content,
                       std::chrono::system_clock::time_point last_write) {
  {
    std::ofstream out(path, std::ios::binary);
    out << content;
  }
  SetLastWriteTime(path, last_write);
}

std::string WithoutTimestamp(const std::string& record) {
  const std::size_t end = record.find("] ");
  return end == std::string::npos ? record : record.substr(end + 2);
}

ConsoleCapture::ConsoleCapture() {
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
}

ConsoleCapture::~ConsoleCapture() { Finish(); }

void ConsoleCapture::Finish() {
  if (!active_) return;
  active_ = false;
  // Console lines are written by a thread of their own.
  velqa::logging::ConsoleOutput::Instance().Drain(std::chrono::seconds(10));
  out_ = testing::internal::GetCapturedStdout();
  err_ = testing::internal::GetCapturedStderr();
}

LoggerTest::LoggerTest(const std::string& utf8_leaf)
    : dir_(utf8_leaf), clock_(std::make_shared<FakeClock>(LocalTime(2025, 3, 1, 9, 15, 2, 47))) {
  install_directory_ = [this] { return dir_.utf8(); };
}

velqa::logging::LogEnvironment LoggerTest::Environment() {
  velqa::logging::LogEnvironment environment;
  environment.now = [clock = clock_] { return clock->now(); };
  environment.install_directory = install_directory_;
  environment.rename = rename_;
  environment.max_log_folder_bytes = max_log_folder_bytes_;
  return environment;
}

std::unique_ptr<NativeLogger> LoggerTest::MakeInitializedLogger() {
  auto logger = MakeLogger();
  ConsoleCapture console;
  const bool ready = logger->Initialize();
  console.Finish();
  EXPECT_TRUE(ready) << console.err();
  return logger;
}

fs::path LoggerTest::LogFile(const NativeLogger& logger) const {
  return PathFromUtf8(NativeLoggerTestPeer::LogFilePath(logger));
}
