// The method result handed to channel handlers: encodes the answer with the
// channel's codec and sends it through the messenger's reply, once. A result
// that an exception destroys unanswered (a handler that threw) answers the
// error kHandlerFailedCode itself, so the Dart caller is not left waiting.
//
// Thread safety: may be answered on any thread, but not from two threads at
// the same time (the used state is not locked).
#ifndef VELQA_CHANNEL_ENGINE_METHOD_RESULT_H_
#define VELQA_CHANNEL_ENGINE_METHOD_RESULT_H_

#include <cstdint>
#include <exception>
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

// The error a result answers when an exception destroys it unanswered.
inline constexpr char kHandlerFailedCode[] = "HANDLER_EXCEPTION";
inline constexpr char kHandlerFailedMessage[] = "The native method handler failed.";

template <typename T = EncodableValue>
class EngineMethodResult : public MethodResult<T> {
 public:
  // `codec` encodes the answers and must outlive the result.
  EngineMethodResult(BinaryReply reply, const MethodCodec<T>* codec)
      : reply_manager_(std::move(reply)), codec_(codec) {}

  ~EngineMethodResult() override {
    // More exceptions in flight than at construction: this result is being
    // unwound, not dropped by a handler that chose not to answer.
    if (!reply_manager_.answered() && std::uncaught_exceptions() > exceptions_at_creation_) {
      AnswerHandlerFailure();
    }
  }

 protected:
  void SuccessInternal(const T* result) override {
    auto data = codec_->EncodeSuccessEnvelope(result);
    reply_manager_.SendResponseData(data.get());
  }

  void ErrorInternal(const std::string& error_code, const std::string& error_message,
                     const T* error_details) override {
    auto data = codec_->EncodeErrorEnvelope(error_code, error_message, error_details);
    reply_manager_.SendResponseData(data.get());
  }

  void NotImplementedInternal() override { reply_manager_.SendResponseData(nullptr); }

 private:
  // Runs during unwinding, so nothing may escape. When the error envelope
  // cannot be made, the empty answer still releases the caller.
  void AnswerHandlerFailure() noexcept {
    try {
      EngineMethodResult::ErrorInternal(kHandlerFailedCode, kHandlerFailedMessage, nullptr);
    } catch (...) {
    }
    if (reply_manager_.answered()) return;
    try {
      reply_manager_.SendResponseData(nullptr);
    } catch (...) {
    }
  }

  SingleReply reply_manager_;
  const MethodCodec<T>* codec_;
  const int exceptions_at_creation_ = std::uncaught_exceptions();
};

}  // namespace flutter

#endif  // VELQA_CHANNEL_ENGINE_METHOD_RESULT_H_
