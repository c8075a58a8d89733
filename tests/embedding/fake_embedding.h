// A recording fake of the embedding's C interface (channel/embedding_api.h),
// linked into the unit tests in place of flutter_windows.dll. It records every
// call in order, copies what it is handed, and lets a test play the engine's
// part: deliver messages, draw frames, end the engine.
//
// Threads: the messenger entry points may be called from any thread; the
// state they touch is guarded by `mutex`. Tests configure the fake before use.
#ifndef VELQA_TESTS_EMBEDDING_FAKE_EMBEDDING_H_
#define VELQA_TESTS_EMBEDDING_FAKE_EMBEDDING_H_

#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "channel/embedding_api.h"

namespace velqa::testing {

struct SentResponse {
  const FlutterDesktopMessageResponseHandle* handle;
  std::vector<uint8_t> bytes;
  bool data_was_null;
  bool under_lock;  // the sender held the messenger lock
};

struct RegisteredCallback {
  FlutterDesktopMessageCallback callback;
  void* user_data;
};

struct PendingReply {
  FlutterDesktopBinaryReply reply;
  void* user_data;
};

class FakeEmbedding {
 public:
  static FakeEmbedding& Get();
  // Back to a fresh, running engine with nothing recorded.
  void Reset();

  // Fixed handles the fake hands out.
  static FlutterDesktopEngineRef EngineHandle();
  static FlutterDesktopViewControllerRef ControllerHandle();
  static FlutterDesktopViewRef ViewHandle();
  static FlutterDesktopMessengerRef MessengerHandle();
  static HWND ViewWindow();
  static FlutterDesktopPluginRegistrarRef RegistrarFor(const std::string& name);

  std::vector<std::string> Events();
  void Record(std::string event);

  // Plays the engine: calls the channel's registered callback with a fresh
  // response handle, which it returns. Platform thread.
  const FlutterDesktopMessageResponseHandle* Deliver(const std::string& channel,
                                                     const std::vector<uint8_t>& bytes);
  // Plays a frame: runs and forgets the registered next-frame callback.
  void DrawFrame();
  // Marks the engine gone, as its destruction would.
  void EndEngine();

  std::mutex mutex;
  // Configuration.
  bool engine_create_succeeds = true;
  bool controller_create_succeeds = true;
  bool handles_window_proc = false;
  LRESULT window_proc_result = 0;
  bool send_with_reply_succeeds = true;
  bool lock_returns_null = false;
  // Recorded.
  std::vector<std::string> events;
  std::vector<uint8_t> properties_bytes;  // the record exactly as handed over
  std::wstring assets_path, icu_data_path, aot_library_path;
  std::optional<std::string> entrypoint;              // nullopt when a null pointer came
  std::optional<std::vector<std::string>> arguments;  // nullopt for a null array
  int create_width = 0, create_height = 0;
  FlutterDesktopEngineRef controller_engine = nullptr;
  std::map<std::string, RegisteredCallback> callbacks;
  std::vector<std::pair<std::string, void*>> set_callback_calls;
  std::vector<SentResponse> responses;
  std::vector<std::vector<uint8_t>> sent_messages;
  std::vector<PendingReply> pending_replies;
  FlutterDesktopNextFrameCallback frame_callback = nullptr;
  void* frame_user_data = nullptr;
  int messenger_refs = 0;  // AddRef minus Release
  bool available = true;

  // The messenger lock itself: held between Lock and Unlock.
  std::mutex engine_lock;
  std::atomic<std::thread::id> lock_holder;
};

}  // namespace velqa::testing

#endif  // VELQA_TESTS_EMBEDDING_FAKE_EMBEDDING_H_
