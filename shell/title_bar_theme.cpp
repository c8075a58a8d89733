#include "shell/title_bar_theme.h"

#include "base/system_library_win.h"

namespace {

// DWMWA_USE_IMMERSIVE_DARK_MODE; older SDK headers do not name it.
constexpr DWORD kImmersiveDarkModeAttribute = 20;

}  // namespace

std::optional<bool> ReadDarkTitleBarPreference(HKEY root, const wchar_t* subkey) {
  DWORD light = 0;
  DWORD size = sizeof(light);
  const LSTATUS status = ::RegGetValueW(root, subkey, kAppsUseLightThemeValue, RRF_RT_REG_DWORD,
                                        nullptr, &light, &size);
  if (status != ERROR_SUCCESS) return std::nullopt;
  return light == 0;
}

void SetDarkTitleBar(HWND window, bool dark) {
  using DwmSetWindowAttributeFn = HRESULT(WINAPI*)(HWND, DWORD, LPCVOID, DWORD);
  const velqa::base::UniqueModule dwmapi = velqa::base::LoadSystemLibrary(L"dwmapi.dll");
  const auto set_attribute =
      velqa::base::SystemFunction<DwmSetWindowAttributeFn>(dwmapi, "DwmSetWindowAttribute");
  if (set_attribute == nullptr) return;
  const BOOL value = dark ? TRUE : FALSE;
  set_attribute(window, kImmersiveDarkModeAttribute, &value, sizeof(value));
}

bool ApplyTitleBarTheme(HWND window, DarkTitleBarSetter setter, const wchar_t* subkey) {
  const std::optional<bool> dark = ReadDarkTitleBarPreference(HKEY_CURRENT_USER, subkey);
  if (!dark.has_value()) return false;
  setter(window, *dark);
  return true;
}
