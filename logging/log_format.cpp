#include "logging/log_format.h"

#include <stdexcept>

#include "logging/local_time.h"

namespace velqa::logging {

std::string_view LevelName(LogLevel level) {
  switch (level) {
    case LogLevel::kDebug:
      return "DEBUG";
    case LogLevel::kInfo:
      return "INFO";
    case LogLevel::kWarning:
      return "WARNING";
    case LogLevel::kError:
      return "ERROR";
    case LogLevel::kFatal:
      return "FATAL";
  }
  return "UNKNOWN";
}

std::string_view LevelMarker(LogLevel level) {
  switch (level) {
    case LogLevel::kDebug:
      return "[D]";
    case LogLevel::kInfo:
      return "[I]";
    case LogLevel::kWarning:
      return "[W]";
    case LogLevel::kError:
      return "[E]";
    case LogLevel::kFatal:
      return "[F]";
  }
  return "[?]";
}

void AppendLogEntry(std::string& out, LogLevel level, std::string_view message,
                    std::string_view tag, std::string_view timestamp) {
  const std::string_view name = LevelName(level);
  const std::string_view marker = LevelMarker(level);
  out.reserve(out.size() + timestamp.size() + name.size() + tag.size() + marker.size() +
              message.size() + 12);
  out += '[';
  out += timestamp;
  out += "] [";
  out += name;
  out += "] [";
  out += tag;
  out += "] ";
  out += marker;
  out += ' ';
  out += message;
}

std::string FormatLogEntry(LogLevel level, std::string_view message, std::string_view tag,
                           std::string_view timestamp) {
  std::string line;
  AppendLogEntry(line, level, message, tag, timestamp);
  return line;
}

SecondsAndMillis SplitMillis(std::chrono::system_clock::time_point time) {
  using std::chrono::milliseconds;
  const auto millis_since_epoch = std::chrono::floor<milliseconds>(time.time_since_epoch()).count();
  auto seconds = millis_since_epoch / 1000;
  auto millis = millis_since_epoch % 1000;
  if (millis < 0) {
    millis += 1000;
    --seconds;
  }
  return {static_cast<std::time_t>(seconds), static_cast<int>(millis)};
}

std::string FormatLocalTime(std::chrono::system_clock::time_point time, const char* format) {
  std::tm local{};
  if (!ToLocalTime(SplitMillis(time).seconds, local)) {
    throw std::runtime_error("local time conversion failed");
  }
  char text[64];
  const std::size_t length = std::strftime(text, sizeof text, format, &local);
  if (length == 0) throw std::runtime_error("local time formatting failed");
  return std::string(text, length);
}

}  // namespace velqa::logging
