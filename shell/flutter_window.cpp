#include "shell/flutter_window.h"

#include <exception>
#include <iostream>
#include <optional>
#include <utility>

#include "shell/plugin_registrant.h"
#include "vpn/vpn_manager.h"

FlutterWindow::FlutterWindow(const flutter::EngineProject& project,
                             VpnManagerFactory vpn_manager_factory)
    : project_(project), vpn_manager_factory_(std::move(vpn_manager_factory)) {}

FlutterWindow::~FlutterWindow() {
  // sing-box must be gone before the engine and its messenger are.
  vpn_manager_.reset();
  view_controller_.reset();
}

bool FlutterWindow::OnCreate() {
  if (!Win32Window::OnCreate()) return false;

  const RECT frame = ClientArea();
  view_controller_ = nullptr;
  view_controller_ = std::make_unique<flutter::FlutterViewController>(
      frame.right - frame.left, frame.bottom - frame.top, project_);
  if (!view_controller_->engine() || !view_controller_->view()) return false;

  flutter::FlutterEngine* engine = view_controller_->engine();
  RegisterPlugins(engine);
  CreateVpnManager(engine->messenger());

  AttachChildContent(view_controller_->view()->GetNativeWindow());
  // The window stays hidden until there is something to see.
  engine->SetNextFrameCallback([this]() { Show(); });
  view_controller_->ForceRedraw();
  return true;
}

void FlutterWindow::CreateVpnManager(flutter::BinaryMessenger* messenger) {
  try {
    vpn_manager_ = nullptr;
    vpn_manager_ = vpn_manager_factory_ ? vpn_manager_factory_() : std::make_unique<VpnManager>();
    if (vpn_manager_) {
      vpn_manager_->RegisterMethodChannelDirect(messenger);
      HWND window = GetHandle();
      vpn_manager_->RegisterEventChannel(
          messenger, [window] { ::PostMessageW(window, kVpnEventsMessage, 0, 0); });
    }
  } catch (const std::exception& error) {
    vpn_manager_.reset();
    std::cout << "VPN管理器初始化失败: " << error.what() << std::endl;
  } catch (...) {
    vpn_manager_.reset();
    std::cout << "VPN管理器初始化失败: 未知异常" << std::endl;
  }
}

void FlutterWindow::OnDestroy() {
  view_controller_.reset();
  Win32Window::OnDestroy();
}

LRESULT FlutterWindow::HandleMessage(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  if (view_controller_) {
    const std::optional<LRESULT> result =
        view_controller_->HandleTopLevelWindowProc(hwnd, message, wparam, lparam);
    if (result.has_value()) return *result;
  }
  if (message == kVpnEventsMessage) {
    if (vpn_manager_) vpn_manager_->DeliverPendingEvents();
    return 0;
  }
  if (message == WM_FONTCHANGE && view_controller_) view_controller_->engine()->ReloadSystemFonts();
  return Win32Window::HandleMessage(hwnd, message, wparam, lparam);
}
