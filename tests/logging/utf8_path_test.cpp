#include "logging/utf8_path.h"

#include <gtest/gtest.h>

#include <string>

namespace velqa::logging {
namespace {

struct Utf8Case {
  const char* name;
  std::string text;
  bool valid;
};

class IsValidUtf8Test : public ::testing::TestWithParam<Utf8Case> {};

// Whatever passes must also convert to a wide path on Windows: a text that
// passed here but not there would leave a call unanswered.
TEST_P(IsValidUtf8Test, AcceptsWellFormedTextOnly) {
  EXPECT_EQ(IsValidUtf8(GetParam().text), GetParam().valid);
  if (GetParam().valid) {
    EXPECT_EQ(Utf8FromPath(PathFromUtf8(GetParam().text)), GetParam().text);
  }
}

INSTANTIATE_TEST_SUITE_P(Texts, IsValidUtf8Test,
                         ::testing::Values(Utf8Case{"Ascii", "/cfg/config.json", true},
                                           Utf8Case{"Chinese", "节点 配置.json", true},
                                           Utf8Case{"FourByte", "\xF0\x9F\x98\x80", true},
                                           Utf8Case{"LastScalar", "\xF4\x8F\xBF\xBF", true},
                                           Utf8Case{"StrayContinuation", "a\x80", false},
                                           Utf8Case{"Cut", "\xE8\x8A", false},
                                           Utf8Case{"Overlong", "\xC0\xAF", false},
                                           Utf8Case{"OverlongThreeByte", "\xE0\x80\xAF", false},
                                           Utf8Case{"Surrogate", "\xED\xA0\x80", false},
                                           Utf8Case{"BeyondU10FFFF", "\xF4\x90\x80\x80", false},
                                           Utf8Case{"Latin1", "\xFF\xFE.json", false}),
                         [](const ::testing::TestParamInfo<Utf8Case>& info) {
                           return std::string(info.param.name);
                         });

}  // namespace
}  // namespace velqa::logging
