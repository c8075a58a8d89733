// JSON text to EncodableValue, for the arguments of scripted method calls.
// Integers become int32 when they fit and int64 otherwise (beyond int64 the
// text is refused); numbers with a fraction or an exponent become double;
// objects become maps with string keys (a repeated key keeps its last value);
// arrays become lists. Values nested deeper than 64 containers are refused.
#ifndef VELQA_STANDINS_FLUTTER_WINDOWS_JSON_TO_ENCODABLE_H_
#define VELQA_STANDINS_FLUTTER_WINDOWS_JSON_TO_ENCODABLE_H_

#include <optional>
#include <string>
#include <string_view>

#include "channel/encodable_value.h"

namespace velqa::standin {

// Nullopt on malformed text; `error` then says what and where.
std::optional<flutter::EncodableValue> ParseJson(std::string_view text, std::string* error);

}  // namespace velqa::standin

#endif  // VELQA_STANDINS_FLUTTER_WINDOWS_JSON_TO_ENCODABLE_H_
