#include "shell/title_bar_theme.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/shell/scratch_app_mode_key.h"

namespace {

class DarkTitleBarPreferenceTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(scratch_.valid()); }

  void SetDword(DWORD value) { ASSERT_TRUE(scratch_.SetLightTheme(value)); }

  std::optional<bool> Read() {
    return ReadDarkTitleBarPreference(HKEY_CURRENT_USER, scratch_.subkey());
  }

  ScratchAppModeKey scratch_;
};

TEST_F(DarkTitleBarPreferenceTest, DarkOnlyWhenAppsDoNotUseTheLightTheme) {
  SetDword(0);
  EXPECT_EQ(Read(), std::optional<bool>(true));
  SetDword(1);
  EXPECT_EQ(Read(), std::optional<bool>(false));
  SetDword(7);
  EXPECT_EQ(Read(), std::optional<bool>(false));
}

TEST_F(DarkTitleBarPreferenceTest, NoPreferenceWithoutADwordValue) {
  EXPECT_EQ(Read(), std::nullopt);
  const wchar_t text[] = L"0";
  ASSERT_EQ(::RegSetValueExW(scratch_.key(), kAppsUseLightThemeValue, 0, REG_SZ,
                             reinterpret_cast<const BYTE*>(text), sizeof(text)),
            ERROR_SUCCESS);
  EXPECT_EQ(Read(), std::nullopt);
  EXPECT_EQ(ReadDarkTitleBarPreference(HKEY_CURRENT_USER,
                                       (std::wstring(scratch_.subkey()) + L"\\Missing").c_str()),
            std::nullopt);
}

}  // namespace
