// Owner of the embedding's engine handle, its messenger wrapper and the
// plug-in registry. Usually created and held by FlutterViewController, which
// takes the engine handle over.
//
// Threads: everything, including destruction, on the platform thread; the
// next-frame callback is called there too.
#ifndef VELQA_CHANNEL_FLUTTER_ENGINE_H_
#define VELQA_CHANNEL_FLUTTER_ENGINE_H_

#include <functional>
#include <memory>
#include <string>

#include "channel/binary_messenger.h"
#include "channel/binary_messenger_impl.h"
#include "channel/embedding_api.h"
#include "channel/engine_project.h"
#include "channel/plugin_registry.h"

namespace flutter {

class FlutterEngine : public PluginRegistry {
 public:
  // Creates the engine from `project`, read only during the constructor. A
  // failed creation leaves a null handle; the view controller reports it.
  explicit FlutterEngine(const EngineProject& project);
  // Ends the engine if this wrapper still owns it, then drops a pending
  // next-frame callback, then the messenger wrapper.
  ~FlutterEngine() override;

  FlutterEngine(const FlutterEngine&) = delete;
  FlutterEngine& operator=(const FlutterEngine&) = delete;

  FlutterDesktopPluginRegistrarRef GetRegistrarForPlugin(const std::string& plugin_name) override;

  // Hands ownership of the engine to the caller; this wrapper keeps using the
  // handle but will no longer destroy it.
  FlutterDesktopEngineRef RelinquishEngine();

  void ReloadSystemFonts();

  // `callback` runs once, after the next frame; a later call replaces a
  // callback that has not run yet.
  void SetNextFrameCallback(std::function<void()> callback);

  // Owned by this wrapper; valid for its lifetime.
  BinaryMessenger* messenger() { return messenger_.get(); }

 private:
  static void OnNextFrame(void* user_data);

  FlutterDesktopEngineRef engine_ = nullptr;
  std::unique_ptr<BinaryMessengerImpl> messenger_;
  bool owns_engine_ = true;
  std::function<void()> next_frame_callback_;
};

}  // namespace flutter

#endif  // VELQA_CHANNEL_FLUTTER_ENGINE_H_
