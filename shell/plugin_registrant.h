// Registration of the plug-ins the Dart side uses, with the engine that runs
// it.
//
// Threads: the platform thread, once, after the engine is running.
#ifndef VELQA_SHELL_PLUGIN_REGISTRANT_H_
#define VELQA_SHELL_PLUGIN_REGISTRANT_H_

#include "channel/plugin_registry.h"

// Registers the URL launcher, then the web view, each with the registrar of
// its name.
void RegisterPlugins(flutter::PluginRegistry* registry);

#endif  // VELQA_SHELL_PLUGIN_REGISTRANT_H_
