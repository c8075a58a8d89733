#include "channel/binary_messenger_impl.h"

#include <atomic>
#include <cstddef>
#include <exception>
#include <memory>
#include <string>
#include <utility>

#include "base/stderr_line.h"
#include "channel/channel_diagnostics.h"

namespace flutter {
namespace {

// The embedding hands over a record of 8-byte fields and the trampoline reads
// the third, fourth and fifth of them.
static_assert(sizeof(void*) != 8 || offsetof(FlutterDesktopMessage, message) == 16);
static_assert(sizeof(void*) != 8 || offsetof(FlutterDesktopMessage, message_size) == 24);
static_assert(sizeof(void*) != 8 || offsetof(FlutterDesktopMessage, response_handle) == 32);

// The answer side of one incoming message. Every copy of the reply closure
// shares this one object, so the handle can be used only once however the
// closure travels, and the messenger reference is released with the last copy.
struct PendingResponse {
  PendingResponse(std::shared_ptr<FlutterDesktopMessenger> retained,
                  const FlutterDesktopMessageResponseHandle* response_handle)
      : messenger(std::move(retained)), handle(response_handle) {}

  std::shared_ptr<FlutterDesktopMessenger> messenger;
  // Read and written only under the messenger lock; null once used.
  const FlutterDesktopMessageResponseHandle* handle;
  // How many copies of the reply closure exist. Each copy's end is a release,
  // so a reader that sees 0 (acquire) sees everything the copies did.
  std::atomic<int> closures{0};
};

// Releases the embedding's messenger when the last reference goes; shared_ptr
// counts atomically, so closures may die on any thread.
std::shared_ptr<FlutterDesktopMessenger> RetainMessenger(FlutterDesktopMessengerRef messenger) {
  return std::shared_ptr<FlutterDesktopMessenger>(
      FlutterDesktopMessengerAddRef(messenger),
      [](FlutterDesktopMessengerRef m) { FlutterDesktopMessengerRelease(m); });
}

// What an answer through a handle that is already used means.
enum class OnUsedHandle { kReportDuplicate, kStaySilent };

void Respond(FlutterDesktopMessengerRef messenger,
             const FlutterDesktopMessageResponseHandle*& handle, const uint8_t* reply,
             size_t reply_size, OnUsedHandle on_used) {
  // The lock keeps the engine from going away between the availability test
  // and the send, and orders the uses of the handle across threads.
  FlutterDesktopMessengerRef locked = FlutterDesktopMessengerLock(messenger);
  if (!FlutterDesktopMessengerIsAvailable(messenger)) {
    // The engine has ended; the Dart side is gone and waits for nothing.
  } else if (handle == nullptr) {
    if (on_used == OnUsedHandle::kReportDuplicate) {
      velqa::base::WriteStderrLine(
          "Error: Response can be set only once. Ignoring duplicate response.");
    }
  } else {
    FlutterDesktopMessengerSendResponse(messenger, handle, reply, reply_size);
    handle = nullptr;
  }
  if (locked != nullptr) FlutterDesktopMessengerUnlock(locked);
}

// The BinaryReply of one message. Its copies are counted, so that the
// trampoline knows for certain when no one but itself can answer any more.
class ReplyClosure {
 public:
  explicit ReplyClosure(std::shared_ptr<PendingResponse> pending) : pending_(std::move(pending)) {
    pending_->closures.fetch_add(1, std::memory_order_relaxed);
  }
  ReplyClosure(const ReplyClosure& other) : pending_(other.pending_) {
    if (pending_ != nullptr) pending_->closures.fetch_add(1, std::memory_order_relaxed);
  }
  ReplyClosure(ReplyClosure&& other) noexcept = default;  // leaves `other` uncounted
  ReplyClosure& operator=(const ReplyClosure&) = delete;
  ReplyClosure& operator=(ReplyClosure&&) = delete;
  ~ReplyClosure() {
    if (pending_ != nullptr) pending_->closures.fetch_sub(1, std::memory_order_release);
  }

  void operator()(const uint8_t* bytes, size_t size) const {
    Respond(pending_->messenger.get(), pending_->handle, bytes, size,
            OnUsedHandle::kReportDuplicate);
  }

