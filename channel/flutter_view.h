// The engine's view: a child window the host embeds as its content. Borrows
// the view handle from the view controller that owns it. Platform thread only.
#ifndef VELQA_CHANNEL_FLUTTER_VIEW_H_
#define VELQA_CHANNEL_FLUTTER_VIEW_H_

#include "channel/embedding_api.h"

namespace flutter {

class FlutterView {
 public:
  explicit FlutterView(FlutterDesktopViewRef view) : view_(view) {}
  virtual ~FlutterView() = default;

  FlutterView(const FlutterView&) = delete;
  FlutterView& operator=(const FlutterView&) = delete;

  HWND GetNativeWindow() const { return FlutterDesktopViewGetHWND(view_); }

 private:
  FlutterDesktopViewRef view_;
};

}  // namespace flutter

#endif  // VELQA_CHANNEL_FLUTTER_VIEW_H_
