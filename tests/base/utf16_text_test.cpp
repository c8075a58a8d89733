#include "base/utf16_text.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <type_traits>

#include "base/utf8_path.h"

namespace velqa::base {
namespace {

struct Utf8Case {
  const char* name;
  std::string text;
  bool valid;
};

class Utf8InputTest : public ::testing::TestWithParam<Utf8Case> {};

// What passes the check must also convert, to wide text and to a path, and
// come back unchanged: a text that passed there but failed here would leave a
// call unanswered.
TEST_P(Utf8InputTest, WellFormedTextAloneConvertsAndRoundTrips) {
  const std::optional<std::wstring> wide = WideFromUtf8(GetParam().text);
  EXPECT_EQ(IsValidUtf8(GetParam().text), GetParam().valid);
  ASSERT_EQ(wide.has_value(), GetParam().valid);
  if (!wide) return;
  EXPECT_EQ(Utf8FromWide(*wide), GetParam().text);
  EXPECT_EQ(Utf8FromPath(PathFromUtf8(GetParam().text)), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, Utf8InputTest,
    ::testing::Values(Utf8Case{"Empty", "", true}, Utf8Case{"Ascii", "/cfg/config.json", true},
                      Utf8Case{"Chinese", "节点 配置.json", true},
                      Utf8Case{"FourByte", "\xF0\x9F\x98\x80", true},
                      Utf8Case{"LastScalar", "\xF4\x8F\xBF\xBF", true},
                      Utf8Case{"StrayContinuation", "a\x80", false},
                      Utf8Case{"Cut", "\xE8\x8A", false}, Utf8Case{"Overlong", "\xC0\xAF", false},
                      Utf8Case{"OverlongThreeByte", "\xE0\x80\xAF", false},
                      Utf8Case{"Surrogate", "\xED\xA0\x80", false},
                      Utf8Case{"BeyondU10FFFF", "\xF4\x90\x80\x80", false},
                      Utf8Case{"Latin1", "\xFF\xFE.json", false}),
    [](const ::testing::TestParamInfo<Utf8Case>& info) { return std::string(info.param.name); });

// Wide literals are spelled as code units, so the test means the same where
// wchar_t is 32 bits wide.
TEST(Utf8FromWideTest, ConvertsTextAndRejectsWhatIsNotUtf16) {
  EXPECT_EQ(Utf8FromWide(L""), "");
  EXPECT_EQ(Utf8FromWide(L"plain"), "plain");
  EXPECT_EQ(Utf8FromWide(L"\u00fc"), "\xC3\xBC");
  EXPECT_EQ(Utf8FromWide(L"Velqa\u7535\u5546\u52A9\u624B"),
            "Velqa\xE7\x94\xB5\xE5\x95\x86\xE5\x8A\xA9\xE6\x89\x8B");
  // A surrogate pair is one code point of four bytes.
  EXPECT_EQ(Utf8FromWide(std::wstring{wchar_t(0xD83D), wchar_t(0xDE00)}), "\xF0\x9F\x98\x80");
  EXPECT_EQ(WideFromUtf8("\xF0\x9F\x98\x80"), (std::wstring{wchar_t(0xD83D), wchar_t(0xDE00)}));
  // Unpaired surrogates give nothing rather than replacement characters.
  EXPECT_EQ(Utf8FromWide(std::wstring{L'a', wchar_t(0xD800)}), std::nullopt);
  EXPECT_EQ(Utf8FromWide(std::wstring{wchar_t(0xDC00), L'z'}), std::nullopt);
  EXPECT_EQ(Utf8FromWide(std::wstring{wchar_t(0xD800), L'z'}), std::nullopt);
}

// A Windows name that is not UTF-16 fails as a whole instead of throwing out
// of the caller (the cleanup, after it had removed a file).
TEST(Utf8FromPathTest, AWideNameWithAnUnpairedSurrogateGivesEmptyText) {
  if constexpr (!std::is_same_v<std::filesystem::path::value_type, wchar_t>) {
    GTEST_SKIP() << "names are bytes here";
  } else {
    const std::filesystem::path name(std::wstring{L'a', wchar_t(0xD800), L'.', L'l', L'o', L'g'});
    EXPECT_EQ(Utf8FromPath(name), "");
  }
}

// For a console: stray bytes show as U+FFFD and the rest of the line still
// comes; a chunk never ends inside a surrogate pair.
TEST(Utf16ForDisplayTest, ShowsStrayBytesAndKeepsPairsWhole) {
  wchar_t out[4];
  DisplayChunk chunk = Utf16ForDisplay("a\xFF\xC3\xBC", out, 4);
  EXPECT_EQ(chunk.consumed, 4u);
  EXPECT_EQ(std::wstring(out, chunk.units), (std::wstring{L'a', wchar_t(0xFFFD), wchar_t(0xFC)}));
  chunk = Utf16ForDisplay("a\xF0\x9F\x98\x80", out, 2);
  EXPECT_EQ(chunk.consumed, 1u);
  EXPECT_EQ(chunk.units, 1u);
}

}  // namespace
}  // namespace velqa::base
