// The order of values, which is the key order of maps.
#include <gtest/gtest.h>

#include <any>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "channel/encodable_value.h"

namespace {

using flutter::CustomEncodableValue;
using flutter::EncodableList;
using flutter::EncodableMap;
using flutter::EncodableValue;

void ExpectStrictlyAscending(const std::vector<EncodableValue>& values) {
  for (size_t i = 0; i < values.size(); ++i) {
    for (size_t j = 0; j < values.size(); ++j) {
      EXPECT_EQ(values[i] < values[j], i < j) << i << " vs " << j;
      EXPECT_EQ(values[i] == values[j], i == j) << i << " vs " << j;
    }
  }
}

TEST(EncodableValueOrder, AlternativesOrderByIndexWhateverTheContent) {
  const CustomEncodableValue custom(std::any(1));
  ExpectStrictlyAscending({
      EncodableValue(),
      EncodableValue(true),
      EncodableValue(std::numeric_limits<int32_t>::max()),
      EncodableValue(std::numeric_limits<int64_t>::min()),
      EncodableValue(-1e300),
      EncodableValue(std::string()),
      EncodableValue(std::vector<uint8_t>{}),
      EncodableValue(std::vector<int32_t>{}),
      EncodableValue(std::vector<int64_t>{}),
      EncodableValue(std::vector<double>{}),
      EncodableValue(EncodableList{}),
      EncodableValue(EncodableMap{}),
      EncodableValue(custom),
      EncodableValue(std::vector<float>{}),
  });
}

TEST(EncodableValueOrder, WithinAnAlternative) {
  ExpectStrictlyAscending({EncodableValue(false), EncodableValue(true)});
  ExpectStrictlyAscending({EncodableValue(int32_t{-5}), EncodableValue(int32_t{0}),
                           EncodableValue(int32_t{7})});
  ExpectStrictlyAscending({EncodableValue(int64_t{-1}), EncodableValue(int64_t{1} << 40)});
  ExpectStrictlyAscending({EncodableValue(-std::numeric_limits<double>::infinity()),
                           EncodableValue(-0.5), EncodableValue(0.0), EncodableValue(2.0),
                           EncodableValue(std::numeric_limits<double>::quiet_NaN())});
  // Byte-wise: a high byte after ASCII, a proper prefix first.
  ExpectStrictlyAscending({EncodableValue(""), EncodableValue("Z"), EncodableValue("a"),
                           EncodableValue("ab"), EncodableValue("abc"), EncodableValue("\xC3\xA9")});
  ExpectStrictlyAscending({EncodableValue(std::vector<uint8_t>{1}),
                           EncodableValue(std::vector<uint8_t>{1, 0}),
                           EncodableValue(std::vector<uint8_t>{2})});
  ExpectStrictlyAscending({EncodableValue(std::vector<float>{-1.0f}),
                           EncodableValue(std::vector<float>{-1.0f, 0.0f}),
                           EncodableValue(std::vector<float>{1.0f})});
  ExpectStrictlyAscending({EncodableValue(EncodableList{EncodableValue(int32_t{1})}),
                           EncodableValue(EncodableList{EncodableValue(int32_t{1}), EncodableValue()}),
                           EncodableValue(EncodableList{EncodableValue("a")})});
}

TEST(EncodableValueOrder, MapsCompareEntriesKeyFirstThenValue) {
  auto map = [](std::vector<std::pair<int32_t, int32_t>> entries) {
    EncodableMap m;
    for (auto [k, v] : entries) m[EncodableValue(k)] = EncodableValue(v);
    return EncodableValue(m);
  };
  ExpectStrictlyAscending({map({}), map({{1, 9}}), map({{1, 9}, {5, 0}}), map({{2, 0}}),
                           map({{2, 1}})});
}

TEST(EncodableValueOrder, NumbersEqualByValueAndNaNEqualsNaN) {
  EXPECT_EQ(EncodableValue(0.0), EncodableValue(-0.0));
  const double nan = std::numeric_limits<double>::quiet_NaN();
  EXPECT_EQ(EncodableValue(nan), EncodableValue(-nan));
  EXPECT_EQ(EncodableValue(std::vector<double>{nan}), EncodableValue(std::vector<double>{nan}));
}

TEST(EncodableValueOrder, CustomValuesCompareByWrapperIdentity) {
  const EncodableValue a(CustomEncodableValue(std::any(1)));
  const EncodableValue b(CustomEncodableValue(std::any(1)));
  EXPECT_EQ(a, a);
  EXPECT_NE(a, b);
  EXPECT_NE(a < b, b < a);
  // The wrappers' own order is the one the values use.
  const auto& wrapped_a = std::get<CustomEncodableValue>(a);
  const auto& wrapped_b = std::get<CustomEncodableValue>(b);
  EXPECT_EQ(wrapped_a < wrapped_b, a < b);
  EXPECT_EQ(wrapped_b < wrapped_a, b < a);
  EXPECT_FALSE(wrapped_a < wrapped_a);
}

TEST(EncodableValueOrder, MapIteratesKeysAscendingAndHoldsOneEntryPerKey) {
  EncodableMap map;
  map[EncodableValue("b")] = EncodableValue(1);
  map[EncodableValue(int32_t{3})] = EncodableValue(2);
  map[EncodableValue()] = EncodableValue(3);
  map[EncodableValue("a")] = EncodableValue(4);
  map[EncodableValue("b")] = EncodableValue(5);
  std::vector<EncodableValue> keys;
  for (const auto& entry : map) keys.push_back(entry.first);
  EXPECT_EQ(keys, (std::vector<EncodableValue>{EncodableValue(), EncodableValue(int32_t{3}),
                                               EncodableValue("a"), EncodableValue("b")}));
  EXPECT_EQ(map.at(EncodableValue("b")), EncodableValue(5));
}

TEST(EncodableValueOrder, ReadingTheWrongAlternativeThrowsBadVariantAccess) {
  const EncodableValue value(int32_t{1});
  EXPECT_THROW(std::get<std::string>(value), std::bad_variant_access);
  EXPECT_EQ(value.LongValue(), 1);
  EXPECT_EQ(EncodableValue(int64_t{1} << 40).LongValue(), int64_t{1} << 40);
  EXPECT_THROW(EncodableValue("x").LongValue(), std::bad_variant_access);
}

}  // namespace
