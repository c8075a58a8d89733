#include "channel/binary_messenger_impl.h"

#include <cstddef>
#include <exception>
#include <memory>
#include <string>
#include <utility>

#include "channel/error_line.h"

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
  std::shared_ptr<FlutterDesktopMessenger> messenger;
  const FlutterDesktopMessageResponseHandle* handle;
};

// Releases the embedding's messenger when the last reference goes; shared_ptr
// counts atomically, so closures may die on any thread.
std::shared_ptr<FlutterDesktopMessenger> RetainMessenger(FlutterDesktopMessengerRef messenger) {
  return std::shared_ptr<FlutterDesktopMessenger>(
      FlutterDesktopMessengerAddRef(messenger),
      [](FlutterDesktopMessengerRef m) { FlutterDesktopMessengerRelease(m); });
}

void Respond(PendingResponse& pending, const uint8_t* reply, size_t reply_size) {
  FlutterDesktopMessengerRef messenger = pending.messenger.get();
  // The lock keeps the engine from going away between the availability test
  // and the send.
  FlutterDesktopMessengerRef locked = FlutterDesktopMessengerLock(messenger);
  if (!FlutterDesktopMessengerIsAvailable(messenger)) {
    // The engine has ended; the Dart side is gone and waits for nothing.
  } else if (pending.handle == nullptr) {
    internal::WriteErrorLine("Error: Response can be set only once. Ignoring duplicate response.");
  } else {
    FlutterDesktopMessengerSendResponse(messenger, pending.handle, reply, reply_size);
    pending.handle = nullptr;
  }
  if (locked != nullptr) FlutterDesktopMessengerUnlock(locked);
}

// Called by the embedding on the platform thread for every message of a
// channel with a handler; user_data is the stored handler.
void MessageTrampoline(FlutterDesktopMessengerRef messenger, const FlutterDesktopMessage* message,
                       void* user_data) {
  try {
    auto pending = std::make_shared<PendingResponse>(
        PendingResponse{RetainMessenger(messenger), message->response_handle});
    BinaryReply reply = [pending](const uint8_t* bytes, size_t size) {
      Respond(*pending, bytes, size);
    };
    const auto& handler = *static_cast<const BinaryMessageHandler*>(user_data);
    handler(message->message, message->message_size, std::move(reply));
  } catch (const std::exception& e) {
    internal::WriteErrorLine(std::string("Message handler failed: ") + e.what());
  } catch (...) {
    internal::WriteErrorLine("Message handler failed with an unknown exception.");
  }
}

// Called by the embedding once per successful SendWithReply.
void ReplyTrampoline(const uint8_t* data, size_t data_size, void* user_data) {
  std::unique_ptr<BinaryReply> holder(static_cast<BinaryReply*>(user_data));
  try {
    (*holder)(data, data_size);
  } catch (const std::exception& e) {
    internal::WriteErrorLine(std::string("Reply handler failed: ") + e.what());
  } catch (...) {
    internal::WriteErrorLine("Reply handler failed with an unknown exception.");
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
  BinaryMessageHandler& stored = handlers_[channel];
  stored = std::move(handler);
  if (messenger_ != nullptr) {
    FlutterDesktopMessengerSetCallback(messenger_, channel.c_str(), &MessageTrampoline, &stored);
  }
}

}  // namespace flutter
