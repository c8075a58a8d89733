#include "standins/flutter_windows/json_to_encodable.h"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <limits>
#include <utility>
#include <vector>

namespace velqa::standin {
namespace {

using flutter::EncodableList;
using flutter::EncodableMap;
using flutter::EncodableValue;
using Json = nlohmann::json;

// Deep enough for any real arguments, shallow enough that destroying the
// value, which recurses, stays far from the end of the stack.
constexpr size_t kMaxDepth = 64;
constexpr char kTooDeep[] = "nesting deeper than 64";

// Builds the value while the parser reads, rather than converting a parsed
// document: only here is the text of a number still at hand, which tells an
// integer too long for 64 bits (the parser turns it into a double) from a
// real double.
class EncodableBuilder final : public nlohmann::json_sax<Json> {
 public:
  bool null() override { return Add(EncodableValue()); }
  bool boolean(bool value) override { return Add(EncodableValue(value)); }
  bool number_integer(Json::number_integer_t value) override { return AddInteger(value); }
  bool number_unsigned(Json::number_unsigned_t value) override {
    if (value > static_cast<uint64_t>(std::numeric_limits<int64_t>::max())) {
      return Fail("integer " + std::to_string(value) + " out of the 64-bit range");
    }
    return AddInteger(static_cast<int64_t>(value));
  }
  bool number_float(Json::number_float_t value, const Json::string_t& text) override {
    if (text.find_first_of(".eE") == std::string::npos) {
      return Fail("integer " + text + " out of the 64-bit range");
    }
    return Add(EncodableValue(value));
  }
  bool string(Json::string_t& value) override { return Add(EncodableValue(std::move(value))); }
  bool binary(Json::binary_t& /*value*/) override { return Fail("binary value"); }
  bool start_object(std::size_t /*elements*/) override { return Open(EncodableMap()); }
  bool key(Json::string_t& name) override {
    open_.back().key = std::move(name);
    return true;
  }
  bool end_object() override { return Close(); }
  bool start_array(std::size_t /*elements*/) override { return Open(EncodableList()); }
  bool end_array() override { return Close(); }
  bool parse_error(std::size_t /*position*/, const std::string& /*last_token*/,
                   const Json::exception& fault) override {
    // The message names line and column; the "[json.exception...]" tag
    // before it means nothing to a script's author.
    std::string_view message = fault.what();
    size_t tag_end = message.find("] ");
    if (tag_end != std::string_view::npos) message.remove_prefix(tag_end + 2);
    return Fail(std::string(message));
  }

  const std::string& error() const { return error_; }
  EncodableValue TakeResult() { return std::move(result_); }

 private:
  struct OpenContainer {
    EncodableValue value;
    std::string key;  // an object's member whose value comes next
  };

  bool Fail(std::string what) {
    error_ = std::move(what);
    return false;
  }

  bool AddInteger(int64_t value) {
    if (value >= std::numeric_limits<int32_t>::min() &&
        value <= std::numeric_limits<int32_t>::max()) {
      return Add(EncodableValue(static_cast<int32_t>(value)));
    }
    return Add(EncodableValue(value));
  }

  bool Add(EncodableValue value) {
    if (open_.size() > kMaxDepth) return Fail(kTooDeep);
    if (open_.empty()) {
      result_ = std::move(value);
      return true;
    }
    OpenContainer& top = open_.back();
    if (auto* list = std::get_if<EncodableList>(&top.value)) {
      list->push_back(std::move(value));
    } else {
      std::get<EncodableMap>(top.value)[EncodableValue(top.key)] = std::move(value);
    }
    return true;
  }

  bool Open(EncodableValue container) {
    if (open_.size() > kMaxDepth) return Fail(kTooDeep);
    open_.push_back({std::move(container), {}});
    return true;
  }

  bool Close() {
    EncodableValue done = std::move(open_.back().value);
    open_.pop_back();
    return Add(std::move(done));
  }

  std::vector<OpenContainer> open_;
  EncodableValue result_;
  std::string error_;
};

}  // namespace

std::optional<flutter::EncodableValue> ParseJson(std::string_view text, std::string* error) {
  EncodableBuilder builder;
  if (!Json::sax_parse(text.data(), text.data() + text.size(), &builder)) {
    if (error != nullptr) *error = builder.error();
    return std::nullopt;
  }
  return builder.TakeResult();
}

}  // namespace velqa::standin
