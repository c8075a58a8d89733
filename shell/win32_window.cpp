#include "shell/win32_window.h"

#include <cwchar>

#include "base/win_resources_win.h"
#include "channel/embedding_api.h"
#include "resources/resource_ids.h"
#include "shell/app_identity.h"

namespace {

// Live Win32Window objects; the class is unregistered when the last one goes.
int active_window_count = 0;

// Process-wide record of the class registration, created on first need and
// never freed (it must outlive every window, including static ones).
struct WindowClassState {
  bool registered = false;
};
WindowClassState& ClassState() {
  static WindowClassState* state = new WindowClassState();
  return *state;
}

// Sent by the shell to every top-level window when it (re)starts; the icons it
// held are gone then.
UINT TaskbarCreatedMessage() {
  static const UINT message = ::RegisterWindowMessageW(L"TaskbarCreated");
  return message;
}

HICON LoadApplicationIcon() {
  return ::LoadIconW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDI_APP_ICON));
}

// The icon's image made for the small size (16 px at 100 %). LoadIconW would
// give the 32 px image, which the caption and the tray scale down blurrily.
HICON LoadSmallApplicationIcon(int width, int height) {
  return static_cast<HICON>(::LoadImageW(::GetModuleHandleW(nullptr),
                                         MAKEINTRESOURCEW(IDI_APP_ICON), IMAGE_ICON, width,
                                         height, LR_DEFAULTCOLOR));
}

// The small icon's size on a monitor of `dpi`. GetSystemMetrics answers for
// the system's DPI only; GetSystemMetricsForDpi (Windows 10 1607 and later)
// is looked up at run time, and older systems get the system's size.
SIZE SmallIconSizeForDpi(UINT dpi) {
  using GetSystemMetricsForDpiFn = int(WINAPI*)(int, UINT);
  static const auto metrics_for_dpi = reinterpret_cast<GetSystemMetricsForDpiFn>(
      reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"user32.dll"),
                                               "GetSystemMetricsForDpi")));
  if (metrics_for_dpi == nullptr) {
    return SIZE{::GetSystemMetrics(SM_CXSMICON), ::GetSystemMetrics(SM_CYSMICON)};
  }
  return SIZE{metrics_for_dpi(SM_CXSMICON, dpi), metrics_for_dpi(SM_CYSMICON, dpi)};
}

// Windows 10 (builds before 22000) draws a changed caption colour only when
// the window's activation changes next.
bool CaptionWaitsForActivation() {
  using RtlGetVersionFn = LONG(WINAPI*)(OSVERSIONINFOW*);
  const auto get_version = reinterpret_cast<RtlGetVersionFn>(reinterpret_cast<void*>(
      ::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "RtlGetVersion")));
  OSVERSIONINFOW version{};
  version.dwOSVersionInfoSize = sizeof(version);
  if (get_version == nullptr || get_version(&version) != 0) return false;
  return version.dwMajorVersion == 10 && version.dwBuildNumber < 22000;
}

// Redraws the caption by toggling the activation it shows, ending where it
// was.
void RepaintFrame(HWND hwnd) {
  const bool active = ::GetActiveWindow() == hwnd;
  ::SendMessageW(hwnd, WM_NCACTIVATE, active ? FALSE : TRUE, 0);
  ::SendMessageW(hwnd, WM_NCACTIVATE, active ? TRUE : FALSE, 0);
}

void RegisterWindowClassOnce(WNDPROC window_proc) {
  WindowClassState& state = ClassState();
  if (state.registered) return;
  WNDCLASSW window_class{};
  window_class.style = CS_HREDRAW | CS_VREDRAW;
  window_class.lpfnWndProc = window_proc;
  window_class.hInstance = ::GetModuleHandleW(nullptr);
  window_class.hIcon = LoadApplicationIcon();
  window_class.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
  window_class.lpszClassName = kWindowClassName;
  ::RegisterClassW(&window_class);
  state.registered = true;
}

