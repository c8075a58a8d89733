// The method result handed to channel handlers: encodes the answer with the
// channel's codec and sends it through the messenger's reply, once. The reply
// state is shared with the channel's handler wrapper, which answers the error
// kHandlerFailedCode when a handler throws and its result is gone unanswered.
//
// Thread safety: may be answered and destroyed on any thread, but not answered
// from two threads at the same time (the used state is not locked).
#ifndef VELQA_CHANNEL_ENGINE_METHOD_RESULT_H_
#define VELQA_CHANNEL_ENGINE_METHOD_RESULT_H_

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "channel/binary_messenger.h"
#include "channel/encodable_value.h"
#include "channel/method_codec.h"
#include "channel/method_result.h"

namespace flutter {

// Sends at most one answer through a BinaryReply. A second answer is ignored
// with a diagnostic; destruction without an answer reports the leak.
class SingleReply {
 public:
  explicit SingleReply(BinaryReply reply);
  ~SingleReply();

  SingleReply(const SingleReply&) = delete;
  SingleReply& operator=(const SingleReply&) = delete;

  // Sends `data` (null or empty: an empty answer with a null pointer).
  void SendResponseData(const std::vector<uint8_t>* data);

  bool answered() const { return answered_; }

 private:
  BinaryReply reply_;
  bool answered_ = false;
};

// The error a channel answers for a handler that threw and left its result
// unanswered.
inline constexpr char kHandlerFailedCode[] = "HANDLER_EXCEPTION";
inline constexpr char kHandlerFailedMessage[] = "The native method handler failed.";

namespace internal {

// What one call's result shares with the channel's handler wrapper: the reply,
// which reports the leak when the last of the two lets go of it unanswered,
// and whether the result still exists.
struct MethodReplyState {
  explicit MethodReplyState(BinaryReply reply) : reply(std::move(reply)) {}

  SingleReply reply;
  // Set while a result exists: cleared (release) when it is destroyed, on
  // whatever thread, so the wrapper that reads it cleared (acquire) sees every
  // answer it gave. A result that could not even be made counts as gone.
  std::atomic<bool> result_alive{false};
};

// Called by the wrapper after the handler has thrown, on the platform thread.
// When the result is gone unanswered, nobody else can answer: the error goes
// out, or the empty answer when even that cannot be made (memory has run
// out). A result that still exists is left to whoever holds it.
template <typename T>
void AnswerFailedHandler(MethodReplyState& state, const MethodCodec<T>& codec) noexcept {
  if (state.result_alive.load(std::memory_order_acquire) || state.reply.answered()) return;
  try {
    auto data = codec.EncodeErrorEnvelope(kHandlerFailedCode, kHandlerFailedMessage);
    state.reply.SendResponseData(data.get());
    return;
  } catch (...) {
  }
  if (state.reply.answered()) return;
  try {
    state.reply.SendResponseData(nullptr);
  } catch (...) {
  }
}

}  // namespace internal

template <typename T = EncodableValue>
class EngineMethodResult : public MethodResult<T> {
 public:
  // A result whose reply state the caller keeps a share of; `codec` encodes
  // the answers and must outlive the result.
  EngineMethodResult(std::shared_ptr<internal::MethodReplyState> state, const MethodCodec<T>* codec)
      : state_(std::move(state)), codec_(codec) {
    state_->result_alive.store(true, std::memory_order_relaxed);
  }

  ~EngineMethodResult() override { state_->result_alive.store(false, std::memory_order_release); }

 protected:
  void SuccessInternal(const T* result) override {
    auto data = codec_->EncodeSuccessEnvelope(result);
    state_->reply.SendResponseData(data.get());
  }

  void ErrorInternal(const std::string& error_code, const std::string& error_message,
                     const T* error_details) override {
    auto data = codec_->EncodeErrorEnvelope(error_code, error_message, error_details);
    state_->reply.SendResponseData(data.get());
  }

  void NotImplementedInternal() override { state_->reply.SendResponseData(nullptr); }

 private:
  std::shared_ptr<internal::MethodReplyState> state_;
  const MethodCodec<T>* codec_;
};

}  // namespace flutter

#endif  // VELQA_CHANNEL_ENGINE_METHOD_RESULT_H_
