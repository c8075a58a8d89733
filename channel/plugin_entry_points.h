// The registration entry points of the two plug-in libraries the host loads
// beside the engine (url_launcher_windows_plugin.dll and
// webview_windows_plugin.dll). Each takes the registrar the engine gives out
// for the plug-in's name. Platform thread only.
#ifndef VELQA_CHANNEL_PLUGIN_ENTRY_POINTS_H_
#define VELQA_CHANNEL_PLUGIN_ENTRY_POINTS_H_

#include "channel/embedding_api.h"

#ifdef __cplusplus
extern "C" {
#endif

// Registrar name "UrlLauncherWindows".
void UrlLauncherWindowsRegisterWithRegistrar(FlutterDesktopPluginRegistrarRef registrar);
// Registrar name "WebviewWindowsPlugin".
void WebviewWindowsPluginRegisterWithRegistrar(FlutterDesktopPluginRegistrarRef registrar);

#ifdef __cplusplus
}  // extern "C"
#endif

#endif  // VELQA_CHANNEL_PLUGIN_ENTRY_POINTS_H_