// Scales the caption and frame with the monitor where the system supports it
// (Windows 10 1607 and later); older systems simply lack the export.
void EnableNonClientScaling(HWND hwnd) {
  const velqa::base::UniqueModule user32(::LoadLibraryA("User32.dll"));
  if (!user32) return;
  using EnableNonClientDpiScalingFn = BOOL(WINAPI*)(HWND);
  auto enable = reinterpret_cast<EnableNonClientDpiScalingFn>(
      reinterpret_cast<void*>(::GetProcAddress(user32.get(), "EnableNonClientDpiScaling")));
  if (enable != nullptr) enable(hwnd);
}

// WM_SETTINGCHANGE names the changed area in lparam; the app mode's is
// "ImmersiveColorSet".
bool IsAppModeChange(LPARAM lparam) {
  const auto* area = reinterpret_cast<const wchar_t*>(lparam);
  return area != nullptr && std::wcscmp(area, L"ImmersiveColorSet") == 0;
}

void FillClientArea(HWND parent, HWND child) {
  RECT client{};
  ::GetClientRect(parent, &client);
  ::MoveWindow(child, client.left, client.top, client.right - client.left,
               client.bottom - client.top, TRUE);
}

}  // namespace

ScaledGeometry ScaleForDpi(Point origin, Size size, UINT dpi) {
  const double scale = dpi / 96.0;
  return ScaledGeometry{static_cast<int>(origin.x * scale), static_cast<int>(origin.y * scale),
                        static_cast<int>(size.width * scale),
                        static_cast<int>(size.height * scale)};
}

WindowSystem WindowSystem::Default() {
  return WindowSystem{&FlutterDesktopGetDpiForMonitor, &SetDarkTitleBar, kPersonalizeSubkey,
                      &OpenFolderInShell, CaptionWaitsForActivation()};
}

Win32Window::Win32Window() : Win32Window(WindowSystem::Default()) {}

Win32Window::Win32Window(WindowSystem system) : system_(system) { ++active_window_count; }

Win32Window::~Win32Window() {
  --active_window_count;
  Destroy();
}

bool Win32Window::Create(const std::wstring& title, const Point& origin, const Size& size) {
  Destroy();
  RegisterWindowClassOnce(&Win32Window::WindowProc);

  HMONITOR monitor = ::MonitorFromPoint(POINT{origin.x, origin.y}, MONITOR_DEFAULTTONEAREST);
  const UINT dpi = system_.dpi_for_monitor(monitor);
  const ScaledGeometry geometry = ScaleForDpi(origin, size, dpi);
  // A caption and a close button only: no sizing border, no minimise or
  // maximise box. Created hidden; Show makes it visible.
  HWND window = ::CreateWindowExW(0, kWindowClassName, title.c_str(), WS_CAPTION | WS_SYSMENU,
                                  geometry.x, geometry.y, geometry.width, geometry.height, nullptr,
                                  nullptr, ::GetModuleHandleW(nullptr), this);
  if (window == nullptr) return false;

  ApplyTheme(window);

  SetCaptionIcon(window, dpi);
  // The tray's icon is drawn at the system's size, whatever the window's monitor.
  if (!small_icon_) {
    small_icon_.Reset(LoadSmallApplicationIcon(::GetSystemMetrics(SM_CXSMICON),
                                               ::GetSystemMetrics(SM_CYSMICON)));
  }

  // An elevated process does not receive the shell's restart broadcast
  // unless it lets that message through.
  ::ChangeWindowMessageFilterEx(window, TaskbarCreatedMessage(), MSGFLT_ALLOW, nullptr);

  if (!tray_icon_added_) {
    tray_icon_data_ = NOTIFYICONDATAW{};
    tray_icon_data_.cbSize = sizeof(NOTIFYICONDATAW);
    tray_icon_data_.hWnd = window_handle_;
    tray_icon_data_.uID = kTrayIconId;
    tray_icon_data_.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    tray_icon_data_.uCallbackMessage = kTrayCallbackMessage;
    tray_icon_data_.hIcon = small_icon_ ? small_icon_.get() : LoadApplicationIcon();
    wcsncpy_s(tray_icon_data_.szTip, title.c_str(), _TRUNCATE);
    tray_icon_wanted_ = true;
    tray_icon_added_ = ::Shell_NotifyIconW(NIM_ADD, &tray_icon_data_) != FALSE;
  }
  return OnCreate();
}

