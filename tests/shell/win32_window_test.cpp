#include "shell/win32_window.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/win_resources_win.h"
#include "resources/resource_ids.h"
#include "shell/app_identity.h"
#include "tests/shell/fake_embedding.h"
#include "tests/shell/scratch_app_mode_key.h"

namespace {

// Not the application's title: a second copy of the real application looks
// for that one, and e2e tests may run beside these.
constexpr wchar_t kTestTitle[] = L"Velqa shell unit test";

// Title-bar decisions, as the window manager would have received them.
std::vector<bool> dark_title_bar_calls;
void RecordDarkTitleBar(HWND, bool dark) { dark_title_bar_calls.push_back(dark); }

WindowSystem TestSystem() {
  WindowSystem system = WindowSystem::Default();
  system.set_dark_title_bar = &RecordDarkTitleBar;
  return system;
}

void PumpPendingMessages() {
  MSG message;
  while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    if (message.message == WM_QUIT) continue;
    ::TranslateMessage(&message);
    ::DispatchMessageW(&message);
  }
}

// Takes a WM_QUIT from this thread's queue; its exit code, or nothing.
std::optional<WPARAM> TakeQuitMessage() {
  MSG message;
  if (::PeekMessageW(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) return message.wParam;
  return std::nullopt;
}

RECT OuterRect(HWND window) {
  RECT rect{};
  ::GetWindowRect(window, &rect);
  return rect;
}

// Whether the shell holds an icon for (window, id): only a known icon can be
// modified.
bool ShellHasIcon(HWND window) {
  NOTIFYICONDATAW data{};
  data.cbSize = sizeof(data);
  data.hWnd = window;
  data.uID = kTrayIconId;
  data.uFlags = NIF_TIP;
  wcscpy_s(data.szTip, L"probe");
  return ::Shell_NotifyIconW(NIM_MODIFY, &data) != FALSE;
}

void ForgetIconInShell(HWND window) {
  NOTIFYICONDATAW data{};
  data.cbSize = sizeof(data);
  data.hWnd = window;
  data.uID = kTrayIconId;
  ::Shell_NotifyIconW(NIM_DELETE, &data);
}

class Win32WindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetFakeMonitorDpi(96);
    dark_title_bar_calls.clear();
  }
  void TearDown() override {
    PumpPendingMessages();
    TakeQuitMessage();
  }
};

struct DpiCase {
  UINT dpi;
  ScaledGeometry expected;
};

class Win32WindowDpiTest : public Win32WindowTest, public ::testing::WithParamInterface<DpiCase> {};

TEST_P(Win32WindowDpiTest, CreatesTheWindowHiddenAtTheScaledGeometry) {
  SetFakeMonitorDpi(GetParam().dpi);
  Win32Window window(TestSystem());
  // Short enough to fit the test display at 144 dpi: the system clamps a
  // window to the screen when creating it.
  ASSERT_TRUE(window.Create(kTestTitle, Point{10, 10}, Size{420, 640}));
  HWND hwnd = window.GetHandle();
  ASSERT_NE(hwnd, nullptr);
  EXPECT_FALSE(::IsWindowVisible(hwnd));

  const RECT rect = OuterRect(hwnd);
  const ScaledGeometry& expected = GetParam().expected;
  EXPECT_EQ(rect.left, expected.x);
  EXPECT_EQ(rect.top, expected.y);
  EXPECT_EQ(rect.right - rect.left, expected.width);
  EXPECT_EQ(rect.bottom - rect.top, expected.height);

  wchar_t class_name[64] = {};
  ::GetClassNameW(hwnd, class_name, 64);
  EXPECT_STREQ(class_name, kWindowClassName);
  EXPECT_EQ(::GetWindowLongW(hwnd, GWL_STYLE) & (WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX),
            0);
}

INSTANTIATE_TEST_SUITE_P(Monitors, Win32WindowDpiTest,
                         ::testing::Values(DpiCase{96, {10, 10, 420, 640}},
                                           DpiCase{120, {12, 12, 525, 800}},
                                           DpiCase{144, {15, 15, 630, 960}}));

TEST(ScaleForDpiTest, TheApplicationsWindowOnCommonMonitors) {
  const auto check = [](UINT dpi, int x, int width, int height) {
    const ScaledGeometry g = ScaleForDpi(Point{10, 10}, Size{420, 768}, dpi);
    EXPECT_EQ(g.x, x) << dpi;
    EXPECT_EQ(g.y, x) << dpi;
    EXPECT_EQ(g.width, width) << dpi;
    EXPECT_EQ(g.height, height) << dpi;
  };
  check(96, 10, 420, 768);
  check(120, 12, 525, 960);
  check(144, 15, 630, 1152);
  check(168, 17, 735, 1344);
}

