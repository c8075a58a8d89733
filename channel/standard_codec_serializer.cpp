// The process-wide serializer. Writing and reading live in
// standard_codec_serializer_write.cpp and standard_codec_serializer_read.cpp.
#include "channel/standard_codec_serializer.h"

namespace flutter {

StandardCodecSerializer::StandardCodecSerializer() = default;

StandardCodecSerializer::~StandardCodecSerializer() = default;

const StandardCodecSerializer& StandardCodecSerializer::GetInstance() {
  static const StandardCodecSerializer instance;
  return instance;
}

}  // namespace flutter