void Win32Window::Destroy() {
  RemoveTrayIcon();
  OnDestroy();
  if (window_handle_ != nullptr) {
    HWND window = window_handle_;
    window_handle_ = nullptr;
    ::DestroyWindow(window);
  }
  if (active_window_count == 0) {
    ::UnregisterClassW(kWindowClassName, nullptr);
    ClassState().registered = false;
  }
}

bool Win32Window::Show() { return ::ShowWindow(window_handle_, SW_SHOWNORMAL) != FALSE; }

RECT Win32Window::ClientArea() const {
  RECT client{};
  ::GetClientRect(window_handle_, &client);
  return client;
}

void Win32Window::AttachChildContent(HWND child) {
  child_content_ = child;
  ::SetParent(child, window_handle_);
  FillClientArea(window_handle_, child);
  ::SetFocus(child_content_);
}

void Win32Window::RemoveTrayIcon() {
  tray_icon_wanted_ = false;
  if (!tray_icon_added_) return;
  ::Shell_NotifyIconW(NIM_DELETE, &tray_icon_data_);
  tray_icon_added_ = false;
}

void Win32Window::ApplyTheme(HWND hwnd) const {
  if (ApplyTitleBarTheme(hwnd, system_.set_dark_title_bar, system_.app_mode_subkey) &&
      system_.caption_waits_for_activation && ::IsWindowVisible(hwnd)) {
    RepaintFrame(hwnd);
  }
}

void Win32Window::SetCaptionIcon(HWND hwnd, UINT dpi) {
  const SIZE size = SmallIconSizeForDpi(dpi);
  velqa::base::UniqueIcon icon(LoadSmallApplicationIcon(size.cx, size.cy));
  if (!icon) return;
  ::SendMessageW(hwnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon.get()));
  // The window no longer draws the old one.
  caption_icon_ = std::move(icon);
}

bool Win32Window::AddTrayIcon() {
  if (::Shell_NotifyIconW(NIM_ADD, &tray_icon_data_)) return true;
  // The shell may still hold the icon (a broadcast without a restart).
  return ::Shell_NotifyIconW(NIM_MODIFY, &tray_icon_data_) != FALSE;
}

LRESULT CALLBACK Win32Window::WindowProc(HWND hwnd, UINT message, WPARAM wparam,
                                         LPARAM lparam) noexcept {
  if (message == WM_NCCREATE) {
    auto* create = reinterpret_cast<CREATESTRUCTW*>(lparam);
    auto* window = static_cast<Win32Window*>(create->lpCreateParams);
    ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(window));
    EnableNonClientScaling(hwnd);
    window->window_handle_ = hwnd;
    return ::DefWindowProcW(hwnd, message, wparam, lparam);
  }
  auto* window = reinterpret_cast<Win32Window*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (window == nullptr) return ::DefWindowProcW(hwnd, message, wparam, lparam);
  // No exception may unwind through the system's dispatch code.
  try {
    return window->HandleMessage(hwnd, message, wparam, lparam);
  } catch (...) {
    return ::DefWindowProcW(hwnd, message, wparam, lparam);
  }
}

LRESULT Win32Window::HandleMessage(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_DESTROY:
      window_handle_ = nullptr;
      Destroy();
      if (quit_on_exit_) ::PostQuitMessage(0);
      return 0;
    case WM_SIZE:
      if (child_content_ != nullptr) FillClientArea(hwnd, child_content_);
      return 0;
    case WM_ACTIVATE:
      if (child_content_ != nullptr) ::SetFocus(child_content_);
      return 0;
    case WM_CLOSE:
      HideToTray(hwnd);
      return 0;
    case WM_GETMINMAXINFO:
      KeepOuterSize(hwnd, reinterpret_cast<MINMAXINFO*>(lparam));
      return 0;
    case WM_COMMAND:
      // Only a menu's command (no notification code, no control): a child
      // control's notification may carry the same number.
      if (HIWORD(wparam) == 0 && lparam == 0 && RunTrayCommand(LOWORD(wparam))) return 0;
      break;
    case WM_DPICHANGED:
      SetCaptionIcon(hwnd, HIWORD(wparam));
      MoveToSuggestedRect(hwnd, *reinterpret_cast<const RECT*>(lparam));
      return 0;
    case WM_DWMCOLORIZATIONCOLORCHANGED:
      ApplyTheme(hwnd);
      return 0;
    case WM_SETTINGCHANGE:
      // A switch between light and dark app mode is announced only here.
      if (IsAppModeChange(lparam)) ApplyTheme(hwnd);
      break;
    case kTrayCallbackMessage:
      if (wparam == kTrayIconId && (lparam == WM_LBUTTONUP || lparam == WM_RBUTTONUP)) {
        OnTrayEvent(static_cast<UINT>(lparam));
        return 0;
      }
      break;

    default:
      if (message == TaskbarCreatedMessage() && tray_icon_wanted_) {
        tray_icon_added_ = AddTrayIcon();
        return 0;
      }
      break;
  }
  return ::DefWindowProcW(hwnd, message, wparam, lparam);
}