TEST(ScaleForDpiTest, TruncatesEachProductTowardZero) {
  const ScaledGeometry g = ScaleForDpi(Point{-3, 7}, Size{101, 33}, 120);
  EXPECT_EQ(g.x, -3);       // -3.75
  EXPECT_EQ(g.y, 8);        // 8.75
  EXPECT_EQ(g.width, 126);  // 126.25
  EXPECT_EQ(g.height, 41);  // 41.25
}

TEST_F(Win32WindowTest, TheUserCannotResizeButADpiChangeTakesTheSuggestedRectangle) {
  Win32Window window(TestSystem());
  ASSERT_TRUE(window.Create(kTestTitle, Point{10, 10}, Size{420, 768}));
  HWND hwnd = window.GetHandle();

  ::SetWindowPos(hwnd, nullptr, 40, 50, 800, 300, SWP_NOZORDER | SWP_NOACTIVATE);
  RECT rect = OuterRect(hwnd);
  EXPECT_EQ(rect.left, 40);
  EXPECT_EQ(rect.right - rect.left, 420);
  EXPECT_EQ(rect.bottom - rect.top, 768);

  RECT suggested{100, 60, 100 + 525, 60 + 960};
  ::SendMessageW(hwnd, WM_DPICHANGED, MAKEWPARAM(120, 120), reinterpret_cast<LPARAM>(&suggested));
  rect = OuterRect(hwnd);
  EXPECT_EQ(rect.left, 100);
  EXPECT_EQ(rect.top, 60);
  EXPECT_EQ(rect.right - rect.left, 525);
  EXPECT_EQ(rect.bottom - rect.top, 960);

  // And the new size is the fixed one from now on.
  ::SetWindowPos(hwnd, nullptr, 0, 0, 200, 200, SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOMOVE);
  rect = OuterRect(hwnd);
  EXPECT_EQ(rect.right - rect.left, 525);
}

TEST_F(Win32WindowTest, CloseHidesToTheTrayAndALeftClickOnTheIconShowsTheWindow) {
  Win32Window window(TestSystem());
  ASSERT_TRUE(window.Create(kTestTitle, Point{10, 10}, Size{420, 768}));
  HWND hwnd = window.GetHandle();
  ASSERT_TRUE(ShellHasIcon(hwnd)) << "the shell refused the tray icon";
  window.Show();
  ASSERT_TRUE(::IsWindowVisible(hwnd));

  ::SendMessageW(hwnd, WM_CLOSE, 0, 0);
  EXPECT_TRUE(::IsWindow(hwnd));
  EXPECT_FALSE(::IsWindowVisible(hwnd));
  EXPECT_TRUE(ShellHasIcon(hwnd));

  // A right-button-down or another icon's event does nothing.
  ::SendMessageW(hwnd, kTrayCallbackMessage, kTrayIconId, WM_RBUTTONDOWN);
  ::SendMessageW(hwnd, kTrayCallbackMessage, kTrayIconId + 1, WM_LBUTTONUP);
  EXPECT_FALSE(::IsWindowVisible(hwnd));

  ::SendMessageW(hwnd, kTrayCallbackMessage, kTrayIconId, WM_LBUTTONUP);
  EXPECT_TRUE(::IsWindowVisible(hwnd));

  // A click while visible changes nothing; the next close hides again.
  ::SendMessageW(hwnd, kTrayCallbackMessage, kTrayIconId, WM_LBUTTONUP);
  EXPECT_TRUE(::IsWindowVisible(hwnd));
  ::SendMessageW(hwnd, WM_CLOSE, 0, 0);
  EXPECT_FALSE(::IsWindowVisible(hwnd));
}

TEST_F(Win32WindowTest, ATitleLongerThanTheTrayTipIsCutThereNotRefused) {
  const std::wstring long_title(300, L'\u7535');
  Win32Window window(TestSystem());
  ASSERT_TRUE(window.Create(long_title, Point{10, 10}, Size{420, 640}));
  wchar_t caption[400] = {};
  ::GetWindowTextW(window.GetHandle(), caption, 400);
  EXPECT_EQ(std::wstring(caption), long_title);
  EXPECT_TRUE(ShellHasIcon(window.GetHandle()));
}

