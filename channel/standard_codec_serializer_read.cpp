// The reading half of StandardCodecSerializer: bytes to values, with the
// limits that keep hostile input from costing more than its own length.
#include <algorithm>
#include <string>
#include <typeinfo>
#include <utility>
#include <vector>

#include "channel/channel_diagnostics.h"
#include "channel/standard_codec_serializer.h"
#include "channel/standard_codec_wire_types.h"

namespace flutter {
namespace {

using enum internal::StandardCodecWireType;

// When the input ends inside a list or map, the missing elements read as null,
// one invalid-read line each, but only this many per collection: a count the
// input cannot back must not cost time or memory beyond the input's length.
constexpr size_t kMaxMissingElements = 16;

constexpr size_t kMaxReservedElements = 64;

// Lists and maps are read recursively; deeper ones are refused so that a small
// hostile message cannot exhaust the stack of the platform thread. Scalars may
// sit one level below the deepest collection, so whatever a decode produced
// encodes to bytes that decode again without complaint.
constexpr int kMaxNestingDepth = 256;

// Counts the depth of one read in its reader's state (ByteStreamReader's
// NestingState): once a value has been refused for its depth, the rest of the
// message is ignored, so enclosing collections stop instead of filling in
// their missing elements one invalid-read line at a time. The flag is cleared
// when the outermost read ends.
template <typename State>
class ReadDepthScope {
 public:
  explicit ReadDepthScope(State& state) : state_(state) { ++state_.depth; }
  ~ReadDepthScope() {
    if (--state_.depth == 0) state_.rest_ignored = false;
  }
  ReadDepthScope(const ReadDepthScope&) = delete;
  ReadDepthScope& operator=(const ReadDepthScope&) = delete;
  // Tags above the standard ones are refused as well: only a derived
  // serializer gives them meaning, possibly a nesting one.
  bool Refuses(uint8_t type) const {
    return state_.depth > kMaxNestingDepth &&
           (type == kList || type == kMap || type > kFloat32List);
  }

 private:
  State& state_;
};

// Where ReadValueOfType takes its bytes from. VirtualSource serves any reader;
// BufferSource calls a reader that is exactly a ByteBufferStreamReader without
// virtual dispatch; the operations are the same.
class VirtualSource {
 public:
  explicit VirtualSource(ByteStreamReader* stream) : stream_(stream) {}
  uint8_t Byte() { return stream_->ReadByte(); }
  void Bytes(void* buffer, size_t length) {
    stream_->ReadBytes(static_cast<uint8_t*>(buffer), length);
  }
  void Align(uint8_t alignment) { stream_->ReadAlignment(alignment); }
  size_t Remaining() const { return stream_->RemainingBytes(); }

 private:
  ByteStreamReader* stream_;
};

class BufferSource {
 public:
  explicit BufferSource(ByteBufferStreamReader* stream) : stream_(stream) {}
  uint8_t Byte() { return stream_->ByteBufferStreamReader::ReadByte(); }
  void Bytes(void* buffer, size_t length) {
    stream_->ByteBufferStreamReader::ReadBytes(static_cast<uint8_t*>(buffer), length);
  }
  void Align(uint8_t alignment) { stream_->ByteBufferStreamReader::ReadAlignment(alignment); }
  size_t Remaining() const { return stream_->ByteBufferStreamReader::RemainingBytes(); }