 private:
  std::shared_ptr<PendingResponse> pending_;
};

// After a handler has thrown: the Dart caller still waits, so it gets the empty
// (not implemented) answer, unless it has been answered or a copy of the reply
// lives on elsewhere and may still answer. Only the empty answer is neutral to
// every codec; a method channel answers with an error envelope itself. Whether
// the message is still unanswered is decided under the messenger lock, where
// every other answer is given.
void AnswerAbandonedMessage(FlutterDesktopMessengerRef messenger,
                            const FlutterDesktopMessage* message, PendingResponse* pending) {
  if (pending == nullptr) {
    // Failed before the handler ran; the handle was never handed out.
    const FlutterDesktopMessageResponseHandle* handle = message->response_handle;
    Respond(messenger, handle, nullptr, 0, OnUsedHandle::kStaySilent);
  } else if (pending->closures.load(std::memory_order_acquire) == 0) {
    Respond(pending->messenger.get(), pending->handle, nullptr, 0, OnUsedHandle::kStaySilent);
  }
}

// Called by the embedding on the platform thread for every message of a
// channel with a handler; user_data is the handler's map entry. Nothing in
// the catch blocks allocates: the exception may be std::bad_alloc.
void MessageTrampoline(FlutterDesktopMessengerRef messenger, const FlutterDesktopMessage* message,
                       void* user_data) {
  std::shared_ptr<PendingResponse> pending;
  try {
    // A copy: the handler may remove or replace itself, which must not free
    // it while it runs.
    const auto handler =
        *static_cast<const std::shared_ptr<const BinaryMessageHandler>*>(user_data);
    pending = std::make_shared<PendingResponse>(RetainMessenger(messenger),
                                                message->response_handle);
    (*handler)(message->message, message->message_size, BinaryReply(ReplyClosure(pending)));
    return;
  } catch (const std::exception& e) {
    internal::ReportHandlerFailure(e.what());
  } catch (...) {
    internal::ReportHandlerFailure();
  }
  AnswerAbandonedMessage(messenger, message, pending.get());
}

// Called by the embedding once per successful SendWithReply.
void ReplyTrampoline(const uint8_t* data, size_t data_size, void* user_data) {
  std::unique_ptr<BinaryReply> holder(static_cast<BinaryReply*>(user_data));
  try {
    (*holder)(data, data_size);
  } catch (const std::exception& e) {
    velqa::base::WriteStderrLine("Reply handler failed: ", e.what());
  } catch (...) {
    velqa::base::WriteStderrLine("Reply handler failed with an unknown exception.");
  }
}

}  // namespace

BinaryMessengerImpl::BinaryMessengerImpl(FlutterDesktopMessengerRef messenger)
    : messenger_(messenger) {}

BinaryMessengerImpl::~BinaryMessengerImpl() = default;

void BinaryMessengerImpl::Send(const std::string& channel, const uint8_t* message,
                               size_t message_size, BinaryReply reply) {
  if (messenger_ == nullptr) return;
  if (!reply) {
    FlutterDesktopMessengerSend(messenger_, channel.c_str(), message, message_size);
    return;
  }
  auto holder = std::make_unique<BinaryReply>(std::move(reply));
  if (FlutterDesktopMessengerSendWithReply(messenger_, channel.c_str(), message, message_size,
                                           &ReplyTrampoline, holder.get())) {
    holder.release();  // The embedding owns it until the reply trampoline runs.
  }
}

void BinaryMessengerImpl::SetMessageHandler(const std::string& channel,
                                            BinaryMessageHandler handler) {
  if (!handler) {
    handlers_.erase(channel);
    if (messenger_ != nullptr) {
      FlutterDesktopMessengerSetCallback(messenger_, channel.c_str(), nullptr, nullptr);
    }
    return;
  }
  SharedHandler& stored = handlers_[channel];
  stored = std::make_shared<const BinaryMessageHandler>(std::move(handler));
  if (messenger_ != nullptr) {
    FlutterDesktopMessengerSetCallback(messenger_, channel.c_str(), &MessageTrampoline, &stored);
  }
}

}  // namespace flutter
