#include "tests/shell/scratch_app_mode_key.h"

#include <gtest/gtest.h>

#include <cstring>

#include "shell/title_bar_theme.h"

namespace {
constexpr wchar_t kScratchParent[] = L"Software\\VelqaShellTests";
}  // namespace

ScratchAppModeKey::ScratchAppModeKey() {
  const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
  const char* name = test != nullptr ? test->name() : "none";
  subkey_ = std::wstring(kScratchParent) + L"\\Theme_" +
            std::wstring(name, name + std::strlen(name)) + L"_" +
            std::to_wstring(::GetCurrentProcessId());
  HKEY key = nullptr;
  if (::RegCreateKeyExW(HKEY_CURRENT_USER, subkey_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                        &key, nullptr) == ERROR_SUCCESS) {
    key_.Reset(key);
  }
}

ScratchAppModeKey::~ScratchAppModeKey() {
  key_.Reset();
  ::RegDeleteTreeW(HKEY_CURRENT_USER, subkey_.c_str());
  ::RegDeleteKeyW(HKEY_CURRENT_USER, subkey_.c_str());
  // Goes only once no other case's key is left below it.
  ::RegDeleteKeyW(HKEY_CURRENT_USER, kScratchParent);
}

bool ScratchAppModeKey::SetLightTheme(DWORD value) const {
  return ::RegSetValueExW(key_.get(), kAppsUseLightThemeValue, 0, REG_DWORD,
                          reinterpret_cast<const BYTE*>(&value), sizeof(value)) == ERROR_SUCCESS;
}

void ScratchAppModeKey::DeleteLightTheme() const {
  ::RegDeleteValueW(key_.get(), kAppsUseLightThemeValue);
}
