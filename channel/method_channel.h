// A named channel carrying method calls from the Dart side to a handler, and
// each call's single answer back.
//
// A handler that throws is reported on standard error and its caller gets the
// error kHandlerFailedCode, unless the handler answered or handed its result
// on first; the exception goes no further.
//
// Thread safety: construct it and call SetMethodCallHandler on the platform
// thread; the handler runs there. Results may be answered on any thread.
#ifndef VELQA_CHANNEL_METHOD_CHANNEL_H_
#define VELQA_CHANNEL_METHOD_CHANNEL_H_

#include <cstddef>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <utility>

#include "channel/binary_messenger.h"
#include "channel/channel_diagnostics.h"
#include "channel/encodable_value.h"
#include "channel/engine_method_result.h"
#include "channel/method_call.h"
#include "channel/method_codec.h"
#include "channel/method_result.h"

namespace flutter {

// Handles one call; the call lives for the duration of the handler only, the
// result as long as the handler keeps it. May be empty.
template <typename T = EncodableValue>
using MethodCallHandler =
    std::function<void(const MethodCall<T>& call, std::unique_ptr<MethodResult<T>> result)>;

template <typename T = EncodableValue>
class MethodChannel {
 public:
  // `messenger` and `codec` must outlive the channel and its handler.
  MethodChannel(BinaryMessenger* messenger, const std::string& name, const MethodCodec<T>* codec)
      : messenger_(messenger), name_(name), codec_(codec) {}
  ~MethodChannel() = default;

  MethodChannel(const MethodChannel&) = delete;
  MethodChannel& operator=(const MethodChannel&) = delete;

  const std::string& name() const { return name_; }

  // Installs `handler` on the messenger for this channel's name, replacing any
  // earlier one; an empty handler removes it. The handler stays installed when
  // the channel object goes away.
  void SetMethodCallHandler(MethodCallHandler<T> handler) const {
    if (!handler) {
      messenger_->SetMessageHandler(name_, nullptr);
      return;
    }
    messenger_->SetMessageHandler(
        name_, [handler = std::move(handler), codec = codec_, channel_name = name_](
                   const uint8_t* message, size_t message_size, BinaryReply reply) {
          // Shared with the result, so that a handler that throws is answered
          // here, and only when its result went with the unwinding: a result
          // it handed on stays its new holder's to answer or to drop.
          auto state = std::make_shared<internal::MethodReplyState>(std::move(reply));
          try {
            // The result exists before decoding so that every message is answered.
            auto result = std::make_unique<EngineMethodResult<T>>(state, codec);
            std::unique_ptr<MethodCall<T>> call = codec->DecodeMethodCall(message, message_size);
            if (!call) {
              internal::ReportUnconstructableMethodCall(channel_name);
              result->NotImplemented();
              return;
            }
            handler(*call, std::move(result));
            return;
          } catch (const std::exception& e) {
            internal::ReportHandlerFailure(e.what());
          } catch (...) {
            internal::ReportHandlerFailure();
          }
          internal::AnswerFailedHandler(*state, *codec);
        });
  }

 private:
  BinaryMessenger* messenger_;
  std::string name_;
  const MethodCodec<T>* codec_;
};

}  // namespace flutter

#endif  // VELQA_CHANNEL_METHOD_CHANNEL_H_
