#include "tests/embedding/fake_embedding.h"

#include <cstring>
#include <memory>
#include <utility>

namespace velqa::testing {
namespace {

// Distinct addresses to stand for the embedding's objects.
char engine_object, controller_object, view_object, messenger_object, window_object;
std::map<std::string, char> registrar_objects;
std::vector<std::unique_ptr<char>> response_handles;

FakeEmbedding& fake() { return FakeEmbedding::Get(); }

std::wstring CopyWide(const wchar_t* text) { return text != nullptr ? text : L"(null)"; }

}  // namespace

FakeEmbedding& FakeEmbedding::Get() {
  static FakeEmbedding instance;
  return instance;
}

void FakeEmbedding::Reset() {
  std::lock_guard lock(mutex);
  engine_create_succeeds = controller_create_succeeds = true;
  handles_window_proc = false;
  window_proc_result = 0;
  send_with_reply_succeeds = true;
  lock_returns_null = false;
  events.clear();
  properties_bytes.clear();
  assets_path.clear();
  icu_data_path.clear();
  aot_library_path.clear();
  entrypoint.reset();
  arguments.reset();
  create_width = create_height = 0;
  controller_engine = nullptr;
  callbacks.clear();
  set_callback_calls.clear();
  responses.clear();
  // Recording an answer then needs no memory, also in the tests that make it
  // run out.
  responses.reserve(64);
  sent_messages.clear();
  pending_replies.clear();
  frame_callback = nullptr;
  frame_user_data = nullptr;
  messenger_refs = 0;
  available = true;
}

FlutterDesktopEngineRef FakeEmbedding::EngineHandle() {
  return reinterpret_cast<FlutterDesktopEngineRef>(&engine_object);
}
FlutterDesktopViewControllerRef FakeEmbedding::ControllerHandle() {
  return reinterpret_cast<FlutterDesktopViewControllerRef>(&controller_object);
}
FlutterDesktopViewRef FakeEmbedding::ViewHandle() {
  return reinterpret_cast<FlutterDesktopViewRef>(&view_object);
}
FlutterDesktopMessengerRef FakeEmbedding::MessengerHandle() {
  return reinterpret_cast<FlutterDesktopMessengerRef>(&messenger_object);
}
HWND FakeEmbedding::ViewWindow() { return reinterpret_cast<HWND>(&window_object); }
FlutterDesktopPluginRegistrarRef FakeEmbedding::RegistrarFor(const std::string& name) {
  return reinterpret_cast<FlutterDesktopPluginRegistrarRef>(&registrar_objects[name]);
}

std::vector<std::string> FakeEmbedding::Events() {
  std::lock_guard lock(mutex);
  return events;
}

void FakeEmbedding::Record(std::string event) {
  std::lock_guard lock(mutex);
  events.push_back(std::move(event));
}

const FlutterDesktopMessageResponseHandle* FakeEmbedding::Deliver(
    const std::string& channel, const std::vector<uint8_t>& bytes) {
  RegisteredCallback target{};
  const FlutterDesktopMessageResponseHandle* handle;
  {
    std::lock_guard lock(mutex);
    target = callbacks.at(channel);
    response_handles.push_back(std::make_unique<char>());
    handle =
        reinterpret_cast<const FlutterDesktopMessageResponseHandle*>(response_handles.back().get());
  }
  FlutterDesktopMessage message{sizeof(FlutterDesktopMessage), channel.c_str(), bytes.data(),
                                bytes.size(), handle};
  target.callback(MessengerHandle(), &message, target.user_data);
  return handle;
}

void FakeEmbedding::DrawFrame() {
  FlutterDesktopNextFrameCallback callback;
  void* user_data;
  {
    std::lock_guard lock(mutex);
    callback = std::exchange(frame_callback, nullptr);
    user_data = frame_user_data;
  }
  if (callback != nullptr) callback(user_data);
}

void FakeEmbedding::EndEngine() {
  std::lock_guard engine(engine_lock);
  std::lock_guard lock(mutex);
  available = false;
}

}  // namespace velqa::testing

using velqa::testing::fake;
using velqa::testing::FakeEmbedding;

