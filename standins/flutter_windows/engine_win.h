// The stand-in engine behind FlutterDesktopEngineRef and the view controller
// behind FlutterDesktopViewControllerRef.
//
// Threads: everything on the platform thread (the thread that created the
// engine), except what the messenger allows from any thread.
#ifndef VELQA_STANDINS_FLUTTER_WINDOWS_ENGINE_WIN_H_
#define VELQA_STANDINS_FLUTTER_WINDOWS_ENGINE_WIN_H_

#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "channel/embedding_api.h"
#include "standins/flutter_windows/dart_script.h"
#include "standins/flutter_windows/messenger.h"
#include "standins/flutter_windows/task_runner_win.h"

namespace velqa::standin {

class DartSide;
class PanelView;

// Appends engine events to the file named by --dart-events, if any.
class EventLog {
 public:
  explicit EventLog(std::string path_utf8) : path_(std::move(path_utf8)) {}
  void Write(const std::string& line) const;

 private:
  std::string path_;
};

class Engine {
 public:
  // Null, with a line on standard error, when the assets directory or the ICU
  // data file is missing. Relative paths count from the executable.
  static std::unique_ptr<Engine> Create(const FlutterDesktopEngineProperties& properties);
  ~Engine();

  static Engine* From(FlutterDesktopEngineRef ref) { return reinterpret_cast<Engine*>(ref); }
  FlutterDesktopEngineRef ref() { return reinterpret_cast<FlutterDesktopEngineRef>(this); }

  Messenger* messenger() { return messenger_; }
  TaskRunner& tasks() { return *tasks_; }
  const EventLog& events() const { return events_; }
  const DartOptions& options() const { return options_; }
  const std::vector<std::string>& arguments() const { return arguments_; }

  FlutterDesktopPluginRegistrarRef Registrar(const std::string& plugin_name);
  // True when the view claims this top-level window message (--dart-consume).
  bool ConsumesMessage(unsigned message) const;
  void ReloadSystemFonts();
  void SetNextFrameCallback(FlutterDesktopNextFrameCallback callback, void* user_data);
  // Runs a pending next-frame callback once; called after every frame.
  void OnFrameDrawn();
  // Ends messaging and platform tasks; the first step of every shutdown.
  void Shutdown();

 private:
  Engine(std::vector<std::string> arguments, std::unique_ptr<TaskRunner> tasks);

  std::vector<std::string> arguments_;
  DartOptions options_;
  std::vector<unsigned> consumed_messages_;
  EventLog events_;
  std::unique_ptr<TaskRunner> tasks_;
  Messenger* messenger_;                                     // one reference held until destruction
  std::map<std::string, std::unique_ptr<char>> registrars_;  // stable addresses per name
  FlutterDesktopNextFrameCallback frame_callback_ = nullptr;
  void* frame_user_data_ = nullptr;
  bool shut_down_ = false;
};

class ViewController {
 public:
  // Takes the engine over in every case; null when the view cannot be made.
  static std::unique_ptr<ViewController> Create(int width, int height,
                                                std::unique_ptr<Engine> engine);
  ~ViewController();

  static ViewController* From(FlutterDesktopViewControllerRef ref) {
    return reinterpret_cast<ViewController*>(ref);
  }
  FlutterDesktopViewControllerRef ref() {
    return reinterpret_cast<FlutterDesktopViewControllerRef>(this);
  }
  FlutterDesktopViewRef view_ref() { return reinterpret_cast<FlutterDesktopViewRef>(this); }
  static ViewController* FromView(FlutterDesktopViewRef ref) {
    return reinterpret_cast<ViewController*>(ref);
  }

  HWND view_window() const;
  bool ConsumesTopLevelMessage(UINT message) const { return engine_->ConsumesMessage(message); }
  // Records the top-level window's activation changes as events.
  void ObserveTopLevelMessage(UINT message, WPARAM wparam) const;
  // Schedules a frame; several requests before it is drawn make one frame.
  void RequestFrame();

 private:
  ViewController() = default;
  void DrawFrame();

  std::unique_ptr<Engine> engine_;
  std::unique_ptr<PanelView> panel_;
  std::unique_ptr<DartSide> dart_;
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
  bool frame_pending_ = false;
  int frames_drawn_ = 0;
};

}  // namespace velqa::standin

#endif  // VELQA_STANDINS_FLUTTER_WINDOWS_ENGINE_WIN_H_
