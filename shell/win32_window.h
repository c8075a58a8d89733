// Win32Window: the base of the application's fixed-size top-level window. It
// registers the window class, creates the window scaled for the monitor's DPI,
// keeps an icon in the notification area (tray) with its menu, hides the
// window to the tray on a close request, draws the title bar in the user's
// light/dark mode, keeps one child window filling its client area, and posts
// the quit message that ends the message loop.
//
// Threads: everything, including construction and destruction, on the UI
// thread (the thread running the message loop).
#ifndef VELQA_SHELL_WIN32_WINDOW_H_
#define VELQA_SHELL_WIN32_WINDOW_H_

#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

#include <optional>
#include <string>

#include "base/win_resources_win.h"
#include "shell/log_folder.h"
#include "shell/title_bar_theme.h"

// Tray icon identifier, the message its events arrive with, and the menu's
// commands.
inline constexpr UINT kTrayIconId = 1;
inline constexpr UINT kTrayCallbackMessage = WM_USER + 1;
inline constexpr UINT kTrayExitCommand = 1001;
inline constexpr wchar_t kTrayExitText[] = L"退出";
// Above Exit: shows the log directory in the file manager.
inline constexpr UINT kTrayOpenLogFolderCommand = 1002;
inline constexpr wchar_t kTrayOpenLogFolderText[] = L"打开日志文件夹";

// A position or extent in 96-dpi logical units.
struct Point {
  int x;
  int y;
};
struct Size {
  int width;
  int height;
};

// Outer window rectangle in physical pixels.
struct ScaledGeometry {
  int x;
  int y;
  int width;
  int height;
};

// Scales logical geometry to a monitor of `dpi` (96 = 100 %), each product
// truncated toward zero.
ScaledGeometry ScaleForDpi(Point origin, Size size, UINT dpi);

// What the window asks of the system that tests must be able to replace:
// a monitor's DPI cannot be changed under Wine, the window manager's
// dark-mode call does nothing there, and the user's app mode setting is
// shared by every process.
struct WindowSystem {
  UINT (*dpi_for_monitor)(HMONITOR monitor);
  DarkTitleBarSetter set_dark_title_bar;
  // Where the app mode is read, below HKEY_CURRENT_USER.
  const wchar_t* app_mode_subkey;
  // Shows a folder in the file manager (the tray's log-folder command).
  FolderOpener open_folder;
  // The window manager redraws a changed caption colour only when the
  // window's activation changes (Windows 10 before build 22000), so the
  // frame is repainted after a change of a visible window's theme.
  bool caption_waits_for_activation;
  // The engine's DPI query, DwmSetWindowAttribute, the user's setting,
  // ShellExecuteW and the running system's version.
  static WindowSystem Default();
};

class Win32Window {
 public:
  Win32Window();
  explicit Win32Window(WindowSystem system);
  // Removes the tray icon and destroys the native window (see Destroy).
  virtual ~Win32Window();

  Win32Window(const Win32Window&) = delete;
  Win32Window& operator=(const Win32Window&) = delete;

  // Creates the window hidden, at `origin` with outer `size` (logical units,
  // scaled for the monitor), adds the tray icon with `title` as its tip (at
  // most 127 characters) and returns OnCreate's answer; false when no native
  // window could be created.
  bool Create(const std::wstring& title, const Point& origin, const Size& size);

  // Removes the tray icon, calls OnDestroy, destroys the native window and,
  // once no Win32Window is left, unregisters the class. Safe to repeat.
  void Destroy();

  // Makes the window visible (SW_SHOWNORMAL).
  bool Show();

  // When set, the tray's Exit command and the window's destruction post the
  // quit message with exit code 0.
  void SetQuitOnExit(bool quit_on_exit) { quit_on_exit_ = quit_on_exit; }

  RECT ClientArea() const;

  // Makes `child` the child window that fills the client area and has focus.
  void AttachChildContent(HWND child);

  void RemoveTrayIcon();

  HWND GetHandle() const { return window_handle_; }

 protected:
  // Handles this window's messages; overrides end with the base version.
  virtual LRESULT HandleMessage(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);
  // Called at the end of Create, with the native window in place.
  virtual bool OnCreate();
  // Called by Destroy before the native window goes.
  virtual void OnDestroy();

 private:
  static LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wparam,
                                     LPARAM lparam) noexcept;

  // Registers the icon with the shell; true when it is there afterwards.
  bool AddTrayIcon();
  void ApplyTheme(HWND hwnd) const;
  // Shows the application icon's small image made for `dpi` in the caption.
  void SetCaptionIcon(HWND hwnd, UINT dpi);
  void ShowTrayMenu();
  void OnTrayEvent(UINT mouse_message);
  // The steps of HandleMessage that take more than a line.
  void HideToTray(HWND hwnd);
  void KeepOuterSize(HWND hwnd, MINMAXINFO* info) const;
  // True when `command` is one of the tray menu's.
  bool RunTrayCommand(UINT command);
  void MoveToSuggestedRect(HWND hwnd, const RECT& suggested);

  bool quit_on_exit_ = false;
  HWND window_handle_ = nullptr;
  HWND child_content_ = nullptr;
  NOTIFYICONDATAW tray_icon_data_{};
  bool tray_icon_added_ = false;
  bool hidden_to_tray_ = false;
  // The icon should be in the tray: from Create until removed. A restarted
  // shell has forgotten it, and it is added again then.
  bool tray_icon_wanted_ = false;
  // During a DPI change the window takes the size the system suggests; the
  // fixed-size rule would otherwise keep the old one.
  std::optional<SIZE> dpi_change_size_;
  // The application icon's small image at the system's size, drawn in the
  // tray; loaded by the first Create and kept until the window object goes.
  velqa::base::UniqueIcon small_icon_;
  // Its small image at the window's DPI, drawn in the caption; replaced when
  // the window moves to a monitor of another DPI.
  velqa::base::UniqueIcon caption_icon_;
  WindowSystem system_;
};

#endif  // VELQA_SHELL_WIN32_WINDOW_H_
