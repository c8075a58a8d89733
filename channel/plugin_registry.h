// The interface through which plug-ins obtain their registrar from the engine.
// Platform thread only.
#ifndef VELQA_CHANNEL_PLUGIN_REGISTRY_H_
#define VELQA_CHANNEL_PLUGIN_REGISTRY_H_

#include <string>

#include "channel/embedding_api.h"

namespace flutter {

class PluginRegistry {
 public:
  virtual ~PluginRegistry() = default;

  // The embedding's registrar for the named plug-in; null when the engine
  // is not running.
  virtual FlutterDesktopPluginRegistrarRef GetRegistrarForPlugin(
      const std::string& plugin_name) = 0;
};

}  // namespace flutter

#endif  // VELQA_CHANNEL_PLUGIN_REGISTRY_H_
