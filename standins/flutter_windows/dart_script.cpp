#include "standins/flutter_windows/dart_script.h"

#include <algorithm>
#include <charconv>
#include <iterator>
#include <memory>
#include <utility>

#include "channel/method_call.h"
#include "channel/standard_method_codec.h"
#include "standins/flutter_windows/json_to_encodable.h"
#include "standins/flutter_windows/value_text.h"

namespace velqa::standin {
namespace {

std::string_view Trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r')) {
    text.remove_suffix(1);
  }
  return text;
}

// Splits off the first blank-separated word.
std::string_view NextWord(std::string_view& rest) {
  rest = Trim(rest);
  size_t end = rest.find_first_of(" \t");
  std::string_view word = rest.substr(0, end);
  rest = end == std::string_view::npos ? std::string_view() : Trim(rest.substr(end));
  return word;
}

constexpr std::pair<std::string_view, CrashKind> kCrashNames[] = {
    {"access-violation", CrashKind::kAccessViolation},
    {"stack-overflow", CrashKind::kStackOverflow},
    {"illegal-instruction", CrashKind::kIllegalInstruction},
    {"terminate", CrashKind::kTerminate},
    {"heap-locked", CrashKind::kHeapLocked},
    {"stdout-locked", CrashKind::kStdoutLocked}};

}  // namespace

DartOptions ParseDartOptions(const std::vector<std::string>& arguments) {
  DartOptions options;
  const std::pair<std::string_view, std::string*> names[] = {
      {"--dart-script", &options.script},   {"--dart-replies", &options.replies},
      {"--dart-events", &options.events},   {"--dart-args-out", &options.args_out},
      {"--dart-streams", &options.streams},
      {"--dart-consume", &options.consume}, {"--dart-shutdown-ms", &options.shutdown_ms}};
  for (size_t i = 0; i < arguments.size(); ++i) {
    std::string_view argument = arguments[i];
    for (const auto& [name, target] : names) {
      if (argument == name && i + 1 < arguments.size()) {
        *target = arguments[++i];
        break;
      }
      if (argument.size() > name.size() && argument.substr(0, name.size()) == name &&
          argument[name.size()] == '=') {
        *target = std::string(argument.substr(name.size() + 1));
        break;
      }
    }
  }
  return options;
}

std::vector<unsigned> DartOptions::ConsumedMessages() const {
  std::vector<unsigned> messages;
  std::string_view rest = consume;
  while (!rest.empty()) {
    size_t comma = rest.find(',');
    std::string_view item = Trim(rest.substr(0, comma));
    rest = comma == std::string_view::npos ? std::string_view() : rest.substr(comma + 1);
    unsigned value = 0;
    auto [ptr, ec] = std::from_chars(item.data(), item.data() + item.size(), value);
    if (!item.empty() && ec == std::errc() && ptr == item.data() + item.size()) {
      messages.push_back(value);
    }
  }
  return messages;
}

unsigned DartOptions::ShutdownMilliseconds() const {
  unsigned value = 0;
  auto [ptr, ec] =
      std::from_chars(shutdown_ms.data(), shutdown_ms.data() + shutdown_ms.size(), value);
  return ec == std::errc() && ptr == shutdown_ms.data() + shutdown_ms.size() ? value : 0;
}

std::optional<std::vector<uint8_t>> EncodeScriptCall(const std::string& method,
                                                     std::string_view arguments_json,
                                                     std::string* error) {
  auto arguments = std::make_unique<flutter::EncodableValue>();
  if (!arguments_json.empty()) {
    std::optional<flutter::EncodableValue> parsed = ParseJson(arguments_json, error);
    if (!parsed) return std::nullopt;
    *arguments = std::move(*parsed);
  }
  flutter::MethodCall<flutter::EncodableValue> call(method, std::move(arguments));
  return *flutter::StandardMethodCodec::GetInstance().EncodeMethodCall(call);
}

std::optional<std::vector<ScriptStep>> ParseDartScript(std::string_view text, std::string* error) {
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
  std::vector<ScriptStep> steps;
  int line_number = 0;
  auto fail = [&](const std::string& what) {
    if (error != nullptr) *error = "line " + std::to_string(line_number) + ": " + what;
    return std::nullopt;
  };
  while (!text.empty()) {
    ++line_number;
    size_t end = text.find('\n');
    std::string_view line = Trim(text.substr(0, end));
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    if (line.empty() || line.front() == '#') continue;

    std::string_view rest = line;
    std::string_view command = NextWord(rest);
    ScriptStep step{};
    step.line = line_number;
    if (command == "call" || command == "raw") {
      step.kind = ScriptStep::Kind::kSend;
      step.method = std::string(NextWord(rest));
      if (step.method.empty()) return fail(std::string(command) + " needs a method name");
      if (command == "call") {
        std::string json_error;
        std::optional<std::vector<uint8_t>> bytes =
            EncodeScriptCall(step.method, rest, &json_error);
        if (!bytes) return fail("bad JSON arguments: " + json_error);
        step.message = std::move(*bytes);
      } else if (!FromHex(rest, &step.message)) {
        return fail("bad hex bytes");
      }
    } else if (command == "listen" || command == "cancel") {
      step.kind = ScriptStep::Kind::kSend;
      step.method = std::string(command);
      step.channel = std::string(NextWord(rest));
      if (step.channel.empty() || !rest.empty()) {
        return fail(std::string(command) + " needs one channel name");
      }
      step.message = *EncodeScriptCall(step.method, "", nullptr);
    } else if (command == "sleep") {
      std::string_view digits = NextWord(rest);
      auto [ptr, ec] =
          std::from_chars(digits.data(), digits.data() + digits.size(), step.milliseconds);
      if (digits.empty() || ec != std::errc() || ptr != digits.data() + digits.size() ||
          !rest.empty()) {
        return fail("sleep needs a number of milliseconds");
      }
      step.kind = ScriptStep::Kind::kSleep;
    } else if (command == "exit" || command == "close") {
      if (!rest.empty()) return fail(std::string(command) + " takes no argument");
      step.kind = command == "exit" ? ScriptStep::Kind::kExit : ScriptStep::Kind::kClose;
    } else if (command == "crash") {
      const std::string_view kind = NextWord(rest);
      const auto* known = std::find_if(std::begin(kCrashNames), std::end(kCrashNames),
                                       [&](const auto& entry) { return entry.first == kind; });
      if (known == std::end(kCrashNames)) return fail("unknown crash '" + std::string(kind) + "'");
      step.on_worker = rest == "worker";
      if (!rest.empty() && !step.on_worker) return fail("crash takes only 'worker' after its kind");
      step.kind = ScriptStep::Kind::kCrash;
      step.crash = known->second;
    } else {
      return fail("unknown command '" + std::string(command) + "'");
    }
    steps.push_back(std::move(step));
  }
  return steps;
}

}  // namespace velqa::standin