extern "C" {

FlutterDesktopEngineRef FlutterDesktopEngineCreate(const FlutterDesktopEngineProperties* p) {
  std::lock_guard lock(fake().mutex);
  auto& f = fake();
  f.events.push_back("EngineCreate");
  const auto* raw = reinterpret_cast<const uint8_t*>(p);
  f.properties_bytes.assign(raw, raw + sizeof(*p));
  f.assets_path = velqa::testing::CopyWide(p->assets_path);
  f.icu_data_path = velqa::testing::CopyWide(p->icu_data_path);
  f.aot_library_path = velqa::testing::CopyWide(p->aot_library_path);
  if (p->dart_entrypoint != nullptr) f.entrypoint = p->dart_entrypoint;
  if (p->dart_entrypoint_argv != nullptr) {
    f.arguments.emplace();
    for (int i = 0; i < p->dart_entrypoint_argc; ++i) {
      f.arguments->push_back(p->dart_entrypoint_argv[i]);
    }
  }
  return f.engine_create_succeeds ? FakeEmbedding::EngineHandle() : nullptr;
}

bool FlutterDesktopEngineDestroy(FlutterDesktopEngineRef engine) {
  fake().Record(engine == FakeEmbedding::EngineHandle() ? "EngineDestroy" : "EngineDestroy(?)");
  fake().EndEngine();
  return true;
}

FlutterDesktopMessengerRef FlutterDesktopEngineGetMessenger(FlutterDesktopEngineRef engine) {
  fake().Record(engine == FakeEmbedding::EngineHandle() ? "EngineGetMessenger"
                                                        : "EngineGetMessenger(?)");
  return FakeEmbedding::MessengerHandle();
}

FlutterDesktopPluginRegistrarRef FlutterDesktopEngineGetPluginRegistrar(FlutterDesktopEngineRef,
                                                                        const char* plugin_name) {
  fake().Record(std::string("GetPluginRegistrar ") + plugin_name);
  return FakeEmbedding::RegistrarFor(plugin_name);
}

void FlutterDesktopEngineReloadSystemFonts(FlutterDesktopEngineRef) {
  fake().Record("ReloadSystemFonts");
}

void FlutterDesktopEngineSetNextFrameCallback(FlutterDesktopEngineRef,
                                              FlutterDesktopNextFrameCallback callback,
                                              void* user_data) {
  std::lock_guard lock(fake().mutex);
  fake().events.push_back("SetNextFrameCallback");
  fake().frame_callback = callback;
  fake().frame_user_data = user_data;
}

FlutterDesktopViewControllerRef FlutterDesktopViewControllerCreate(int width, int height,
                                                                   FlutterDesktopEngineRef engine) {
  std::lock_guard lock(fake().mutex);
  auto& f = fake();
  f.events.push_back("ViewControllerCreate");
  f.create_width = width;
  f.create_height = height;
  f.controller_engine = engine;
  return f.controller_create_succeeds ? FakeEmbedding::ControllerHandle() : nullptr;
}

void FlutterDesktopViewControllerDestroy(FlutterDesktopViewControllerRef) {
  fake().Record("ViewControllerDestroy");
  fake().EndEngine();
}

FlutterDesktopViewRef FlutterDesktopViewControllerGetView(FlutterDesktopViewControllerRef) {
  fake().Record("ViewControllerGetView");
  return FakeEmbedding::ViewHandle();
}

void FlutterDesktopViewControllerForceRedraw(FlutterDesktopViewControllerRef) {
  fake().Record("ForceRedraw");
}

bool FlutterDesktopViewControllerHandleTopLevelWindowProc(FlutterDesktopViewControllerRef, HWND,
                                                          UINT message, WPARAM, LPARAM,
                                                          LRESULT* result) {
  std::lock_guard lock(fake().mutex);
  fake().events.push_back("HandleTopLevelWindowProc " + std::to_string(message));
  if (!fake().handles_window_proc) return false;
  *result = fake().window_proc_result;
  return true;
}

HWND FlutterDesktopViewGetHWND(FlutterDesktopViewRef view) {
  return view == FakeEmbedding::ViewHandle() ? FakeEmbedding::ViewWindow() : nullptr;
}

void FlutterDesktopMessengerSetCallback(FlutterDesktopMessengerRef, const char* channel,
                                        FlutterDesktopMessageCallback callback, void* user_data) {
  std::lock_guard lock(fake().mutex);
  fake().set_callback_calls.emplace_back(channel, user_data);
  if (callback == nullptr) {
    fake().callbacks.erase(channel);
  } else {
    fake().callbacks[channel] = {callback, user_data};
  }
}

bool FlutterDesktopMessengerSend(FlutterDesktopMessengerRef, const char* channel,
                                 const uint8_t* message, size_t message_size) {
  std::lock_guard lock(fake().mutex);
  fake().events.push_back(std::string("Send ") + channel);
  fake().sent_messages.emplace_back(message, message + message_size);
  return true;
}

bool FlutterDesktopMessengerSendWithReply(FlutterDesktopMessengerRef, const char* channel,
                                          const uint8_t* message, size_t message_size,
                                          FlutterDesktopBinaryReply reply, void* user_data) {
  std::lock_guard lock(fake().mutex);
  fake().events.push_back(std::string("SendWithReply ") + channel);
  fake().sent_messages.emplace_back(message, message + message_size);
  if (!fake().send_with_reply_succeeds) return false;
  fake().pending_replies.push_back({reply, user_data});
  return true;
}

void FlutterDesktopMessengerSendResponse(FlutterDesktopMessengerRef,
                                         const FlutterDesktopMessageResponseHandle* handle,
                                         const uint8_t* data, size_t data_length) {
  bool under_lock = fake().lock_holder == std::this_thread::get_id();
  std::lock_guard lock(fake().mutex);
  fake().responses.push_back(
      {handle,
       data != nullptr ? std::vector<uint8_t>(data, data + data_length) : std::vector<uint8_t>{},
       data == nullptr, under_lock});
}

FlutterDesktopMessengerRef FlutterDesktopMessengerAddRef(FlutterDesktopMessengerRef messenger) {
  std::lock_guard lock(fake().mutex);
  ++fake().messenger_refs;
  return messenger;
}

void FlutterDesktopMessengerRelease(FlutterDesktopMessengerRef) {
  std::lock_guard lock(fake().mutex);
  --fake().messenger_refs;
}

FlutterDesktopMessengerRef FlutterDesktopMessengerLock(FlutterDesktopMessengerRef messenger) {
  if (fake().lock_returns_null) return nullptr;
  fake().engine_lock.lock();
  fake().lock_holder = std::this_thread::get_id();
  return messenger;
}

void FlutterDesktopMessengerUnlock(FlutterDesktopMessengerRef) {
  fake().lock_holder = std::thread::id();
  fake().engine_lock.unlock();
}

bool FlutterDesktopMessengerIsAvailable(FlutterDesktopMessengerRef) {
  std::lock_guard lock(fake().mutex);
  return fake().available;
}

UINT FlutterDesktopGetDpiForMonitor(HMONITOR) { return 96; }

void FlutterDesktopResyncOutputStreams(void) { fake().Record("ResyncOutputStreams"); }

}  // extern "C"
