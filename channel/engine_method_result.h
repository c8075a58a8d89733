// The method result handed to channel handlers: encodes the answer with the
// channel's codec and sends it through the messenger's reply, once.
//
// Thread safety: may be answered on any thread, but not from two threads at
// the same time (the used state is not locked).
#ifndef VELQA_CHANNEL_ENGINE_METHOD_RESULT_H_
#define VELQA_CHANNEL_ENGINE_METHOD_RESULT_H_

#include <cstdint>
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

 private:
  BinaryReply reply_;
  bool answered_ = false;
};

template <typename T = EncodableValue>
class EngineMethodResult : public MethodResult<T> {
 public:
  // `codec` encodes the answers and must outlive the result.
  EngineMethodResult(BinaryReply reply, const MethodCodec<T>* codec)
      : reply_manager_(std::move(reply)), codec_(codec) {}
  ~EngineMethodResult() override = default;

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
  SingleReply reply_manager_;
  const MethodCodec<T>* codec_;
};

}  // namespace flutter

#endif  // VELQA_CHANNEL_ENGINE_METHOD_RESULT_H_
