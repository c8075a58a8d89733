// The scripted Dart side of the stand-in engine: runs the script named by
// --dart-script after the first frame, sends the panel's button presses, and
// records every answer (--dart-replies) on the VPN channel.
//
// Threads: platform thread only.
#ifndef VELQA_STANDINS_FLUTTER_WINDOWS_DART_SIDE_WIN_H_
#define VELQA_STANDINS_FLUTTER_WINDOWS_DART_SIDE_WIN_H_

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "standins/flutter_windows/dart_script.h"

namespace velqa::standin {

class Engine;
class PanelView;

inline constexpr char kVpnChannel[] = "com.velqa.assistant/vpn_process";

class DartSide {
 public:
  DartSide(Engine& engine, PanelView& panel);

  // Writes the argument record (--dart-args-out) as the engine starts.
  void OnEngineStarted();
  // Starts the script once, after the first frame.
  void OnFirstFrame();
  void OnButton(const std::string& method, const std::string& config_path);

 private:
  void RunNextStep();
  void Send(const ScriptStep& step);
  void Send(const std::string& label, const std::vector<uint8_t>& message, bool from_script);
  void Record(const std::string& label, const std::vector<uint8_t>& answer);
  // A line of the --dart-streams file.
  void RecordStream(const std::string& channel, const std::string& kind,
                    const std::vector<uint8_t>& message);
  void OnHostMessage(const std::string& channel, const std::vector<uint8_t>& message,
                     bool off_platform_thread);
  HWND TopLevelWindow() const;

  Engine& engine_;
  PanelView& panel_;
  std::vector<ScriptStep> steps_;
  size_t next_step_ = 0;
  bool started_ = false;
};

}  // namespace velqa::standin

#endif  // VELQA_STANDINS_FLUTTER_WINDOWS_DART_SIDE_WIN_H_
