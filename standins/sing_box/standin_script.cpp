#include "standins/sing_box/standin_script.h"

#include <nlohmann/json.hpp>

namespace standin {
namespace {

using Json = nlohmann::json;

std::optional<std::string> Text(const Json& script, const char* key) {
  auto found = script.find(key);
  if (found == script.end()) return std::nullopt;
  return found->is_string() ? found->get<std::string>() : std::string();
}

std::optional<double> Number(const Json& script, const char* key) {
  auto found = script.find(key);
  if (found == script.end()) return std::nullopt;
  return found->is_number() ? found->get<double>() : 0.0;
}

bool Flag(const Json& script, const char* key) {
  auto found = script.find(key);
  return found != script.end() && found->is_boolean() && found->get<bool>();
}

StandinScript FromObject(const Json& object) {
  StandinScript script;
  script.report_handles = Text(object, "report_handles");
  script.stdout_text = Text(object, "stdout");
  script.stderr_text = Text(object, "stderr");
  script.burst_bytes = Number(object, "burst_bytes").value_or(0);
  script.done_file = Text(object, "done_file");
  script.spawn_child = Flag(object, "spawn_child");
  script.escape_child_ms = Number(object, "escape_child_ms").value_or(0);
  script.escape_child_writes = Flag(object, "escape_child_writes");
  script.exit_after_ms = Number(object, "exit_after_ms");
  script.exit_code = Number(object, "exit_code");
  script.last_words = Text(object, "last_words");
  return script;
}

}  // namespace

bool ReadStandinScript(std::string_view config_text, std::optional<StandinScript>* script,
                       std::string* reason) {
  Json config;
  try {
    config = Json::parse(config_text);
  } catch (const Json::parse_error& fault) {
    // `byte` counts from 1 and stands on the character that ended the read.
    *reason = "invalid JSON near offset " + std::to_string(fault.byte - 1);
    return false;
  } catch (const Json::exception& fault) {  // a number beyond the range of a double
    *reason = std::string("invalid JSON: ") + fault.what();
    return false;
  }
  auto found = config.find("standin");
  *script = std::nullopt;
  if (found != config.end() && found->is_object()) *script = FromObject(*found);
  return true;
}

}  // namespace standin
