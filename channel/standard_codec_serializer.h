// Writes and reads one EncodableValue in the byte format of Flutter's standard
// message codec.
//
// Thread safety: stateless; the process-wide instance may be used from any
// thread at once.
#ifndef VELQA_CHANNEL_STANDARD_CODEC_SERIALIZER_H_
#define VELQA_CHANNEL_STANDARD_CODEC_SERIALIZER_H_

#include <cstddef>
#include <cstdint>

#include "channel/byte_streams.h"
#include "channel/encodable_value.h"

namespace flutter {

class StandardCodecSerializer {
 public:
  virtual ~StandardCodecSerializer();

  StandardCodecSerializer(const StandardCodecSerializer&) = delete;
  StandardCodecSerializer& operator=(const StandardCodecSerializer&) = delete;

  // The process-wide instance, created on first use, never freed by callers.
  static const StandardCodecSerializer& GetInstance();

  // Reads a type tag and the value it introduces. Never fails: problems are
  // reported on standard error and yield null or empty values.
  EncodableValue ReadValue(ByteStreamReader* stream) const;

  // Writes the type tag and payload of `value`. Nested values go through this
  // virtual again, so a derived serializer applies at every depth.
  virtual void WriteValue(const EncodableValue& value, ByteStreamWriter* stream) const;

 protected:
  StandardCodecSerializer();

  // Reads the payload of a value whose tag is `type`. Nested values are read
  // through ReadValue, so an override applies at every depth.
  virtual EncodableValue ReadValueOfType(uint8_t type, ByteStreamReader* stream) const;

  // The size encoding: one byte below 254, 254 + 2 bytes up to 65535, else
  // 255 + 4 bytes.
  size_t ReadSize(ByteStreamReader* stream) const;
  void WriteSize(size_t size, ByteStreamWriter* stream) const;
};

}  // namespace flutter

#endif  // VELQA_CHANNEL_STANDARD_CODEC_SERIALIZER_H_
