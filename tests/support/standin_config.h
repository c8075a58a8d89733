// Texts of the configurations the tests hand to the stand-in sing-box.
#ifndef VELQA_TESTS_SUPPORT_STANDIN_CONFIG_H_
#define VELQA_TESTS_SUPPORT_STANDIN_CONFIG_H_

#include <string>

namespace vpn_test {

// `text` as a JSON string literal, quotes included.
std::string JsonString(const std::string& text);
// A configuration with the given "standin" object (JSON), which tells the
// stand-in how to behave.
std::string StandinConfig(const std::string& standin_json);

}  // namespace vpn_test

#endif  // VELQA_TESTS_SUPPORT_STANDIN_CONFIG_H_
