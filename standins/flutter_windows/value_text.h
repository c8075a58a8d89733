// Readable text for values and reply envelopes, as the stand-in's Dart side
// records them: JSON-like values, replies as "success VALUE",
// "error CODE MESSAGE DETAILS" or "not implemented".
#ifndef VELQA_STANDINS_FLUTTER_WINDOWS_VALUE_TEXT_H_
#define VELQA_STANDINS_FLUTTER_WINDOWS_VALUE_TEXT_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "channel/encodable_value.h"

namespace velqa::standin {

std::string DescribeValue(const flutter::EncodableValue& value);
std::string DescribeReply(const uint8_t* bytes, size_t size);

// Lowercase hex, two digits per byte, no separators.
std::string ToHex(const uint8_t* bytes, size_t size);
// Accepts upper or lower case and ignores blanks; false on anything else or
// an odd digit count.
bool FromHex(std::string_view text, std::vector<uint8_t>* bytes);

}  // namespace velqa::standin

#endif  // VELQA_STANDINS_FLUTTER_WINDOWS_VALUE_TEXT_H_