TEST_F(Win32WindowTest, WithoutATrayIconACloseRequestIsIgnored) {
  Win32Window window(TestSystem());
  ASSERT_TRUE(window.Create(kTestTitle, Point{10, 10}, Size{420, 768}));
  HWND hwnd = window.GetHandle();
  window.Show();
  window.RemoveTrayIcon();
  EXPECT_FALSE(ShellHasIcon(hwnd));

  ::SendMessageW(hwnd, WM_CLOSE, 0, 0);
  EXPECT_TRUE(::IsWindowVisible(hwnd));
}

TEST_F(Win32WindowTest, ExitCommandRemovesTheIconAndPostsQuitOnlyWhenAsked) {
  Win32Window window(TestSystem());
  ASSERT_TRUE(window.Create(kTestTitle, Point{10, 10}, Size{420, 768}));
  HWND hwnd = window.GetHandle();
  ASSERT_TRUE(ShellHasIcon(hwnd));

  ::SendMessageW(hwnd, WM_COMMAND, MAKEWPARAM(kTrayExitCommand, 0), 0);
  EXPECT_FALSE(ShellHasIcon(hwnd));
  EXPECT_EQ(TakeQuitMessage(), std::nullopt);

  window.SetQuitOnExit(true);
  ::SendMessageW(hwnd, WM_COMMAND, MAKEWPARAM(kTrayExitCommand, 0), 0);
  EXPECT_EQ(TakeQuitMessage(), std::optional<WPARAM>(0));
  // The native window is left for the owner to destroy.
  EXPECT_TRUE(::IsWindow(hwnd));
}

int folders_opened = 0;
bool CountOpenedFolder(const std::filesystem::path&) { return ++folders_opened, true; }

TEST_F(Win32WindowTest, ANotificationOrAcceleratorWithATrayCommandsNumberDoesNothing) {
  WindowSystem system = TestSystem();
  system.open_folder = &CountOpenedFolder;
  folders_opened = 0;
  Win32Window window(system);
  window.SetQuitOnExit(true);
  ASSERT_TRUE(window.Create(kTestTitle, Point{10, 10}, Size{420, 768}));
  HWND hwnd = window.GetHandle();
  const velqa::base::UniqueWindow button(::CreateWindowExW(
      0, L"BUTTON", L"x", WS_CHILD, 0, 0, 10, 10, hwnd,
      reinterpret_cast<HMENU>(static_cast<INT_PTR>(kTrayExitCommand)), nullptr, nullptr));
  ASSERT_TRUE(button);

  for (const UINT command : {kTrayExitCommand, kTrayOpenLogFolderCommand}) {
    ::SendMessageW(hwnd, WM_COMMAND, MAKEWPARAM(command, BN_CLICKED),
                   reinterpret_cast<LPARAM>(button.get()));
    ::SendMessageW(hwnd, WM_COMMAND, MAKEWPARAM(command, 1), 0);  // an accelerator
  }
  EXPECT_TRUE(ShellHasIcon(hwnd));
  EXPECT_EQ(TakeQuitMessage(), std::nullopt);
  EXPECT_EQ(folders_opened, 0);
}

TEST_F(Win32WindowTest, TheIconComesBackWhenTheShellRestarts) {
  Win32Window window(TestSystem());
  ASSERT_TRUE(window.Create(kTestTitle, Point{10, 10}, Size{420, 768}));
  HWND hwnd = window.GetHandle();
  window.Show();
  ASSERT_TRUE(ShellHasIcon(hwnd));

  // A restarted shell has lost every icon and announces itself.
  ForgetIconInShell(hwnd);
  ASSERT_FALSE(ShellHasIcon(hwnd));
  const UINT taskbar_created = ::RegisterWindowMessageW(L"TaskbarCreated");
  ::SendMessageW(hwnd, taskbar_created, 0, 0);
  EXPECT_TRUE(ShellHasIcon(hwnd));

  // So closing still hides to the tray rather than being ignored.
  ::SendMessageW(hwnd, WM_CLOSE, 0, 0);
  EXPECT_FALSE(::IsWindowVisible(hwnd));

  // A broadcast while the icon is still there keeps it.
  ::SendMessageW(hwnd, taskbar_created, 0, 0);
  EXPECT_TRUE(ShellHasIcon(hwnd));

  // After the Exit command the icon stays away.
  ::SendMessageW(hwnd, WM_COMMAND, MAKEWPARAM(kTrayExitCommand, 0), 0);
  ::SendMessageW(hwnd, taskbar_created, 0, 0);
  EXPECT_FALSE(ShellHasIcon(hwnd));
}

