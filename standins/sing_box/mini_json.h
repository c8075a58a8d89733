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
  // An object's members as two parallel lists: a vector of pairs holding the
  // still incomplete JsonValue is not portable (clang's libstdc++ mode refuses it).
  std::vector<std::string> member_names;
  std::vector<JsonValue> member_values;

  // The member named `key` of an object, or null when absent or not an object.
  const JsonValue* Find(std::string_view key) const;
};

// Parses a whole document; nullopt (with a reason in *error) when it is not JSON.
std::optional<JsonValue> ParseJson(std::string_view text, std::string* error);

}  // namespace standin
