// The title bar follows the user's light/dark app mode.
//
// Threads: the UI thread (the functions touch a window).
#ifndef VELQA_SHELL_TITLE_BAR_THEME_H_
#define VELQA_SHELL_TITLE_BAR_THEME_H_

#include <windows.h>

#include <optional>

// Where Windows keeps the app mode of the current user.
inline constexpr wchar_t kPersonalizeSubkey[] =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Themes\\Personalize";
inline constexpr wchar_t kAppsUseLightThemeValue[] = L"AppsUseLightTheme";

// Whether the title bar should be dark: true when the DWORD value
// AppsUseLightTheme under `root`\`subkey` is 0, false for any other number,
// nothing when the value is missing or not a DWORD (the system default stays).
std::optional<bool> ReadDarkTitleBarPreference(HKEY root = HKEY_CURRENT_USER,
                                               const wchar_t* subkey = kPersonalizeSubkey);

// Tells the window manager to draw `window`'s title bar dark or light.
using DarkTitleBarSetter = void (*)(HWND window, bool dark);

// The real setter: DwmSetWindowAttribute with the immersive dark-mode
// attribute. Its failure (older systems) only leaves the default look.
void SetDarkTitleBar(HWND window, bool dark);

// Reads the preference (from HKCU\`subkey`) and, when there is one, hands it
// to `setter` and returns true.
bool ApplyTitleBarTheme(HWND window, DarkTitleBarSetter setter = &SetDarkTitleBar,
                        const wchar_t* subkey = kPersonalizeSubkey);

#endif  // VELQA_SHELL_TITLE_BAR_THEME_H_