TEST_F(Win32WindowTest, ChildContentFillsTheClientArea) {
  Win32Window window(TestSystem());
  ASSERT_TRUE(window.Create(kTestTitle, Point{10, 10}, Size{420, 768}));
  HWND hwnd = window.GetHandle();
  HWND child = ::CreateWindowExW(0, L"STATIC", L"", WS_CHILD | WS_VISIBLE, 0, 0, 5, 5, hwnd,
                                 nullptr, nullptr, nullptr);
  ASSERT_NE(child, nullptr);
  window.AttachChildContent(child);
  EXPECT_EQ(::GetParent(child), hwnd);

  const RECT client = window.ClientArea();
  RECT child_rect{};
  ::GetClientRect(child, &child_rect);
  EXPECT_EQ(child_rect.right, client.right - client.left);
  EXPECT_EQ(child_rect.bottom, client.bottom - client.top);
}

TEST_F(Win32WindowTest, DestroyingTheNativeWindowQuitsAndUnregistersTheLastClass) {
  {
    auto window = std::make_unique<Win32Window>(TestSystem());
    ASSERT_TRUE(window->Create(kTestTitle, Point{10, 10}, Size{420, 768}));
    window->SetQuitOnExit(true);
    HWND hwnd = window->GetHandle();
    ::DestroyWindow(hwnd);
    EXPECT_EQ(window->GetHandle(), nullptr);
    EXPECT_FALSE(ShellHasIcon(hwnd));
    EXPECT_EQ(TakeQuitMessage(), std::optional<WPARAM>(0));
    WNDCLASSW info{};
    // The object still exists, so the class stays registered.
    EXPECT_TRUE(::GetClassInfoW(::GetModuleHandleW(nullptr), kWindowClassName, &info));
  }
  WNDCLASSW info{};
  EXPECT_FALSE(::GetClassInfoW(::GetModuleHandleW(nullptr), kWindowClassName, &info));
}

// Width and height of an icon's image.
SIZE IconSize(HICON icon) {
  ICONINFO info{};
  if (!::GetIconInfo(icon, &info)) return SIZE{};
  const velqa::base::UniqueGdiObject color(info.hbmColor);
  const velqa::base::UniqueGdiObject mask(info.hbmMask);
  BITMAP bitmap{};
  ::GetObjectW(info.hbmMask, sizeof(bitmap), &bitmap);
  // Without a colour image the mask holds the AND and the XOR half.
  return SIZE{bitmap.bmWidth, info.hbmColor != nullptr ? bitmap.bmHeight : bitmap.bmHeight / 2};
}

TEST_F(Win32WindowTest, TheCaptionShowsTheIconsOwnSmallImage) {
  // The resource carries an image for each size the shell draws at the usual
  // scale factors, so none of them is scaled from another.
  HRSRC group = ::FindResourceW(nullptr, MAKEINTRESOURCEW(IDI_APP_ICON), RT_GROUP_ICON);
  ASSERT_NE(group, nullptr);
  const BYTE* directory = static_cast<const BYTE*>(::LockResource(::LoadResource(nullptr, group)));
  ASSERT_NE(directory, nullptr);
  // A 6-byte header whose last word is the count, then 14-byte entries that
  // start with width and height (0 meaning 256).
  std::vector<int> widths;
  const int count = directory[4] | directory[5] << 8;
  for (int i = 0; i < count; ++i) {
    const int width = directory[6 + 14 * i];
    widths.push_back(width == 0 ? 256 : width);
  }
  EXPECT_THAT(widths, ::testing::IsSupersetOf({16, 20, 24, 32, 48, 256}));

  Win32Window window(TestSystem());
  ASSERT_TRUE(window.Create(kTestTitle, Point{10, 10}, Size{420, 768}));
  const auto small_icon =
      reinterpret_cast<HICON>(::SendMessageW(window.GetHandle(), WM_GETICON, ICON_SMALL, 0));
  ASSERT_NE(small_icon, nullptr);
  const SIZE size = IconSize(small_icon);
  EXPECT_EQ(size.cx, ::GetSystemMetrics(SM_CXSMICON));
  EXPECT_EQ(size.cy, ::GetSystemMetrics(SM_CYSMICON));
}

