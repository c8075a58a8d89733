// The C interface of the stand-in flutter_windows.dll (exported through
// flutter_windows.def). No exception may leave these functions.
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdio>
#include <memory>

#include "base/win_resources_win.h"
#include "channel/embedding_api.h"
#include "standins/flutter_windows/engine_win.h"

using velqa::standin::Engine;
using velqa::standin::Messenger;
using velqa::standin::ViewController;

extern "C" {

FlutterDesktopEngineRef FlutterDesktopEngineCreate(
    const FlutterDesktopEngineProperties* engine_properties) {
  if (engine_properties == nullptr) return nullptr;
  try {
    std::unique_ptr<Engine> engine = Engine::Create(*engine_properties);
    return engine ? engine.release()->ref() : nullptr;
  } catch (...) {
    return nullptr;
  }
}

bool FlutterDesktopEngineDestroy(FlutterDesktopEngineRef engine) {
  delete Engine::From(engine);
  return true;
}

FlutterDesktopMessengerRef FlutterDesktopEngineGetMessenger(FlutterDesktopEngineRef engine) {
  return engine != nullptr ? Engine::From(engine)->messenger()->ref() : nullptr;
}

FlutterDesktopPluginRegistrarRef FlutterDesktopEngineGetPluginRegistrar(
    FlutterDesktopEngineRef engine, const char* plugin_name) {
  if (engine == nullptr || plugin_name == nullptr) return nullptr;
  try {
    return Engine::From(engine)->Registrar(plugin_name);
  } catch (...) {
    return nullptr;
  }
}

void FlutterDesktopEngineReloadSystemFonts(FlutterDesktopEngineRef engine) {
  if (engine != nullptr) Engine::From(engine)->ReloadSystemFonts();
}

void FlutterDesktopEngineSetNextFrameCallback(FlutterDesktopEngineRef engine,
                                              FlutterDesktopNextFrameCallback callback,
                                              void* user_data) {
  if (engine != nullptr) Engine::From(engine)->SetNextFrameCallback(callback, user_data);
}

FlutterDesktopViewControllerRef FlutterDesktopViewControllerCreate(int width, int height,
                                                                   FlutterDesktopEngineRef engine) {
  if (engine == nullptr) return nullptr;
  // The controller owns the engine from here on, also when it fails.
  std::unique_ptr<Engine> owned(Engine::From(engine));
  try {
    std::unique_ptr<ViewController> controller =
        ViewController::Create(width, height, std::move(owned));
    return controller ? controller.release()->ref() : nullptr;
  } catch (...) {
    return nullptr;
  }
}

void FlutterDesktopViewControllerDestroy(FlutterDesktopViewControllerRef controller) {
  delete ViewController::From(controller);
}

FlutterDesktopViewRef FlutterDesktopViewControllerGetView(
    FlutterDesktopViewControllerRef controller) {
  return controller != nullptr ? ViewController::From(controller)->view_ref() : nullptr;
}

void FlutterDesktopViewControllerForceRedraw(FlutterDesktopViewControllerRef controller) {
  if (controller == nullptr) return;
  try {
    ViewController::From(controller)->RequestFrame();
  } catch (...) {
  }
}

bool FlutterDesktopViewControllerHandleTopLevelWindowProc(
    FlutterDesktopViewControllerRef controller, HWND, UINT message, WPARAM wparam, LPARAM,
    LRESULT* result) {
  // The panel itself needs nothing from the top-level window; only messages
  // named by --dart-consume are claimed, so the host's other path is testable.
  if (controller == nullptr || result == nullptr) return false;
  try {
    ViewController* view = ViewController::From(controller);
    view->ObserveTopLevelMessage(message, wparam);
    if (!view->ConsumesTopLevelMessage(message)) return false;
  } catch (...) {
    return false;
  }
  *result = 0;
  return true;
}

HWND FlutterDesktopViewGetHWND(FlutterDesktopViewRef view) {
  return view != nullptr ? ViewController::FromView(view)->view_window() : nullptr;
}

void FlutterDesktopMessengerSetCallback(FlutterDesktopMessengerRef messenger, const char* channel,
                                        FlutterDesktopMessageCallback callback, void* user_data) {
  if (messenger == nullptr || channel == nullptr) return;
  try {
    Messenger::From(messenger)->SetCallback(channel, callback, user_data);
  } catch (...) {
  }
}

bool FlutterDesktopMessengerSend(FlutterDesktopMessengerRef messenger, const char* channel,
                                 const uint8_t* message, size_t message_size) {
  return FlutterDesktopMessengerSendWithReply(messenger, channel, message, message_size, nullptr,
                                              nullptr);
}

bool FlutterDesktopMessengerSendWithReply(FlutterDesktopMessengerRef messenger, const char* channel,
                                          const uint8_t* message, size_t message_size,
                                          FlutterDesktopBinaryReply reply, void* user_data) {
  if (messenger == nullptr || channel == nullptr) return false;
  try {
    return Messenger::From(messenger)->SendToDart(channel, message, message_size, reply,
                                                  user_data);
  } catch (...) {
    return false;
  }
}

void FlutterDesktopMessengerSendResponse(FlutterDesktopMessengerRef messenger,
                                         const FlutterDesktopMessageResponseHandle* handle,
                                         const uint8_t* data, size_t data_length) {
  if (messenger == nullptr) return;
  try {
    Messenger::From(messenger)->SendResponse(handle, data, data_length);
  } catch (...) {
  }
}

FlutterDesktopMessengerRef FlutterDesktopMessengerAddRef(FlutterDesktopMessengerRef messenger) {
  if (messenger != nullptr) Messenger::From(messenger)->AddRef();
  return messenger;
}

void FlutterDesktopMessengerRelease(FlutterDesktopMessengerRef messenger) {
  if (messenger != nullptr) Messenger::From(messenger)->Release();
}

FlutterDesktopMessengerRef FlutterDesktopMessengerLock(FlutterDesktopMessengerRef messenger) {
  if (messenger != nullptr) Messenger::From(messenger)->Lock();
  return messenger;
}

void FlutterDesktopMessengerUnlock(FlutterDesktopMessengerRef messenger) {
  if (messenger != nullptr) Messenger::From(messenger)->Unlock();
}

bool FlutterDesktopMessengerIsAvailable(FlutterDesktopMessengerRef messenger) {
  return messenger != nullptr && Messenger::From(messenger)->IsAvailable();
}

UINT FlutterDesktopGetDpiForMonitor(HMONITOR monitor) {
  // shcore is loaded once and kept for the life of the process.
  using GetDpiForMonitorFunction = HRESULT(WINAPI*)(HMONITOR, int, UINT*, UINT*);
  static const auto get_dpi = [] {
    HMODULE shcore = LoadLibraryW(L"shcore.dll");
    return shcore != nullptr ? reinterpret_cast<GetDpiForMonitorFunction>(reinterpret_cast<void*>(
                                   GetProcAddress(shcore, "GetDpiForMonitor")))
                             : nullptr;
  }();
  UINT dpi_x = 96;
  UINT dpi_y = 96;
  constexpr int kEffectiveDpi = 0;
  if (get_dpi != nullptr && SUCCEEDED(get_dpi(monitor, kEffectiveDpi, &dpi_x, &dpi_y))) {
    return dpi_x;
  }
  const velqa::base::UniqueWindowDc screen(GetDC(nullptr));
  const int dpi = screen ? GetDeviceCaps(screen.get(), LOGPIXELSX) : 96;
  return dpi > 0 ? static_cast<UINT>(dpi) : 96;
}

void FlutterDesktopResyncOutputStreams(void) {
  // This library has its own C runtime: point its descriptors 1 and 2 at the
  // process's current standard handles (for instance a newly made console).
  const struct {
    DWORD which;
    int descriptor;
    FILE* stream;
  } streams[] = {{STD_OUTPUT_HANDLE, 1, stdout}, {STD_ERROR_HANDLE, 2, stderr}};
  for (const auto& s : streams) {
    HANDLE handle = GetStdHandle(s.which);
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE) continue;
    HANDLE raw_copy = nullptr;
    if (!DuplicateHandle(GetCurrentProcess(), handle, GetCurrentProcess(), &raw_copy, 0, FALSE,
                         DUPLICATE_SAME_ACCESS)) {
      continue;
    }
    velqa::base::UniqueHandle copy(raw_copy);
    std::fflush(s.stream);
    int descriptor = _open_osfhandle(reinterpret_cast<intptr_t>(copy.get()), _O_TEXT);
    if (descriptor == -1) continue;
    // The descriptor owns the copy from here; closing it closes the copy.
    static_cast<void>(copy.Release());
    _dup2(descriptor, s.descriptor);
    _close(descriptor);
  }
}

}  // extern "C"
