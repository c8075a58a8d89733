// Creates the engine and its view, owns both, and gives the view the first
// look at the top-level window's messages.
//
// Threads: everything, including destruction, on the platform thread.
#ifndef VELQA_CHANNEL_FLUTTER_VIEW_CONTROLLER_H_
#define VELQA_CHANNEL_FLUTTER_VIEW_CONTROLLER_H_

#include <memory>
#include <optional>

#include "channel/embedding_api.h"
#include "channel/engine_project.h"
#include "channel/flutter_engine.h"
#include "channel/flutter_view.h"

namespace flutter {

class FlutterViewController {
 public:
  // Creates and starts the engine with a view of width x height pixels.
  // On failure view() is null (and a line goes to standard error).
  FlutterViewController(int width, int height, const EngineProject& project);
  // Ends the view and the engine, then drops the view wrapper, then the
  // engine wrapper (whose messenger must outlive the engine).
  virtual ~FlutterViewController();

  FlutterViewController(const FlutterViewController&) = delete;
  FlutterViewController& operator=(const FlutterViewController&) = delete;

  FlutterEngine* engine() const { return engine_.get(); }
  // Null when the view controller could not be created.
  FlutterView* view() const { return view_.get(); }

  void ForceRedraw();

  // A value when the view consumed the message; the caller then returns it
  // from its window procedure instead of handling the message itself.
  std::optional<LRESULT> HandleTopLevelWindowProc(HWND hwnd, UINT message, WPARAM wparam,
                                                  LPARAM lparam);

 private:
  FlutterDesktopViewControllerRef controller_ = nullptr;
  std::shared_ptr<FlutterEngine> engine_;
  std::unique_ptr<FlutterView> view_;
};

}  // namespace flutter

#endif  // VELQA_CHANNEL_FLUTTER_VIEW_CONTROLLER_H_
