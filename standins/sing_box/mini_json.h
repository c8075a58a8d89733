// A small JSON reader, enough for the stand-in's own configuration block.
// Numbers are kept as double; objects keep their keys in file order.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace standin {

struct JsonValue {
  enum class Kind { kNull, kBool, kNumber, kString, kArray, kObject };
  Kind kind = Kind::kNull;
  bool boolean = false;
  double number = 0;
  std::string text;
  std::vector<JsonValue> items;
  std::vector<std::pair<std::string, JsonValue>> members;

  // The member named `key` of an object, or null when absent or not an object.
  const JsonValue* Find(std::string_view key) const;
};

// Parses a whole document; nullopt (with a reason in *error) when it is not JSON.
std::optional<JsonValue> ParseJson(std::string_view text, std::string* error);

}  // namespace standin
