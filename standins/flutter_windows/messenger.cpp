#include "standins/flutter_windows/messenger.h"

#include <utility>

#include "base/stderr_line.h"

namespace velqa::standin {

Messenger* Messenger::Create(Poster post) { return new Messenger(std::move(post)); }

void Messenger::AddRef() { references_.fetch_add(1, std::memory_order_relaxed); }

void Messenger::Release() {
  if (references_.fetch_sub(1, std::memory_order_acq_rel) == 1) delete this;
}

void Messenger::Lock() { engine_lock_.lock(); }

void Messenger::Unlock() { engine_lock_.unlock(); }

bool Messenger::IsAvailable() {
  std::lock_guard lock(state_mutex_);
  return available_;
}

void Messenger::Shutdown() {
  std::lock_guard engine(engine_lock_);
  std::map<const FlutterDesktopMessageResponseHandle*, std::unique_ptr<Pending>> dropped;
  {
    std::lock_guard lock(state_mutex_);
    available_ = false;
    post_ = nullptr;
    dart_listener_ = nullptr;
    dropped.swap(pending_);
  }
  callbacks_.clear();
}

bool Messenger::Post(Task task) {
  Poster post;
  {
    std::lock_guard lock(state_mutex_);
    post = post_;
  }
  return post && post(std::move(task));
}

void Messenger::SetCallback(const std::string& channel, FlutterDesktopMessageCallback callback,
                            void* user_data) {
  if (callback == nullptr) {
    callbacks_.erase(channel);
  } else {
    callbacks_[channel] = {callback, user_data};
  }
}

void Messenger::DeliverToHost(const std::string& channel, const std::vector<uint8_t>& message,
                              AnswerHandler on_answer) {
  auto found = callbacks_.find(channel);
  if (found == callbacks_.end()) {
    Post([on_answer = std::move(on_answer)] { on_answer({}); });
    return;
  }
  auto pending = std::make_unique<Pending>(Pending{std::move(on_answer)});
  // The record's address is the response handle: unique while it is pending.
  auto handle = reinterpret_cast<const FlutterDesktopMessageResponseHandle*>(pending.get());
  {
    std::lock_guard lock(state_mutex_);
    if (!available_) return;
    pending_.emplace(handle, std::move(pending));
  }
  Callback callback = found->second;
  FlutterDesktopMessage record{sizeof(FlutterDesktopMessage), channel.c_str(), message.data(),
                               message.size(), handle};
  callback.function(ref(), &record, callback.user_data);
}

bool Messenger::SendResponse(const FlutterDesktopMessageResponseHandle* handle, const uint8_t* data,
                             size_t size) {
  std::unique_ptr<Pending> pending;
  {
    std::lock_guard lock(state_mutex_);
    auto found = pending_.find(handle);
    if (found == pending_.end()) {
      base::WriteStderrLine(
          "flutter_windows stand-in: response for an unknown or used handle ignored");
      return false;
    }
    pending = std::move(found->second);
    pending_.erase(found);
  }
  std::vector<uint8_t> answer(data, data + (data != nullptr ? size : 0));
  return Post([pending = std::shared_ptr<Pending>(std::move(pending)), answer = std::move(answer)] {
    pending->on_answer(answer);
  });
}

bool Messenger::SendToDart(const std::string& channel, const uint8_t* data, size_t size,
                           FlutterDesktopBinaryReply reply, void* user_data) {
  const bool off_platform_thread = std::this_thread::get_id() != platform_thread_;
  std::vector<uint8_t> message(data, data + (data != nullptr ? size : 0));
  DartListener listener;
  {
    std::lock_guard lock(state_mutex_);
    listener = dart_listener_;
  }
  return Post([listener, channel, message = std::move(message), off_platform_thread, reply,
               user_data] {
    if (listener) listener(channel, message, off_platform_thread);
    if (reply != nullptr) reply(nullptr, 0, user_data);
  });
}

void Messenger::SetDartListener(DartListener listener) {
  std::lock_guard lock(state_mutex_);
  dart_listener_ = std::move(listener);
}

size_t Messenger::PendingAnswers() {
  std::lock_guard lock(state_mutex_);
  return pending_.size();
}

}  // namespace velqa::standin
