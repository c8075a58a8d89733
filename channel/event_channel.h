// A named channel on which the native side sends a stream of events to the
// Dart side while the Dart side listens. The Dart side's "listen" call starts
// the stream and "cancel" ends it; both are answered with a success envelope
// (or the handler's error). Each event goes out as a success envelope, an
// error as an error envelope, the end of the stream as an empty message.
//
// Threads: construct it, call SetStreamHandler and use the sinks on the
// platform thread; the handler runs there.
#ifndef VELQA_CHANNEL_EVENT_CHANNEL_H_
#define VELQA_CHANNEL_EVENT_CHANNEL_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "channel/binary_messenger.h"
#include "channel/channel_diagnostics.h"
#include "channel/encodable_value.h"
#include "channel/event_sink.h"
#include "channel/method_call.h"
#include "channel/method_codec.h"
#include "channel/stream_handler.h"

namespace flutter {

template <typename T = EncodableValue>
class EventChannel {
 public:
  // `messenger` and `codec` must outlive the channel, its handler and every
  // sink it hands out.
  EventChannel(BinaryMessenger* messenger, const std::string& name, const MethodCodec<T>* codec)
      : messenger_(messenger), name_(name), codec_(codec) {}
  ~EventChannel() = default;

  EventChannel(const EventChannel&) = delete;
  EventChannel& operator=(const EventChannel&) = delete;

  const std::string& name() const { return name_; }

  // Installs `handler` on the messenger for this channel's name, replacing
  // any earlier one (whose sink, if a stream is open, goes quiet; that
  // handler is gone with it and hears nothing more); null removes it. The messenger keeps the handler alive while it is installed.
  void SetStreamHandler(std::unique_ptr<StreamHandler<T>> handler) {
    if (!handler) {
      messenger_->SetMessageHandler(name_, nullptr);
      return;
    }
    auto stream = std::make_shared<Stream>(messenger_, name_, codec_, std::move(handler));
    messenger_->SetMessageHandler(
        name_, [stream](const uint8_t* message, size_t message_size, BinaryReply reply) {
          stream->OnMessage(message, message_size, std::move(reply));
        });
  }

 private:
  // One listen's sink. A sink whose stream was cancelled (or listened to
  // again) sends nothing: `open` is shared with the stream.
  class ChannelSink : public EventSink<T> {
   public:
    ChannelSink(BinaryMessenger* messenger, std::string name, const MethodCodec<T>* codec,
                std::shared_ptr<const bool> open)
        : messenger_(messenger), name_(std::move(name)), codec_(codec), open_(std::move(open)) {}

   protected:
    void SuccessInternal(const T* event) override { Send(codec_->EncodeSuccessEnvelope(event)); }
    void ErrorInternal(const std::string& code, const std::string& message,
                       const T* details) override {
      Send(codec_->EncodeErrorEnvelope(code, message, details));
    }
    void EndOfStreamInternal() override {
      if (*open_) messenger_->Send(name_, nullptr, 0, nullptr);
    }

   private:
    void Send(const std::unique_ptr<std::vector<uint8_t>>& bytes) {
      if (*open_) messenger_->Send(name_, bytes->data(), bytes->size(), nullptr);
    }

    BinaryMessenger* messenger_;
    std::string name_;
    const MethodCodec<T>* codec_;
    std::shared_ptr<const bool> open_;
  };

  // What the installed message handler holds: the stream handler and
  // whether a stream is open.
  struct Stream {
    Stream(BinaryMessenger* messenger, std::string name, const MethodCodec<T>* codec,
           std::unique_ptr<StreamHandler<T>> handler)
        : messenger(messenger), name(std::move(name)), codec(codec), handler(std::move(handler)) {}
    ~Stream() { Close(); }

    void OnMessage(const uint8_t* message, size_t message_size, BinaryReply reply) {
      std::unique_ptr<MethodCall<T>> call = codec->DecodeMethodCall(message, message_size);
      if (!call) {
        internal::ReportUnconstructableMethodCall(name);
        reply(nullptr, 0);
        return;
      }
      std::unique_ptr<StreamHandlerError<T>> error;
      if (call->method_name() == "listen") {
        // A listen without a cancel before it replaces the stream: the old
        // sink goes quiet and the handler hears of it first.
        if (Close()) handler->OnCancel(nullptr);
        auto is_open = std::make_shared<bool>(true);
        open = is_open;
        try {
          error = handler->OnListen(call->arguments(),
                                    std::make_unique<ChannelSink>(messenger, name, codec, is_open));
        } catch (...) {
          // No stream was started: a sink the handler kept stays quiet.
          Close();
          throw;
        }
        if (error) Close();
      } else if (call->method_name() == "cancel") {
        if (Close()) error = handler->OnCancel(call->arguments());
      } else {
        reply(nullptr, 0);
        return;
      }
      const std::unique_ptr<std::vector<uint8_t>> answer =
          error ? codec->EncodeErrorEnvelope(error->error_code, error->error_message,
                                             error->error_details.get())
                : codec->EncodeSuccessEnvelope(nullptr);
      reply(answer->data(), answer->size());
    }

    // True when a stream was open.
    bool Close() {
      if (!open) return false;
      *open = false;
      open.reset();
      return true;
    }

    BinaryMessenger* messenger;
    std::string name;
    const MethodCodec<T>* codec;
    std::unique_ptr<StreamHandler<T>> handler;
    std::shared_ptr<bool> open;  // null while nobody listens
  };

  BinaryMessenger* messenger_;
  std::string name_;
  const MethodCodec<T>* codec_;
};

}  // namespace flutter

#endif  // VELQA_CHANNEL_EVENT_CHANNEL_H_
