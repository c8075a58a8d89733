#include "shell/title_bar_theme.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "shell/win_resources.h"

namespace {

constexpr wchar_t kScratchParent[] = L"Software\\VelqaShellTests";

// A scratch key under HKCU for each case and process, removed again after the
// case: ctest runs cases in parallel processes that share the registry.
class DarkTitleBarPreferenceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
    subkey_ = std::wstring(kScratchParent) + L"\\Theme_" +
              std::wstring(test->name(), test->name() + std::strlen(test->name())) + L"_" +
              std::to_wstring(::GetCurrentProcessId());
    HKEY key = nullptr;
    ASSERT_EQ(::RegCreateKeyExW(HKEY_CURRENT_USER, subkey_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                nullptr, &key, nullptr),
              ERROR_SUCCESS);
    key_.reset(key);
  }
  void TearDown() override {
    key_.reset();
    ::RegDeleteTreeW(HKEY_CURRENT_USER, subkey_.c_str());
    ::RegDeleteKeyW(HKEY_CURRENT_USER, subkey_.c_str());
    // Goes only once no other case's key is left below it.
    ::RegDeleteKeyW(HKEY_CURRENT_USER, kScratchParent);
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
  EXPECT_EQ(ReadDarkTitleBarPreference(HKEY_CURRENT_USER, (subkey_ + L"\\Missing").c_str()),
            std::nullopt);
}

}  // namespace
