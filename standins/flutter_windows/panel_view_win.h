// The stand-in engine's view: a child window of the requested size showing a
// small control panel (a configuration-path field, one button per VPN method,
// the answers below them). Frames are rendered into an off-screen buffer, so
// a frame is drawn while the host keeps its window hidden, as a real engine
// renders before its window is shown.
//
// Threads: platform thread only.
#ifndef VELQA_STANDINS_FLUTTER_WINDOWS_PANEL_VIEW_WIN_H_
#define VELQA_STANDINS_FLUTTER_WINDOWS_PANEL_VIEW_WIN_H_

#include <windows.h>

#include <functional>
#include <memory>
#include <string>

#include "base/win_resources_win.h"

namespace velqa::standin {

class PanelView {
 public:
  // A button press: the method name, and the configuration path typed in.
  using ButtonHandler = std::function<void(const std::string& method, const std::string& path)>;

  // Null when a window cannot be created.
  static std::unique_ptr<PanelView> Create(int width, int height);
  ~PanelView();

  HWND window() const { return view_.get(); }
  void SetButtonHandler(ButtonHandler handler) { on_button_ = std::move(handler); }
  // Renders one frame into the buffer and invalidates the window.
  void RenderFrame(int frame_number);
  void AddAnswer(const std::string& line);

 private:
  PanelView() = default;
  static LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);
  LRESULT HandleMessage(UINT message, WPARAM wparam, LPARAM lparam);
  void Layout(int width, int height);
  void Paint();

  // The view is a child window from birth; until the host adopts it, it
  // lives under a hidden parking window of its own.
  base::UniqueWindow parking_;
  base::UniqueWindow view_;
  HWND label_ = nullptr;  // child controls die with the view
  HWND path_edit_ = nullptr;
  HWND answers_ = nullptr;
  HWND buttons_[5] = {};
  base::UniqueMemoryDc frame_dc_;
  base::UniqueGdiObject frame_bitmap_;
  HGDIOBJ original_bitmap_ = nullptr;
  int frame_width_ = 0;
  int frame_height_ = 0;
  ButtonHandler on_button_;
};

}  // namespace velqa::standin

#endif  // VELQA_STANDINS_FLUTTER_WINDOWS_PANEL_VIEW_WIN_H_
