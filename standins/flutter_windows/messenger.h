// The stand-in engine's messenger: what the host sees as
// FlutterDesktopMessengerRef. Reference counted; its lock keeps the engine
// from ending while held; delivers the Dart side's messages to the host's
// per-channel callbacks on the platform thread and carries the answers back.
//
// Threads: SetCallback, DeliverToHost and SendToDart on the platform thread;
// AddRef, Release, Lock, Unlock, IsAvailable and SendResponse on any thread.
// Answers reach the Dart side through `post`, on the platform thread.
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
#include <vector>

#include "channel/embedding_api.h"

namespace velqa::standin {

class Messenger {
 public:
  using Task = std::function<void()>;
  // Runs a task later on the platform thread; false once the engine ends.
  using Poster = std::function<bool(Task)>;
  using AnswerHandler = std::function<void(const std::vector<uint8_t>& answer)>;

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
  // A host message for the Dart side. The scripted Dart side listens on no
  // channel, so the answer is empty, as for any channel without a listener.
  bool SendToDart(FlutterDesktopBinaryReply reply, void* user_data);

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

  explicit Messenger(Poster post) : post_(std::move(post)) {}
  ~Messenger() = default;
  bool Post(Task task);

  std::atomic<int> references_{1};
  std::mutex engine_lock_;  // held between Lock and Unlock, and by Shutdown
  std::mutex state_mutex_;  // guards the fields below
  bool available_ = true;
  Poster post_;
  std::map<const FlutterDesktopMessageResponseHandle*, std::unique_ptr<Pending>> pending_;
  std::map<std::string, Callback> callbacks_;  // platform thread only
};

}  // namespace velqa::standin

#endif  // VELQA_STANDINS_FLUTTER_WINDOWS_MESSENGER_H_
