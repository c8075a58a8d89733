// The method codec over the standard serializer: calls are the method name
// then the arguments; answers start with 0 (success) or 1 (error); a
// not-implemented answer is empty.
//
// Thread safety: GetInstance and the codec's operations may run on any thread.
#ifndef VELQA_CHANNEL_STANDARD_METHOD_CODEC_H_
#define VELQA_CHANNEL_STANDARD_METHOD_CODEC_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "channel/encodable_value.h"
#include "channel/method_call.h"
#include "channel/method_codec.h"
#include "channel/method_result.h"
#include "channel/standard_codec_serializer.h"

namespace flutter {

class StandardMethodCodec : public MethodCodec<EncodableValue> {
 public:
  // The one codec for `serializer` (null: StandardCodecSerializer's own
  // instance), created on first request and never destroyed.
  static const StandardMethodCodec& GetInstance(
      const StandardCodecSerializer* serializer = nullptr);

  ~StandardMethodCodec() override;

  StandardMethodCodec(const StandardMethodCodec&) = delete;
  StandardMethodCodec& operator=(const StandardMethodCodec&) = delete;

 protected:
  std::unique_ptr<MethodCall<EncodableValue>> DecodeMethodCallInternal(
      const uint8_t* message, size_t message_size) const override;
  std::unique_ptr<std::vector<uint8_t>> EncodeMethodCallInternal(
      const MethodCall<EncodableValue>& method_call) const override;
  std::unique_ptr<std::vector<uint8_t>> EncodeSuccessEnvelopeInternal(
      const EncodableValue* result) const override;
  std::unique_ptr<std::vector<uint8_t>> EncodeErrorEnvelopeInternal(
      const std::string& error_code, const std::string& error_message,
      const EncodableValue* error_details) const override;
  bool DecodeAndProcessResponseEnvelopeInternal(
      const uint8_t* response, size_t response_size,
      MethodResult<EncodableValue>* result) const override;

 private:
  explicit StandardMethodCodec(const StandardCodecSerializer* serializer);

  const StandardCodecSerializer* serializer_;
};

}  // namespace flutter

#endif  // VELQA_CHANNEL_STANDARD_METHOD_CODEC_H_
