// FlutterWindow: the application's top-level window. Once its native window
// exists it starts the engine with a view filling the client area, registers
// the plug-ins, creates the VpnManager and its channel, embeds the view, and
// shows itself when the engine has drawn the first frame. The view controller
// sees every window message first.
//
// Threads: everything on the UI thread, which is also the engine's platform
// thread; the first-frame callback arrives there too.
#ifndef VELQA_SHELL_FLUTTER_WINDOW_H_
#define VELQA_SHELL_FLUTTER_WINDOW_H_

#include <functional>
#include <memory>

#include "channel/engine_project.h"
#include "channel/flutter_view_controller.h"
#include "shell/win32_window.h"

class VpnManager;

// Posted to the window by the VPN output monitor: events for the Dart side
// wait to be sent on this thread, the only one on which the engine takes them.
inline constexpr UINT kVpnEventsMessage = WM_APP + 1;

class FlutterWindow : public Win32Window {
 public:
  // Makes the window's VpnManager; may throw, the window then runs without.
  using VpnManagerFactory = std::function<std::unique_ptr<VpnManager>()>;

  // `project` must outlive the window; it is read when the engine starts.
  // Without a factory the VpnManager is built with the system's interface.
  explicit FlutterWindow(const flutter::EngineProject& project,
                         VpnManagerFactory vpn_manager_factory = {});
  // Stops the VPN (sing-box ended, WinTun released) while the engine still
  // runs, then ends the engine, then the native window.
  ~FlutterWindow() override;

  // Whether the VPN channel's native end exists (it does not after its
  // creation failed).
  bool HasVpnManager() const { return vpn_manager_ != nullptr; }

 protected:
  bool OnCreate() override;
  void OnDestroy() override;
  LRESULT HandleMessage(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) override;

 private:
  // Creates the VpnManager and registers its channel; on an exception the
  // window goes on without it and says so on the console.
  void CreateVpnManager(flutter::BinaryMessenger* messenger);

  const flutter::EngineProject& project_;
  VpnManagerFactory vpn_manager_factory_;
  std::unique_ptr<flutter::FlutterViewController> view_controller_;
  std::unique_ptr<VpnManager> vpn_manager_;
};

#endif  // VELQA_SHELL_FLUTTER_WINDOW_H_