 private:
  ByteBufferStreamReader* stream_;
};

bool IsPlainBufferReader(const ByteStreamReader& stream) {
  return typeid(stream) == typeid(ByteBufferStreamReader);
}

template <typename Source>
size_t ReadSizeFrom(Source& source) {
  const uint8_t byte = source.Byte();
  if (byte < 254) {
    return byte;
  }
  if (byte == 254) {
    uint16_t size = 0;
    source.Bytes(&size, sizeof(size));
    return size;
  }
  uint32_t size = 0;
  source.Bytes(&size, sizeof(size));
  return size;
}

template <typename T, typename Source>
T ReadNumber(Source& source) {
  T value = 0;
  source.Bytes(&value, sizeof(value));
  return value;
}

// Moves the reader to the end of its input, so that everything after a refused
// value reads as missing instead of being parsed again.
void SkipRest(ByteStreamReader* stream) {
  uint8_t sink[4096];
  for (size_t left = stream->RemainingBytes();
       left != 0 && left != ByteStreamReader::kUnknownRemaining; left = stream->RemainingBytes()) {
    stream->ReadBytes(sink, std::min(left, sizeof(sink)));
  }
}

// Calls `read_element` once per announced element while one can still be
// read or may still be missing: once the input has ended, a collection fills
// in at most kMaxMissingElements, and nothing more once the rest of the
// message is ignored.
template <typename Source, typename ReadElement>
void ReadElements(size_t count, const Source& source, const bool& rest_ignored,
                  ReadElement read_element) {
  size_t missing = 0;
  for (size_t i = 0; i < count && !rest_ignored; ++i) {
    if (source.Remaining() == 0 && missing++ >= kMaxMissingElements) {
      return;
    }
    read_element();
  }
}

// A string whose bytes are not all in the input reads as empty, with one line.
template <typename Source>
EncodableValue ReadString(Source& source) {
  const size_t size = ReadSizeFrom(source);
  if (size > source.Remaining()) {
    internal::ReportInvalidRead();
    return EncodableValue(std::string());
  }
  std::string string(size, '\0');
  source.Bytes(string.data(), size);
  return EncodableValue(std::move(string));
}

// Reads a count and that many elements of T as one block after aligning to
// their width. A count whose bytes are not all in the input yields an empty
// list: the read fails as any short read does, but no storage is made for the
// announced size.
template <typename T, typename Source>
EncodableValue ReadTypedList(Source& source) {
  const size_t count = ReadSizeFrom(source);
  if constexpr (sizeof(T) > 1) {
    source.Align(sizeof(T));
  }
  if (count > source.Remaining() / sizeof(T)) {
    internal::ReportInvalidRead();
    return EncodableValue(std::vector<T>());
  }
  std::vector<T> list(count);
  source.Bytes(list.data(), count * sizeof(T));
  return EncodableValue(std::move(list));
}

// Lists and maps read their elements back through ReadValue, and so through
// the virtual ReadValueOfType, so that a derived serializer applies at every
// depth.
template <typename Source>
EncodableValue ReadList(const StandardCodecSerializer& serializer, Source& source,
                        ByteStreamReader* stream, const bool& rest_ignored) {
  const size_t count = ReadSizeFrom(source);
  EncodableList list;
  // Reserving for the announced count would let every list of a deep chain
  // that ends early hold storage for the whole rest of the input; past a
  // small start the vector grows with what is actually read.
  list.reserve(std::min({count, source.Remaining(), kMaxReservedElements}));
  ReadElements(count, source, rest_ignored,
               [&] { list.push_back(serializer.ReadValue(stream)); });
  return EncodableValue(std::move(list));
}

template <typename Source>
EncodableValue ReadMap(const StandardCodecSerializer& serializer, Source& source,
                       ByteStreamReader* stream, const bool& rest_ignored) {
  EncodableMap map;
  ReadElements(ReadSizeFrom(source), source, rest_ignored, [&] {
    EncodableValue key = serializer.ReadValue(stream);
    EncodableValue value = serializer.ReadValue(stream);
    // Encoders write keys in ascending order, so the end is the usual place
    // (one comparison). A key already present keeps its first value.
    map.emplace_hint(map.end(), std::move(key), std::move(value));
  });
  return EncodableValue(std::move(map));
}

// The body of ReadValueOfType: the payload that the tag `type` introduces.
template <typename Source>
EncodableValue ReadValueOfTypeFrom(const StandardCodecSerializer& serializer, uint8_t type,
                                   Source& source, ByteStreamReader* stream,
                                   const bool& rest_ignored) {
  switch (type) {
    case kNull:
      return EncodableValue();
    case kTrue:
      return EncodableValue(true);
    case kFalse:
      return EncodableValue(false);
    case kInt32:
      return EncodableValue(ReadNumber<int32_t>(source));
    case kInt64:
      return EncodableValue(ReadNumber<int64_t>(source));
    case kFloat64:
      source.Align(8);
      return EncodableValue(ReadNumber<double>(source));
    case kLargeInt:
    case kString:
      return ReadString(source);
    case kUInt8List:
      return ReadTypedList<uint8_t>(source);
    case kInt32List:
      return ReadTypedList<int32_t>(source);
    case kInt64List:
      return ReadTypedList<int64_t>(source);
    case kFloat64List:
      return ReadTypedList<double>(source);
    case kFloat32List:
      return ReadTypedList<float>(source);
    case kList:
      return ReadList(serializer, source, stream, rest_ignored);
    case kMap:
      return ReadMap(serializer, source, stream, rest_ignored);
    default:
      internal::ReportUnknownType(type);
      return EncodableValue();
  }
}

}  // namespace

EncodableValue StandardCodecSerializer::ReadValue(ByteStreamReader* stream) const {
  ReadDepthScope depth(stream->nesting_);
  if (stream->nesting_.rest_ignored) {
    return EncodableValue();  // e.g. the value of a map entry whose key was refused
  }
  const uint8_t type = IsPlainBufferReader(*stream)
                           ? BufferSource(static_cast<ByteBufferStreamReader*>(stream)).Byte()
                           : stream->ReadByte();
  if (depth.Refuses(type)) {
    internal::ReportNestingTooDeep(kMaxNestingDepth);
    SkipRest(stream);
    stream->nesting_.rest_ignored = true;
    return EncodableValue();
  }
  return ReadValueOfType(type, stream);
}

EncodableValue StandardCodecSerializer::ReadValueOfType(uint8_t type,
                                                        ByteStreamReader* stream) const {
  if (IsPlainBufferReader(*stream)) {
    BufferSource source(static_cast<ByteBufferStreamReader*>(stream));
    return ReadValueOfTypeFrom(*this, type, source, stream, stream->nesting_.rest_ignored);
  }
  VirtualSource source(stream);
  return ReadValueOfTypeFrom(*this, type, source, stream, stream->nesting_.rest_ignored);
}

size_t StandardCodecSerializer::ReadSize(ByteStreamReader* stream) const {
  VirtualSource source(stream);
  return ReadSizeFrom(source);
}

}  // namespace flutter
