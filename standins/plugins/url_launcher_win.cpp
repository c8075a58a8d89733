// Stand-in for url_launcher_windows_plugin.dll.
#include "channel/plugin_entry_points.h"
#include "standins/plugins/plugin_log_win.h"

extern "C" void UrlLauncherWindowsRegisterWithRegistrar(
    FlutterDesktopPluginRegistrarRef registrar) {
  velqa::standin::LogPluginRegistration("UrlLauncherWindows", registrar);
}
