// The stand-in sing-box's reading of its configuration: which keys count as
// given, what a key of another type gives, and the reason for text that is
// not JSON.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <utility>

#include "standins/sing_box/standin_script.h"

namespace standin {
namespace {

std::optional<StandinScript> Read(const std::string& text) {
  std::optional<StandinScript> script;
  std::string reason;
  EXPECT_TRUE(ReadStandinScript(text, &script, &reason)) << text << ": " << reason;
  return script;
}

TEST(SingBoxStandinScriptTest, KeysOfTheirTypeAreTaken) {
  std::optional<StandinScript> script = Read(R"({"log": {}, "standin": {
      "stdout": "a\n", "stderr": "\u00fc", "burst_bytes": 4096, "spawn_child": true,
      "escape_child_ms": 1.5e3, "escape_child_writes": true, "exit_code": 3}})");
  ASSERT_TRUE(script.has_value());
  EXPECT_EQ(script->stdout_text, "a\n");
  EXPECT_EQ(script->stderr_text, "\xC3\xBC");
  EXPECT_EQ(script->burst_bytes, 4096);
  EXPECT_TRUE(script->spawn_child);
  EXPECT_EQ(script->escape_child_ms, 1500);
  EXPECT_TRUE(script->escape_child_writes);
  EXPECT_EQ(script->exit_code, 3.0);
  EXPECT_FALSE(script->exit_after_ms || script->report_handles || script->done_file ||
               script->last_words);
}

// A key of another type still counts as given: "exit_code": "3" makes the
// stand-in exit by itself (with 0) instead of running until ended.
TEST(SingBoxStandinScriptTest, KeysOfAnotherTypeAreGivenButEmpty) {
  std::optional<StandinScript> script =
      Read(R"({"standin": {"stdout": 1, "exit_code": "3", "burst_bytes": "9", "spawn_child": 1}})");
  ASSERT_TRUE(script.has_value());
  EXPECT_EQ(script->stdout_text, "");
  EXPECT_EQ(script->exit_code, 0.0);
  EXPECT_EQ(script->burst_bytes, 0);
  EXPECT_FALSE(script->spawn_child);
}

TEST(SingBoxStandinScriptTest, WithoutAScriptObjectThereIsNoScript) {
  for (const char* text : {"{}", R"({"standin": 5})", R"({"standin": [1]})", "[1]", "null"}) {
    EXPECT_FALSE(Read(text).has_value()) << text;
  }
}

TEST(SingBoxStandinScriptTest, TextThatIsNotJsonNamesWhereItBroke) {
  const std::pair<const char*, const char*> cases[] = {{"", "invalid JSON near offset 0"},
                                                       {"[1,]", "invalid JSON near offset 3"},
                                                       {"{\"a\" 1}", "invalid JSON near offset 5"}};
  for (const auto& [text, expected] : cases) {
    std::optional<StandinScript> script;
    std::string reason;
    EXPECT_FALSE(ReadStandinScript(text, &script, &reason)) << text;
    EXPECT_EQ(reason, expected) << text;
  }
}

}  // namespace
}  // namespace standin
