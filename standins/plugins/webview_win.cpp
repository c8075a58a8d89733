// Stand-in for webview_windows_plugin.dll.
#include "channel/plugin_entry_points.h"
#include "standins/plugins/plugin_log_win.h"

extern "C" void WebviewWindowsPluginRegisterWithRegistrar(
    FlutterDesktopPluginRegistrarRef registrar) {
  velqa::standin::LogPluginRegistration("WebviewWindowsPlugin", registrar);
}
