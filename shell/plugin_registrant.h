// The registration entry points of the two plug-in libraries the Dart side
// uses (url_launcher_windows_plugin.dll, webview_windows_plugin.dll).
//
// Threads: the platform thread, once each, after the engine is running.
#ifndef VELQA_SHELL_PLUGIN_REGISTRANT_H_
#define VELQA_SHELL_PLUGIN_REGISTRANT_H_

#include "channel/embedding_api.h"
#include "channel/plugin_registry.h"

extern "C" {
void UrlLauncherWindowsRegisterWithRegistrar(FlutterDesktopPluginRegistrarRef registrar);
void WebviewWindowsPluginRegisterWithRegistrar(FlutterDesktopPluginRegistrarRef registrar);
}

// Registers both plug-ins with `registry`, URL launcher first.
void RegisterPlugins(flutter::PluginRegistry* registry);

#endif  // VELQA_SHELL_PLUGIN_REGISTRANT_H_
