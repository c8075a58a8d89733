#include "channel/encodable_value.h"

#include <cmath>
#include <cstddef>

namespace flutter {
namespace {

// Three-way comparisons: negative, zero or positive.

template <typename T>
int CompareNumbers(T lhs, T rhs) {
  if constexpr (std::is_floating_point_v<T>) {
    // NaN sorts after every other number and equals every NaN, so map keys
    // keep a strict weak order even when hostile input sends NaN.
    const bool lhs_nan = std::isnan(lhs);
    const bool rhs_nan = std::isnan(rhs);
    if (lhs_nan || rhs_nan) {
      return static_cast<int>(lhs_nan) - static_cast<int>(rhs_nan);
    }
  }
  return lhs < rhs ? -1 : (rhs < lhs ? 1 : 0);
}

int Compare(const EncodableValue& lhs, const EncodableValue& rhs);

template <typename T, typename ElementCompare>
int CompareSequences(const std::vector<T>& lhs, const std::vector<T>& rhs, ElementCompare compare) {
  const size_t common = lhs.size() < rhs.size() ? lhs.size() : rhs.size();
  for (size_t i = 0; i < common; ++i) {
    if (int order = compare(lhs[i], rhs[i]); order != 0) {
      return order;
    }
  }
  return CompareNumbers(lhs.size(), rhs.size());
}

int CompareMaps(const EncodableMap& lhs, const EncodableMap& rhs) {
  auto left = lhs.begin();
  auto right = rhs.begin();
  for (; left != lhs.end() && right != rhs.end(); ++left, ++right) {
    if (int order = Compare(left->first, right->first); order != 0) {
      return order;
    }
    if (int order = Compare(left->second, right->second); order != 0) {
      return order;
    }
  }
  return CompareNumbers(lhs.size(), rhs.size());
}

int Compare(const EncodableValue& lhs, const EncodableValue& rhs) {
  if (lhs.index() != rhs.index()) {
    return lhs.index() < rhs.index() ? -1 : 1;
  }
  auto numbers = [](auto a, auto b) { return CompareNumbers(a, b); };
  switch (lhs.index()) {
    case 0:
      return 0;
    case 1:
      return CompareNumbers<int>(*std::get_if<bool>(&lhs), *std::get_if<bool>(&rhs));
    case 2:
      return CompareNumbers(*std::get_if<int32_t>(&lhs), *std::get_if<int32_t>(&rhs));
    case 3:
      return CompareNumbers(*std::get_if<int64_t>(&lhs), *std::get_if<int64_t>(&rhs));
    case 4:
      return CompareNumbers(*std::get_if<double>(&lhs), *std::get_if<double>(&rhs));
    case 5: {
      // std::string compares its bytes as unsigned char.
      const int order = std::get_if<std::string>(&lhs)->compare(*std::get_if<std::string>(&rhs));
      return order < 0 ? -1 : (order > 0 ? 1 : 0);
    }
    case 6:
      return CompareSequences(*std::get_if<std::vector<uint8_t>>(&lhs),
                              *std::get_if<std::vector<uint8_t>>(&rhs), numbers);
    case 7:
      return CompareSequences(*std::get_if<std::vector<int32_t>>(&lhs),
                              *std::get_if<std::vector<int32_t>>(&rhs), numbers);
    case 8:
      return CompareSequences(*std::get_if<std::vector<int64_t>>(&lhs),
                              *std::get_if<std::vector<int64_t>>(&rhs), numbers);
    case 9:
      return CompareSequences(*std::get_if<std::vector<double>>(&lhs),
                              *std::get_if<std::vector<double>>(&rhs), numbers);
    case 10:
      return CompareSequences(
          *std::get_if<EncodableList>(&lhs), *std::get_if<EncodableList>(&rhs),
          [](const EncodableValue& a, const EncodableValue& b) { return Compare(a, b); });
    case 11:
      return CompareMaps(*std::get_if<EncodableMap>(&lhs), *std::get_if<EncodableMap>(&rhs));
    case 12: {
      const auto& left = *std::get_if<CustomEncodableValue>(&lhs);
      const auto& right = *std::get_if<CustomEncodableValue>(&rhs);
      return left < right ? -1 : (right < left ? 1 : 0);
    }
    case 13:
      return CompareSequences(*std::get_if<std::vector<float>>(&lhs), *std::get_if<std::vector<float>>(&rhs),
                              numbers);
    default:
      return 0;  // valueless_by_exception: equal to itself
  }
}

}  // namespace

int64_t EncodableValue::LongValue() const {
  if (const auto* value = std::get_if<int32_t>(this)) {
    return *value;
  }
  return std::get<int64_t>(*this);
}

std::weak_ordering operator<=>(const EncodableValue& lhs, const EncodableValue& rhs) {
  const int order = Compare(lhs, rhs);
  return order < 0 ? std::weak_ordering::less
                   : (order > 0 ? std::weak_ordering::greater : std::weak_ordering::equivalent);
}

bool operator<(const EncodableValue& lhs, const EncodableValue& rhs) {
  return Compare(lhs, rhs) < 0;
}

bool operator==(const EncodableValue& lhs, const EncodableValue& rhs) {
  return Compare(lhs, rhs) == 0;
}

}  // namespace flutter
