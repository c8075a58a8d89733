#include "logging/log_format.h"

#include <cstddef>
#include <iterator>
#include <stdexcept>

#include "logging/local_time.h"

namespace velqa::logging {

namespace {

struct LevelTexts {
  std::string_view name;
  std::string_view marker;
};

// Indexed by the enumerator's value.
constexpr LevelTexts kLevelTexts[] = {
    {"DEBUG", "[D]"}, {"INFO", "[I]"}, {"WARNING", "[W]"}, {"ERROR", "[E]"}, {"FATAL", "[F]"},
};
constexpr LevelTexts kUnknownLevelTexts{"UNKNOWN", "[?]"};

const LevelTexts& TextsOf(LogLevel level) {
  // A negative value becomes huge here and falls outside the table as well.
  const auto index = static_cast<std::size_t>(static_cast<int>(level));
  return index < std::size(kLevelTexts) ? kLevelTexts[index] : kUnknownLevelTexts;
}

}  // namespace

std::string_view LevelName(LogLevel level) { return TextsOf(level).name; }

std::string_view LevelMarker(LogLevel level) { return TextsOf(level).marker; }

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

std::string FormatRecordTime(std::chrono::system_clock::time_point time) {
  const auto [seconds, millis] = SplitMillis(time);
  std::string text =
      FormatLocalTime(std::chrono::system_clock::from_time_t(seconds), "%Y-%m-%d %H:%M:%S");
  text += '.';
  text += static_cast<char>('0' + millis / 100);
  text += static_cast<char>('0' + millis / 10 % 10);
  text += static_cast<char>('0' + millis % 10);
  return text;
}

}  // namespace velqa::logging
