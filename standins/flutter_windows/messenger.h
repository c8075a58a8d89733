// The stand-in engine's messenger: what the host sees as
// FlutterDesktopMessengerRef. Reference counted; its lock keeps the engine
// from ending while held; delivers the Dart side's messages to the host's
// per-channel callbacks on the platform thread and carries the answers back.
//
// Threads: SetCallback, SetDartListener and DeliverToHost on the platform
// thread (the thread that created it); AddRef, Release, Lock, Unlock,
// IsAvailable and SendResponse on any thread. SendToDart belongs on the
// platform thread as in the real embedding, but is taken from any thread so
// that a host sending from elsewhere is caught: the listener hears of it.
// Answers and messages reach the Dart side through `post`, on the platform
// thread.
#ifndef VELQA_STANDINS_FLUTTER_WINDOWS_MESSENGER_H_
#define VELQA_STANDINS_FLUTTER_WINDOWS_MESSENGER_H_

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "channel/embedding_api.h"

namespace velqa::standin {

class Messenger {
 public:
  using Task = std::function<void()>;
  // Runs a task later on the platform thread; false once the engine ends.
  using Poster = std::function<bool(Task)>;
  using AnswerHandler = std::function<void(const std::vector<uint8_t>& answer)>;
  // Hears every message the host sends to the Dart side, on the platform
  // thread; `off_platform_thread` tells that the host sent it from another.
  using DartListener = std::function<void(const std::string& channel,
                                          const std::vector<uint8_t>& message,
                                          bool off_platform_thread)>;

  // Starts with one reference, the engine's.
  static Messenger* Create(Poster post);

  static Messenger* From(FlutterDesktopMessengerRef ref) {
    return reinterpret_cast<Messenger*>(ref);
  }
  FlutterDesktopMessengerRef ref() { return reinterpret_cast<FlutterDesktopMessengerRef>(this); }

  void AddRef();
  void Release();  // frees the messenger with the last reference
  void Lock();
  void Unlock();
  bool IsAvailable();
  // The engine ends: waits for a held lock, then answers nothing more and
  // forgets the callbacks and the unanswered messages.
  void Shutdown();

  void SetCallback(const std::string& channel, FlutterDesktopMessageCallback callback,
                   void* user_data);
  // Hands a Dart message to the host's callback for `channel`; `on_answer`
  // runs later on the platform thread with the answer (empty when nobody
  // listens on the channel, or for an empty answer).
  void DeliverToHost(const std::string& channel, const std::vector<uint8_t>& message,
                     AnswerHandler on_answer);
  // False for a handle that is unknown or already answered.
  bool SendResponse(const FlutterDesktopMessageResponseHandle* handle, const uint8_t* data,
                    size_t size);
  // A host message for the Dart side: the listener hears it, and `reply`
  // (may be null) gets an empty answer, as the scripted Dart side answers no
  // message. False once the engine has ended.
  bool SendToDart(const std::string& channel, const uint8_t* data, size_t size,
                  FlutterDesktopBinaryReply reply, void* user_data);
  void SetDartListener(DartListener listener);

  // Messages delivered and not answered yet.
  size_t PendingAnswers();

 private:
  struct Callback {
    FlutterDesktopMessageCallback function;
    void* user_data;
  };
  struct Pending {
    AnswerHandler on_answer;
  };

  explicit Messenger(Poster post)
      : post_(std::move(post)), platform_thread_(std::this_thread::get_id()) {}
  ~Messenger() = default;
  bool Post(Task task);

  std::atomic<int> references_{1};
  std::mutex engine_lock_;  // held between Lock and Unlock, and by Shutdown
  std::mutex state_mutex_;  // guards the fields below
  bool available_ = true;
  Poster post_;
  std::map<const FlutterDesktopMessageResponseHandle*, std::unique_ptr<Pending>> pending_;
  std::map<std::string, Callback> callbacks_;  // platform thread only
  DartListener dart_listener_;                 // under state_mutex_
  const std::thread::id platform_thread_;
};

}  // namespace velqa::standin

#endif  // VELQA_STANDINS_FLUTTER_WINDOWS_MESSENGER_H_
