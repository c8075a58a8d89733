#include "standins/flutter_windows/panel_view_win.h"

#include <string>

#include "base/utf16_text.h"
#include "standins/flutter_windows/files_win.h"

namespace velqa::standin {
namespace {

constexpr wchar_t kViewClass[] = L"VelqaStandinFlutterView";
constexpr wchar_t kParkingClass[] = L"VelqaStandinFlutterParking";
constexpr int kFirstButtonId = 100;
constexpr int kMargin = 8;
constexpr int kHeadingHeight = 28;
constexpr int kRowHeight = 26;
constexpr const char* kMethods[5] = {"start_vpn", "stop_vpn", "get_vpn_status", "check_tun_driver",
                                     "install_wintun_driver"};
constexpr COLORREF kBackground = RGB(0xF3, 0xF6, 0xFA);

void RegisterClassesOnce() {
  static const bool registered = [] {
    WNDCLASSW view{};
    view.style = CS_HREDRAW | CS_VREDRAW;
    view.lpfnWndProc = DefWindowProcW;
    view.hInstance = ThisModule();
    view.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));
    view.lpszClassName = kViewClass;
    WNDCLASSW parking{};
    parking.lpfnWndProc = DefWindowProcW;
    parking.hInstance = ThisModule();
    parking.lpszClassName = kParkingClass;
    return RegisterClassW(&view) != 0 && RegisterClassW(&parking) != 0;
  }();
  (void)registered;
}

HWND MakeControl(const wchar_t* window_class, const wchar_t* text, DWORD style, HWND parent,
                 int id) {
  HWND control =
      CreateWindowExW(0, window_class, text, WS_CHILD | WS_VISIBLE | style, 0, 0, 10, 10, parent,
                      reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), ThisModule(), nullptr);
  SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(GetStockObject(DEFAULT_GUI_FONT)),
               FALSE);
  return control;
}

}  // namespace

std::unique_ptr<PanelView> PanelView::Create(int width, int height) {
  RegisterClassesOnce();
  std::unique_ptr<PanelView> panel(new PanelView());
  panel->parking_.Reset(CreateWindowExW(0, kParkingClass, L"", WS_POPUP, 0, 0, width, height,
                                        nullptr, nullptr, ThisModule(), nullptr));
  if (!panel->parking_) return nullptr;
  panel->view_.Reset(CreateWindowExW(0, kViewClass, L"", WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN, 0,
                                     0, width, height, panel->parking_.get(), nullptr, ThisModule(),
                                     nullptr));
  if (!panel->view_) return nullptr;
  HWND view = panel->view_.get();
  SetWindowLongPtrW(view, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(panel.get()));
  SetWindowLongPtrW(view, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&PanelView::WindowProc));

  panel->label_ = MakeControl(L"STATIC", L"sing-box configuration file", 0, view, 3);
  panel->path_edit_ = MakeControl(L"EDIT", L"", WS_BORDER | ES_AUTOHSCROLL, view, 1);
  for (int i = 0; i < 5; ++i) {
    panel->buttons_[i] =
        MakeControl(L"BUTTON", base::WideFromUtf8(kMethods[i]).value_or(std::wstring()).c_str(),
                    BS_PUSHBUTTON, view, kFirstButtonId + i);
  }
  panel->answers_ =
      MakeControl(L"LISTBOX", L"", WS_BORDER | WS_VSCROLL | LBS_NOINTEGRALHEIGHT, view, 2);
  panel->Layout(width, height);
  return panel;
}

PanelView::~PanelView() {
  if (frame_dc_ && original_bitmap_ != nullptr) SelectObject(frame_dc_.get(), original_bitmap_);
  frame_bitmap_.Reset();
  frame_dc_.Reset();
  if (view_) SetWindowLongPtrW(view_.get(), GWLP_USERDATA, 0);
  view_.Reset();
  parking_.Reset();
}

void PanelView::Layout(int width, int height) {
  int inner = width > 2 * kMargin ? width - 2 * kMargin : 1;
  int y = kHeadingHeight;
  MoveWindow(label_, kMargin, y, inner, 18, TRUE);
  y += 20;
  MoveWindow(path_edit_, kMargin, y, inner, 24, TRUE);
  y += 24 + kMargin;
  for (HWND button : buttons_) {
    MoveWindow(button, kMargin, y, inner, kRowHeight, TRUE);
    y += kRowHeight + 4;
  }
  y += 4;
  MoveWindow(answers_, kMargin, y, inner, height - y - kMargin > 20 ? height - y - kMargin : 20,
             TRUE);
}

