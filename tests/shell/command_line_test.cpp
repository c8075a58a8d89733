#include "shell/command_line.h"

#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "shell/win_resources.h"

namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

TEST(WideToUtf8Test, ConvertsTextAndRejectsWhatIsNotUtf16) {
  EXPECT_EQ(WideToUtf8(nullptr), "");
  EXPECT_EQ(WideToUtf8(L""), "");
  EXPECT_EQ(WideToUtf8(L"plain"), "plain");
  EXPECT_EQ(WideToUtf8(L"\u00fc"), "\xC3\xBC");
  EXPECT_EQ(WideToUtf8(L"Velqa电商助手"), "Velqa\xE7\x94\xB5\xE5\x95\x86\xE5\x8A\xA9\xE6\x89\x8B");
  // A surrogate pair is one code point of four bytes.
  EXPECT_EQ(WideToUtf8(L"\xD83D\xDE00"), "\xF0\x9F\x98\x80");
  // Unpaired surrogates give nothing rather than replacement characters.
  EXPECT_EQ(WideToUtf8(L"a\xD800"), "");
  EXPECT_EQ(WideToUtf8(L"\xDC00z"), "");
}

TEST(CollectCommandLineArgumentsTest, SkipsTheProgramAndKeepsOrderBlanksAndUtf8) {
  EXPECT_THAT(CollectCommandLineArguments(L"velqa_assistant.exe"), IsEmpty());
  EXPECT_THAT(CollectCommandLineArguments(L"\"C:\\Program Files\\v.exe\" a \"b c\" \u00fc"),
              ElementsAre("a", "b c", "\xC3\xBC"));
}

TEST(CollectCommandLineArgumentsTest, AnUnconvertibleArgumentKeepsItsPlaceAsEmpty) {
  EXPECT_THAT(CollectCommandLineArguments(L"v.exe first \xD800 last"),
              ElementsAre("first", "", "last"));
  EXPECT_THAT(CollectCommandLineArguments(L"v.exe \"\" x"), ElementsAre("", "x"));
}

TEST(CollectCommandLineArgumentsTest, ReadsThisProcessesCommandLine) {
  // The test runner starts us with at least the program name; whatever else it
  // passes must come back converted, one entry per argument.
  int argc = 0;
  velqa::shell::UniqueLocalMemory<LPWSTR> argv(::CommandLineToArgvW(::GetCommandLineW(), &argc));
  ASSERT_NE(argv, nullptr);
  const std::vector<std::string> arguments = CollectCommandLineArguments();
  ASSERT_EQ(arguments.size(), static_cast<size_t>(argc - 1));
  for (int i = 1; i < argc; ++i) EXPECT_EQ(arguments[i - 1], WideToUtf8(argv.get()[i]));
}

}  // namespace