void Win32Window::HideToTray(HWND hwnd) {
  // Closing hides to the tray; only the tray menu ends the application.
  // Without a tray icon the window could not come back, so it stays.
  if (!tray_icon_added_) return;
  ::ShowWindow(hwnd, SW_HIDE);
  hidden_to_tray_ = true;
}

void Win32Window::KeepOuterSize(HWND hwnd, MINMAXINFO* info) const {
  SIZE outer{};
  if (dpi_change_size_.has_value()) {
    outer = *dpi_change_size_;
  } else {
    RECT rect{};
    ::GetWindowRect(hwnd, &rect);
    outer = SIZE{rect.right - rect.left, rect.bottom - rect.top};
  }
  info->ptMinTrackSize = POINT{outer.cx, outer.cy};
  info->ptMaxTrackSize = POINT{outer.cx, outer.cy};
}

bool Win32Window::RunTrayCommand(UINT command) {
  if (command == kTrayExitCommand) {
    RemoveTrayIcon();
    if (quit_on_exit_) ::PostQuitMessage(0);
    return true;
  }
  if (command == kTrayOpenLogFolderCommand) {
    OpenLogFolder(system_.open_folder);
    return true;
  }
  return false;
}

void Win32Window::MoveToSuggestedRect(HWND hwnd, const RECT& suggested) {
  const int width = suggested.right - suggested.left;
  const int height = suggested.bottom - suggested.top;
  // The move asks WM_GETMINMAXINFO for its limits, which must allow the new size.
  dpi_change_size_ = SIZE{width, height};
  ::SetWindowPos(hwnd, nullptr, suggested.left, suggested.top, width, height,
                 SWP_NOZORDER | SWP_NOACTIVATE);
  dpi_change_size_.reset();
}

void Win32Window::OnTrayEvent(UINT mouse_message) {
  if (mouse_message == WM_LBUTTONUP) {
    if (hidden_to_tray_) {
      ::ShowWindow(window_handle_, SW_SHOW);
      ::SetForegroundWindow(window_handle_);
      hidden_to_tray_ = false;
    }
    return;
  }
  ShowTrayMenu();
}

void Win32Window::ShowTrayMenu() {
  POINT cursor{};
  ::GetCursorPos(&cursor);
  velqa::base::UniqueMenu menu(::CreatePopupMenu());
  if (!menu) return;
  ::AppendMenuW(menu.get(), MF_STRING, kTrayOpenLogFolderCommand, kTrayOpenLogFolderText);
  ::AppendMenuW(menu.get(), MF_STRING, kTrayExitCommand, kTrayExitText);
  // Without the foreground the menu would not close when the user clicks
  // elsewhere.
  ::SetForegroundWindow(window_handle_);
  ::TrackPopupMenu(menu.get(), TPM_RIGHTALIGN | TPM_BOTTOMALIGN, cursor.x, cursor.y, 0,
                   window_handle_, nullptr);
  // The documented companion of a tray menu: lets the next click go to the
  // window that gets it instead of reopening or stalling the menu.
  ::PostMessageW(window_handle_, WM_NULL, 0, 0);
}

bool Win32Window::OnCreate() { return true; }

void Win32Window::OnDestroy() {}