TEST_F(Win32WindowTest, TheCaptionIconIsMadeForTheMonitorsDpiAndFollowsADpiChange) {
  SetFakeMonitorDpi(144);
  Win32Window window(TestSystem());
  ASSERT_TRUE(window.Create(kTestTitle, Point{10, 10}, Size{420, 768}));
  HWND hwnd = window.GetHandle();
  const auto caption_icon_width = [&] {
    const auto icon = reinterpret_cast<HICON>(::SendMessageW(hwnd, WM_GETICON, ICON_SMALL, 0));
    return icon != nullptr ? IconSize(icon).cx : 0;
  };
  EXPECT_EQ(caption_icon_width(), 24);

  RECT suggested{0, 0, 840, 1536};
  ::SendMessageW(hwnd, WM_DPICHANGED, MAKEWPARAM(192, 192), reinterpret_cast<LPARAM>(&suggested));
  EXPECT_EQ(caption_icon_width(), 32);
}

// The title bar follows AppsUseLightTheme, here in a key of the test's own.
class TitleBarThemeTest : public Win32WindowTest {
 protected:
  void SetUp() override {
    Win32WindowTest::SetUp();
    ASSERT_TRUE(app_mode_.valid());
  }
  void SetLightTheme(DWORD value) { ASSERT_TRUE(app_mode_.SetLightTheme(value)); }
  WindowSystem System() const {
    WindowSystem system = TestSystem();
    system.app_mode_subkey = app_mode_.subkey();
    return system;
  }

  ScratchAppModeKey app_mode_;
};

TEST_F(TitleBarThemeTest, FollowsTheAppModeAtCreationAndOnEveryChange) {
  SetLightTheme(0);
  Win32Window window(System());
  ASSERT_TRUE(window.Create(kTestTitle, Point{10, 10}, Size{420, 768}));
  EXPECT_EQ(dark_title_bar_calls, std::vector<bool>{true});

  SetLightTheme(1);
  ::SendMessageW(window.GetHandle(), WM_DWMCOLORIZATIONCOLORCHANGED, 0, 0);
  EXPECT_EQ(dark_title_bar_calls, (std::vector<bool>{true, false}));

  // Without the value the system's default look stays untouched.
  app_mode_.DeleteLightTheme();
  ::SendMessageW(window.GetHandle(), WM_DWMCOLORIZATIONCOLORCHANGED, 0, 0);
  EXPECT_EQ(dark_title_bar_calls.size(), 2u);
}

TEST_F(TitleBarThemeTest, FollowsASwitchOfTheAppModeAnnouncedAsASettingChange) {
  SetLightTheme(1);
  Win32Window window(System());
  ASSERT_TRUE(window.Create(kTestTitle, Point{10, 10}, Size{420, 768}));
  HWND hwnd = window.GetHandle();
  SetLightTheme(0);

  // Changes of other settings leave the title bar alone.
  ::SendMessageW(hwnd, WM_SETTINGCHANGE, 0, reinterpret_cast<LPARAM>(L"Environment"));
  ::SendMessageW(hwnd, WM_SETTINGCHANGE, SPI_SETWORKAREA, 0);
  EXPECT_EQ(dark_title_bar_calls, std::vector<bool>{false});

  ::SendMessageW(hwnd, WM_SETTINGCHANGE, 0, reinterpret_cast<LPARAM>(L"ImmersiveColorSet"));
  EXPECT_EQ(dark_title_bar_calls, (std::vector<bool>{false, true}));
}

// A window that notes the activation its caption is told to show.
class CaptionActivationLog : public Win32Window {
 public:
  using Win32Window::Win32Window;
  std::vector<WPARAM> shown;

 protected:
  LRESULT HandleMessage(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) override {
    if (message == WM_NCACTIVATE) shown.push_back(wparam);
    return Win32Window::HandleMessage(hwnd, message, wparam, lparam);
  }
};

TEST_F(TitleBarThemeTest, AVisibleFrameIsRepaintedAfterAThemeChangeWhereTheCaptionWaits) {
  SetLightTheme(0);
  for (const bool waits : {true, false}) {
    WindowSystem system = System();
    system.caption_waits_for_activation = waits;
    CaptionActivationLog window(system);
    ASSERT_TRUE(window.Create(kTestTitle, Point{10, 10}, Size{420, 768}));
    EXPECT_TRUE(window.shown.empty()) << "hidden at creation: nothing to repaint";
    window.Show();
    PumpPendingMessages();
    window.shown.clear();

    ::SendMessageW(window.GetHandle(), WM_DWMCOLORIZATIONCOLORCHANGED, 0, 0);
    if (waits) {
      // Toggled, and left showing the activation the window has.
      const WPARAM active = ::GetActiveWindow() == window.GetHandle() ? TRUE : FALSE;
      EXPECT_EQ(window.shown, (std::vector<WPARAM>{!active, active}));
    } else {
      EXPECT_TRUE(window.shown.empty());
    }
  }
}

}  // namespace
