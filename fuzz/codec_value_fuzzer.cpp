// Decodes one value from arbitrary bytes, at every starting alignment the
// first byte allows, and checks that what was decoded encodes and decodes to
// itself: an equal value, the same bytes on the second round, no diagnostics.
#include <cstddef>
#include <cstdint>
#include <iostream>
#include <vector>

#include "channel/byte_streams.h"
#include "channel/standard_codec_serializer.h"
#include "fuzz/fuzz_support.h"

namespace {

using flutter::ByteBufferStreamReader;
using flutter::ByteBufferStreamWriter;
using flutter::EncodableValue;
using flutter::StandardCodecSerializer;

std::vector<uint8_t> Encode(const EncodableValue& value, size_t prefix) {
  std::vector<uint8_t> bytes(prefix, 0);
  ByteBufferStreamWriter writer(&bytes);
  StandardCodecSerializer::GetInstance().WriteValue(value, &writer);
  return bytes;
}

EncodableValue Decode(const uint8_t* data, size_t size, size_t prefix) {
  ByteBufferStreamReader reader(data, size);
  for (size_t i = 0; i < prefix; ++i) reader.ReadByte();
  return StandardCodecSerializer::GetInstance().ReadValue(&reader);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  velqa_fuzz::Diagnostics();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The first byte picks an envelope-like prefix of 0 to 7 bytes, so values
  // are decoded at every alignment relative to the message start.
  const size_t prefix = size == 0 ? 0 : data[0] % 8;
  const EncodableValue decoded = Decode(data, size, prefix);

  // Whatever came out is a well-formed value: its encoding must decode to a
  // value with the same encoding. (Equality of values is not enough: custom
  // values never come out of the standard serializer, but NaN payloads and
  // -0.0 only show in the bytes.)
  const std::vector<uint8_t> first = Encode(decoded, prefix);
  const size_t diagnostics_before = velqa_fuzz::Diagnostics().characters();
  const EncodableValue again = Decode(first.data(), first.size(), prefix);
  if (velqa_fuzz::Diagnostics().characters() != diagnostics_before) {
    velqa_fuzz::Fail("decoding an encoded value wrote a diagnostic");
  }
  if (!(again == decoded)) velqa_fuzz::Fail("re-decoded value differs");
  const std::vector<uint8_t> second = Encode(again, prefix);
  if (second != first) velqa_fuzz::Fail("re-encoded bytes differ");
  return 0;
}
