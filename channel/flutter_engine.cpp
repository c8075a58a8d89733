#include "channel/flutter_engine.h"

#include <cstddef>
#include <exception>
#include <string>
#include <utility>
#include <vector>

#include "base/stderr_line.h"

namespace flutter {

// The embedding reads this record by offset; any change to it breaks the
// binary interface with the real flutter_windows.dll.
static_assert(sizeof(void*) != 8 || sizeof(FlutterDesktopEngineProperties) == 56);
static_assert(sizeof(void*) != 8 ||
              offsetof(FlutterDesktopEngineProperties, dart_entrypoint) == 24);
static_assert(sizeof(void*) != 8 ||
              offsetof(FlutterDesktopEngineProperties, dart_entrypoint_argc) == 32);
static_assert(sizeof(void*) != 8 ||
              offsetof(FlutterDesktopEngineProperties, dart_entrypoint_argv) == 40);
static_assert(sizeof(void*) != 8 || offsetof(FlutterDesktopEngineProperties, first_option) == 48);
static_assert(sizeof(void*) != 8 || offsetof(FlutterDesktopEngineProperties, second_option) == 52);

FlutterEngine::FlutterEngine(const EngineProject& project) {
  std::vector<const char*> argv;
  argv.reserve(project.entrypoint_arguments.size());
  for (const std::string& argument : project.entrypoint_arguments) argv.push_back(argument.c_str());

  FlutterDesktopEngineProperties properties{};
  properties.assets_path = project.assets_path.c_str();
  properties.icu_data_path = project.icu_data_path.c_str();
  properties.aot_library_path = project.aot_library_path.c_str();
  properties.dart_entrypoint = project.entrypoint.c_str();
  properties.dart_entrypoint_argc = static_cast<int32_t>(argv.size());
  properties.dart_entrypoint_argv = argv.empty() ? nullptr : argv.data();
  properties.first_option = project.first_option;
  properties.second_option = project.second_option;

  engine_ = FlutterDesktopEngineCreate(&properties);
  // Asking a missing engine for its messenger would hand the embedding a null
  // handle; the wrapper then keeps a messenger that reaches nothing.
  FlutterDesktopMessengerRef messenger =
      engine_ != nullptr ? FlutterDesktopEngineGetMessenger(engine_) : nullptr;
  messenger_ = std::make_unique<BinaryMessengerImpl>(messenger);
}

FlutterEngine::~FlutterEngine() {
  if (engine_ != nullptr && owns_engine_) FlutterDesktopEngineDestroy(engine_);
  engine_ = nullptr;
  next_frame_callback_ = nullptr;
  // The messenger wrapper goes last: the engine that called its handlers has
  // ended by now.
  messenger_.reset();
}

FlutterDesktopPluginRegistrarRef FlutterEngine::GetRegistrarForPlugin(
    const std::string& plugin_name) {
  if (engine_ == nullptr) {
    velqa::base::WriteStderrLine(
        "Cannot get plugin registrar on an engine that isn't running; call Run first.");
    return nullptr;
  }
  return FlutterDesktopEngineGetPluginRegistrar(engine_, plugin_name.c_str());
}

FlutterDesktopEngineRef FlutterEngine::RelinquishEngine() {
  owns_engine_ = false;
  return engine_;
}

void FlutterEngine::ReloadSystemFonts() {
  if (engine_ != nullptr) FlutterDesktopEngineReloadSystemFonts(engine_);
}

void FlutterEngine::SetNextFrameCallback(std::function<void()> callback) {
  next_frame_callback_ = std::move(callback);
  if (engine_ != nullptr) FlutterDesktopEngineSetNextFrameCallback(engine_, &OnNextFrame, this);
}

void FlutterEngine::OnNextFrame(void* user_data) {
  auto* self = static_cast<FlutterEngine*>(user_data);
  // Taken out before the call, so it runs once, and a callback that sets a
  // new one from inside is kept.
  std::function<void()> callback = std::move(self->next_frame_callback_);
  self->next_frame_callback_ = nullptr;
  if (!callback) return;
  try {
    callback();
  } catch (const std::exception& e) {
    // Nothing here may allocate: the exception may be std::bad_alloc.
    velqa::base::WriteStderrLine("Next-frame callback failed: ", e.what());
  } catch (...) {
    velqa::base::WriteStderrLine("Next-frame callback failed with an unknown exception.");
  }
}

}  // namespace flutter