void PanelView::RenderFrame(int frame_number) {
  RECT client{};
  GetClientRect(view_.get(), &client);
  int width = client.right > 1 ? client.right : 1;
  int height = client.bottom > 1 ? client.bottom : 1;
  if (!frame_dc_ || width != frame_width_ || height != frame_height_) {
    const base::UniqueWindowDc screen(GetDC(view_.get()), {view_.get()});
    if (!frame_dc_) {
      frame_dc_.Reset(CreateCompatibleDC(screen.get()));
    } else if (original_bitmap_ != nullptr) {
      SelectObject(frame_dc_.get(), original_bitmap_);
    }
    frame_bitmap_.Reset(CreateCompatibleBitmap(screen.get(), width, height));
    original_bitmap_ = SelectObject(frame_dc_.get(), frame_bitmap_.get());
    frame_width_ = width;
    frame_height_ = height;
  }
  HDC dc = frame_dc_.get();
  base::UniqueGdiObject brush(CreateSolidBrush(kBackground));
  FillRect(dc, &client, static_cast<HBRUSH>(brush.get()));
  SetBkMode(dc, TRANSPARENT);
  HGDIOBJ old_font = SelectObject(dc, GetStockObject(DEFAULT_GUI_FONT));
  std::wstring heading =
      L"Velqa assistant \x2014 stand-in engine (frame " + std::to_wstring(frame_number) + L")";
  RECT heading_rect{kMargin, 6, width - kMargin, kHeadingHeight};
  DrawTextW(dc, heading.c_str(), -1, &heading_rect, DT_LEFT | DT_SINGLELINE | DT_END_ELLIPSIS);
  SelectObject(dc, old_font);
  InvalidateRect(view_.get(), nullptr, FALSE);
}

void PanelView::AddAnswer(const std::string& line) {
  const std::wstring text = base::WideFromUtf8(line).value_or(std::wstring());
  LRESULT index = SendMessageW(answers_, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str()));
  if (index >= 0) SendMessageW(answers_, LB_SETTOPINDEX, static_cast<WPARAM>(index), 0);
}

void PanelView::Paint() {
  PAINTSTRUCT paint;
  HDC dc = BeginPaint(view_.get(), &paint);
  if (frame_dc_) {
    BitBlt(dc, 0, 0, frame_width_, frame_height_, frame_dc_.get(), 0, 0, SRCCOPY);
  } else {
    base::UniqueGdiObject brush(CreateSolidBrush(kBackground));
    FillRect(dc, &paint.rcPaint, static_cast<HBRUSH>(brush.get()));
  }
  EndPaint(view_.get(), &paint);
}

LRESULT PanelView::HandleMessage(UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_PAINT:
      Paint();
      return 0;
    case WM_ERASEBKGND:
      return 1;
    case WM_SIZE:
      Layout(LOWORD(lparam), HIWORD(lparam));
      return 0;
    case WM_COMMAND: {
      int id = LOWORD(wparam);
      if (HIWORD(wparam) == BN_CLICKED && id >= kFirstButtonId && id < kFirstButtonId + 5 &&
          on_button_) {
        int length = GetWindowTextLengthW(path_edit_);
        std::wstring path(static_cast<size_t>(length) + 1, L'\0');
        GetWindowTextW(path_edit_, path.data(), length + 1);
        path.resize(static_cast<size_t>(length));
        on_button_(kMethods[id - kFirstButtonId], base::Utf8FromWide(path).value_or(std::string()));
        return 0;
      }
      break;
    }
    default:
      break;
  }
  return DefWindowProcW(view_.get(), message, wparam, lparam);
}

LRESULT CALLBACK PanelView::WindowProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  auto* panel = reinterpret_cast<PanelView*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (panel == nullptr) return DefWindowProcW(hwnd, message, wparam, lparam);
  try {
    return panel->HandleMessage(message, wparam, lparam);
  } catch (...) {
    return DefWindowProcW(hwnd, message, wparam, lparam);
  }
}

}  // namespace velqa::standin
