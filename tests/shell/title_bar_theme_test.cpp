#include "shell/title_bar_theme.h"

#include <gtest/gtest.h>

#include <string>

#include "shell/win_resources.h"

namespace {

// A scratch key of our own under HKCU, removed again after each test.
class DarkTitleBarPreferenceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    subkey_ = L"Software\\VelqaShellTests\\Theme" + std::to_wstring(::GetCurrentProcessId());
    HKEY key = nullptr;
    ASSERT_EQ(::RegCreateKeyExW(HKEY_CURRENT_USER, subkey_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                nullptr, &key, nullptr),
              ERROR_SUCCESS);
    key_.reset(key);
  }
  void TearDown() override {
    key_.reset();
    ::RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\VelqaShellTests");
  }

  void SetDword(DWORD value) {
    ASSERT_EQ(::RegSetValueExW(key_.get(), kAppsUseLightThemeValue, 0, REG_DWORD,
                               reinterpret_cast<const BYTE*>(&value), sizeof(value)),
              ERROR_SUCCESS);
  }

  std::optional<bool> Read() {
    return ReadDarkTitleBarPreference(HKEY_CURRENT_USER, subkey_.c_str());
  }

  std::wstring subkey_;
  velqa::shell::UniqueRegistryKey key_;
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
  ASSERT_EQ(::RegSetValueExW(key_.get(), kAppsUseLightThemeValue, 0, REG_SZ,
                             reinterpret_cast<const BYTE*>(text), sizeof(text)),
            ERROR_SUCCESS);
  EXPECT_EQ(Read(), std::nullopt);
  EXPECT_EQ(ReadDarkTitleBarPreference(HKEY_CURRENT_USER, L"Software\\VelqaShellTests\\Missing"),
            std::nullopt);
}

}  // namespace
