// The value exchanged over platform channels: a tagged union with value
// semantics (deep copy, cheap move) and a total order used as map key order.
//
// Thread safety: a value is an ordinary object; distinct values may be used on
// distinct threads, one value must not be changed while another thread reads it.
#ifndef VELQA_CHANNEL_ENCODABLE_VALUE_H_
#define VELQA_CHANNEL_ENCODABLE_VALUE_H_

#include <any>
#include <compare>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <typeinfo>
#include <utility>
#include <variant>
#include <vector>

namespace flutter {

class EncodableValue;

using EncodableList = std::vector<EncodableValue>;
using EncodableMap = std::map<EncodableValue, EncodableValue>;

// Wraps a value of any type. The standard serializer cannot encode it (it goes
// out as null); a derived serializer may. Custom values order by the address of
// the wrapper, so two wrappers are equal only when they are the same object.
class CustomEncodableValue {
 public:
  explicit CustomEncodableValue(const std::any& value) : value_(value) {}
  ~CustomEncodableValue() = default;

  CustomEncodableValue(const CustomEncodableValue&) = default;
  CustomEncodableValue& operator=(const CustomEncodableValue&) = default;
  CustomEncodableValue(CustomEncodableValue&&) noexcept = default;
  CustomEncodableValue& operator=(CustomEncodableValue&&) noexcept = default;

  operator std::any&() { return value_; }
  operator const std::any&() const { return value_; }
  const std::any& value() const { return value_; }
  const std::type_info& type() const noexcept { return value_.type(); }

  // std::less, not <: only it gives a total order over unrelated objects.
  bool operator<(const CustomEncodableValue& other) const {
    return std::less<const CustomEncodableValue*>()(this, &other);
  }
  bool operator==(const CustomEncodableValue& other) const { return this == &other; }

 private:
  std::any value_;
};

namespace internal {
// The alternatives in wire-independent index order; the index decides the
// order between values of different alternatives.
using EncodableValueVariant =
    std::variant<std::monostate,             // 0 null
                 bool,                       // 1
                 int32_t,                    // 2
                 int64_t,                    // 3
                 double,                     // 4
                 std::string,                // 5
                 std::vector<uint8_t>,       // 6
                 std::vector<int32_t>,       // 7
                 std::vector<int64_t>,       // 8
                 std::vector<double>,        // 9
                 EncodableList,              // 10
                 EncodableMap,               // 11
                 CustomEncodableValue,       // 12
                 std::vector<float>>;        // 13
}  // namespace internal

class EncodableValue : public internal::EncodableValueVariant {
 public:
  using super = internal::EncodableValueVariant;
  using super::super;
  using super::operator=;

  EncodableValue() = default;

  // A string literal is text, not a bool.
  explicit EncodableValue(const char* string) : super(std::string(string)) {}
  EncodableValue& operator=(const char* string) {
    super::operator=(std::string(string));
    return *this;
  }

  bool IsNull() const { return std::holds_alternative<std::monostate>(*this); }

  // The integer held as 64 bits, for int32 and int64 alike. Throws
  // std::bad_variant_access for any other alternative.
  int64_t LongValue() const;

  // Order: first by alternative index; within one alternative: false before
  // true, numbers numerically (every NaN after every other number, all NaNs
  // equivalent), strings and lists lexicographically (a proper prefix first),
  // maps by their entries in key order, custom values by wrapper address.
  // Equality is equivalence under this order. (Declaring <=> here also keeps
  // std::variant's own comparison templates, which recurse through
  // EncodableList and EncodableMap, from being chosen.)
  friend std::weak_ordering operator<=>(const EncodableValue& lhs, const EncodableValue& rhs);
  friend bool operator<(const EncodableValue& lhs, const EncodableValue& rhs);
  friend bool operator==(const EncodableValue& lhs, const EncodableValue& rhs);
};

}  // namespace flutter

#endif  // VELQA_CHANNEL_ENCODABLE_VALUE_H_
