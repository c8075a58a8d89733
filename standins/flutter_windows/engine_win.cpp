#include "standins/flutter_windows/engine_win.h"

#include <windows.h>

#include <utility>

#include "base/stderr_line.h"
#include "base/utf16_text.h"
#include "base/utf8_path.h"
#include "standins/flutter_windows/dart_side_win.h"
#include "standins/flutter_windows/files_win.h"
#include "standins/flutter_windows/panel_view_win.h"
#include "standins/flutter_windows/registrar_text.h"

namespace velqa::standin {
namespace {

std::filesystem::path FromExecutable(const wchar_t* path) {
  std::filesystem::path result(path != nullptr ? path : L"");
  return result.is_relative() ? ExecutableDirectory() / result : result;
}

void ReportMissing(const char* what, const std::filesystem::path& path) {
  base::WriteStderrLine(std::string("flutter_windows stand-in: ") + what + " not found: ",
                        base::Utf8FromWide(path.wstring()).value_or(std::string()));
}

}  // namespace

void EventLog::Write(const std::string& line) const {
  if (!path_.empty()) AppendToFile(base::PathFromUtf8(path_), line + "\n");
}

std::unique_ptr<Engine> Engine::Create(const FlutterDesktopEngineProperties& properties) {
  std::error_code error;
  std::filesystem::path assets = FromExecutable(properties.assets_path);
  if (!std::filesystem::is_directory(assets, error)) {
    ReportMissing("assets directory", assets);
    return nullptr;
  }
  std::filesystem::path icu = FromExecutable(properties.icu_data_path);
  if (!std::filesystem::is_regular_file(icu, error)) {
    ReportMissing("ICU data", icu);
    return nullptr;
  }
  std::vector<std::string> arguments;
  for (int i = 0; i < properties.dart_entrypoint_argc; ++i) {
    const char* argument = properties.dart_entrypoint_argv[i];
    arguments.emplace_back(argument != nullptr ? argument : "");
  }
  std::unique_ptr<TaskRunner> tasks = TaskRunner::Create();
  if (!tasks) return nullptr;
  return std::unique_ptr<Engine>(new Engine(std::move(arguments), std::move(tasks)));
}

Engine::Engine(std::vector<std::string> arguments, std::unique_ptr<TaskRunner> tasks)
    : arguments_(std::move(arguments)),
      options_(ParseDartOptions(arguments_)),
      consumed_messages_(options_.ConsumedMessages()),
      events_(options_.events),
      tasks_(std::move(tasks)),
      messenger_(Messenger::Create(tasks_->Poster())) {
  events_.Write("engine created");
}

Engine::~Engine() {
  if (unsigned delay = options_.ShutdownMilliseconds(); delay > 0) ::Sleep(delay);
  Shutdown();
  messenger_->Release();
  events_.Write("engine destroyed");
}

void Engine::Shutdown() {
  if (shut_down_) return;
  shut_down_ = true;
  // Waits for a reply being sent under the messenger lock on another thread.
  messenger_->Shutdown();
  tasks_->Close();
  frame_callback_ = nullptr;
}

FlutterDesktopPluginRegistrarRef Engine::Registrar(const std::string& plugin_name) {
  std::unique_ptr<char>& registrar = registrars_[plugin_name];
  if (!registrar) registrar = std::make_unique<char>();
  const auto ref = reinterpret_cast<FlutterDesktopPluginRegistrarRef>(registrar.get());
  events_.Write("registrar " + plugin_name + " " + RegistrarText(ref));
  return ref;
}

bool Engine::ConsumesMessage(unsigned message) const {
  for (unsigned consumed : consumed_messages_) {
    if (consumed == message) {
      events_.Write("consumed " + std::to_string(message));
      return true;
    }
  }
  return false;
}

void Engine::ReloadSystemFonts() { events_.Write("fonts reloaded"); }

void Engine::SetNextFrameCallback(FlutterDesktopNextFrameCallback callback, void* user_data) {
  frame_callback_ = callback;
  frame_user_data_ = user_data;
}

void Engine::OnFrameDrawn() {
  FlutterDesktopNextFrameCallback callback = std::exchange(frame_callback_, nullptr);
  if (callback == nullptr) return;
  events_.Write("next-frame callback");
  callback(frame_user_data_);
}

std::unique_ptr<ViewController> ViewController::Create(int width, int height,
                                                       std::unique_ptr<Engine> engine) {
  std::unique_ptr<ViewController> controller(new ViewController());
  controller->engine_ = std::move(engine);
  controller->panel_ = PanelView::Create(width, height);
  if (!controller->panel_) return nullptr;
  controller->dart_ = std::make_unique<DartSide>(*controller->engine_, *controller->panel_);
  DartSide* dart = controller->dart_.get();
  controller->panel_->SetButtonHandler(
      [dart](const std::string& method, const std::string& path) { dart->OnButton(method, path); });
  controller->engine_->events().Write("engine running " + std::to_string(width) + "x" +
                                      std::to_string(height));
  dart->OnEngineStarted();
  controller->RequestFrame();
  return controller;
}

ViewController::~ViewController() {
  engine_->Shutdown();
  dart_.reset();
  panel_.reset();
  engine_.reset();
}

HWND ViewController::view_window() const { return panel_->window(); }

void ViewController::ObserveTopLevelMessage(UINT message, WPARAM wparam) const {
  if (message != WM_ACTIVATE) return;
  engine_->events().Write(LOWORD(wparam) == WA_INACTIVE ? "window deactivated"
                                                        : "window activated");
}

void ViewController::RequestFrame() {
  if (frame_pending_) return;
  frame_pending_ = true;
  engine_->tasks().Post([this] { DrawFrame(); });
}

void ViewController::DrawFrame() {
  frame_pending_ = false;
  panel_->RenderFrame(++frames_drawn_);
  engine_->events().Write("frame " + std::to_string(frames_drawn_));
  // The host's callback could destroy this controller from inside.
  std::weak_ptr<bool> alive = alive_;
  engine_->OnFrameDrawn();
  if (alive.expired()) return;
  if (frames_drawn_ == 1) dart_->OnFirstFrame();
}

}  // namespace velqa::standin
