#include "tests/support/standin_config.h"

namespace vpn_test {

std::string JsonString(const std::string& text) {
  std::string quoted = "\"";
  for (char c : text) {
    if (c == '"' || c == '\\') quoted += '\\';
    quoted += c;
  }
  return quoted + "\"";
}

std::string StandinConfig(const std::string& standin_json) {
  return "{\"log\": {\"level\": \"info\"}, \"standin\": " + standin_json + "}";
}

}  // namespace vpn_test
