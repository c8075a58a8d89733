#include "channel/standard_codec_serializer.h"

#include <algorithm>
#include <string>
#include <typeinfo>
#include <utility>
#include <vector>

#include "channel/channel_diagnostics.h"

namespace flutter {
namespace {

enum WireType : uint8_t {
  kNull = 0,
  kTrue = 1,
  kFalse = 2,
  kInt32 = 3,
  kInt64 = 4,
  kLargeInt = 5,  // read as a string, never written
  kFloat64 = 6,
  kString = 7,
  kUInt8List = 8,
  kInt32List = 9,
  kInt64List = 10,
  kFloat64List = 11,
  kList = 12,
  kMap = 13,
  kFloat32List = 14,
};

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

thread_local int read_depth = 0;
// Set once a value has been refused for its depth: the rest of the message is
// ignored, so enclosing collections stop instead of filling in their missing
// elements one invalid-read line at a time. Cleared when the outermost read
// ends.
thread_local bool rest_ignored = false;

class ReadDepthScope {
 public:
  ReadDepthScope() { ++read_depth; }
  ~ReadDepthScope() {
    if (--read_depth == 0) rest_ignored = false;
  }
  ReadDepthScope(const ReadDepthScope&) = delete;
  ReadDepthScope& operator=(const ReadDepthScope&) = delete;
  // Tags above the standard ones are refused as well: only a derived
  // serializer gives them meaning, possibly a nesting one.
  bool Refuses(uint8_t type) const {
    return read_depth > kMaxNestingDepth && (type == kList || type == kMap || type > kFloat32List);
  }
};

// Where ReadValueOfType takes its bytes from; the counterpart of the sinks.
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

// Calls a reader that is exactly a ByteBufferStreamReader without virtual
// dispatch; the operations are the same.
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

// True while an element can still be read or may still be missing; false once
// the input has ended and this collection has used up its missing elements,
// or once the rest of the message is ignored.
template <typename Source>
bool MoreElementsAllowed(const Source& source, size_t* missing) {
  if (rest_ignored) {
    return false;
  }
  if (source.Remaining() != 0) {
    return true;
  }
  return (*missing)++ < kMaxMissingElements;
}

// Where WriteValue puts its bytes. VirtualSink goes through the writer's
// virtual operations and serves any writer; BufferSink appends straight to the
// vector of a writer that is exactly a ByteBufferStreamWriter, whose
// operations do just that, so the bytes are the same either way.
class VirtualSink {
 public:
  explicit VirtualSink(ByteStreamWriter* stream) : stream_(stream) {}
  void Byte(uint8_t byte) { stream_->WriteByte(byte); }
  void Bytes(const void* bytes, size_t length) {
    stream_->WriteBytes(static_cast<const uint8_t*>(bytes), length);
  }
  void Align(uint8_t alignment) { stream_->WriteAlignment(alignment); }

 private:
  ByteStreamWriter* stream_;
};

class BufferSink {
 public:
  explicit BufferSink(std::vector<uint8_t>* bytes) : bytes_(bytes) {}
  void Byte(uint8_t byte) { bytes_->push_back(byte); }
  void Bytes(const void* bytes, size_t length) {
    const auto* first = static_cast<const uint8_t*>(bytes);
    bytes_->insert(bytes_->end(), first, first + length);
  }
  void Align(uint8_t alignment) {
    const size_t remainder = bytes_->size() % alignment;
    if (remainder != 0) {
      bytes_->insert(bytes_->end(), alignment - remainder, 0);
    }
  }

 private:
  std::vector<uint8_t>* bytes_;
};

template <typename Sink>
void WriteSizeTo(size_t size, Sink& sink) {
  if (size < 254) {
    sink.Byte(static_cast<uint8_t>(size));
  } else if (size <= 0xffff) {
    sink.Byte(254);
    const uint16_t value = static_cast<uint16_t>(size);
    sink.Bytes(&value, sizeof(value));
  } else {
    sink.Byte(255);
    const uint32_t value = static_cast<uint32_t>(size);
    sink.Bytes(&value, sizeof(value));
  }
}

// A typed list: its count, then its elements as one block after aligning to
// their width. An empty list is padded too: readers (this one and the Dart
// side's) align before the elements whatever the count, so an unpadded empty
// list would shift every value after it.
template <typename T, typename Sink>
void WriteTypedList(const std::vector<T>& list, Sink& sink) {
  WriteSizeTo(list.size(), sink);
  if constexpr (sizeof(T) > 1) {
    sink.Align(sizeof(T));
  }
  if (!list.empty()) {
    sink.Bytes(list.data(), list.size() * sizeof(T));
  }
}

// The body of WriteValue. Nested values go back through the serializer's
// virtual WriteValue so that a derived serializer applies at every depth.
template <typename Sink>
void WriteValueTo(const StandardCodecSerializer& serializer, const EncodableValue& value,
                  Sink& sink, ByteStreamWriter* stream) {
  // Each case reads the alternative the switch established, unchecked.
  switch (value.index()) {
    case 0:
      sink.Byte(kNull);
      return;
    case 1:
      sink.Byte(*std::get_if<bool>(&value) ? kTrue : kFalse);
      return;
    case 2:
      sink.Byte(kInt32);
      sink.Bytes(std::get_if<int32_t>(&value), sizeof(int32_t));
      return;
    case 3:
      // The alternative decides the width, never the magnitude.
      sink.Byte(kInt64);
      sink.Bytes(std::get_if<int64_t>(&value), sizeof(int64_t));
      return;
    case 4:
      sink.Byte(kFloat64);
      sink.Align(8);
      sink.Bytes(std::get_if<double>(&value), sizeof(double));
      return;
    case 5: {
      const auto& string = *std::get_if<std::string>(&value);
      sink.Byte(kString);
      WriteSizeTo(string.size(), sink);
      if (!string.empty()) {
        sink.Bytes(string.data(), string.size());
      }
      return;
    }
    case 6:
      sink.Byte(kUInt8List);
      WriteTypedList(*std::get_if<std::vector<uint8_t>>(&value), sink);
      return;
    case 7:
      sink.Byte(kInt32List);
      WriteTypedList(*std::get_if<std::vector<int32_t>>(&value), sink);
      return;
    case 8:
      sink.Byte(kInt64List);
      WriteTypedList(*std::get_if<std::vector<int64_t>>(&value), sink);
      return;
    case 9:
      sink.Byte(kFloat64List);
      WriteTypedList(*std::get_if<std::vector<double>>(&value), sink);
      return;
    case 10: {
      const auto& list = *std::get_if<EncodableList>(&value);
      sink.Byte(kList);
      WriteSizeTo(list.size(), sink);
      for (const EncodableValue& element : list) {
        serializer.WriteValue(element, stream);
      }
      return;
    }
    case 11: {
      const auto& map = *std::get_if<EncodableMap>(&value);
      sink.Byte(kMap);
      WriteSizeTo(map.size(), sink);
      for (const auto& [key, element] : map) {
        serializer.WriteValue(key, stream);
        serializer.WriteValue(element, stream);
      }
      return;
    }
    case 12:
      // The peer sees null; only a derived serializer can carry custom values.
      sink.Byte(kNull);
      internal::ReportUnhandledCustomType();
      return;
    case 13:
      sink.Byte(kFloat32List);
      WriteTypedList(*std::get_if<std::vector<float>>(&value), sink);
      return;
    default:
      sink.Byte(kNull);  // valueless_by_exception
      return;
  }
}

// Reads `count` elements of T as one block after aligning to their width. A
// count whose bytes are not all in the input yields an empty list: the read
// fails as any short read does, but no storage is made for the announced size.
template <typename T, typename Source>
EncodableValue ReadTypedList(size_t count, Source& source) {
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

}  // namespace

StandardCodecSerializer::StandardCodecSerializer() = default;

StandardCodecSerializer::~StandardCodecSerializer() = default;

const StandardCodecSerializer& StandardCodecSerializer::GetInstance() {
  static const StandardCodecSerializer instance;
  return instance;
}

EncodableValue StandardCodecSerializer::ReadValue(ByteStreamReader* stream) const {
  ReadDepthScope depth;
  if (rest_ignored) {
    return EncodableValue();  // e.g. the value of a map entry whose key was refused
  }
  const uint8_t type = IsPlainBufferReader(*stream)
                           ? BufferSource(static_cast<ByteBufferStreamReader*>(stream)).Byte()
                           : stream->ReadByte();
  if (depth.Refuses(type)) {
    internal::ReportNestingTooDeep(kMaxNestingDepth);
    SkipRest(stream);
    rest_ignored = true;
    return EncodableValue();
  }
  return ReadValueOfType(type, stream);
}

void StandardCodecSerializer::WriteValue(const EncodableValue& value,
                                         ByteStreamWriter* stream) const {
  if (typeid(*stream) == typeid(ByteBufferStreamWriter)) {
    BufferSink sink(static_cast<ByteBufferStreamWriter*>(stream)->buffer());
    WriteValueTo(*this, value, sink, stream);
  } else {
    VirtualSink sink(stream);
    WriteValueTo(*this, value, sink, stream);
  }
}

namespace {

// The body of ReadValueOfType. Nested values go back through ReadValue, and so
// through the virtual ReadValueOfType, so that a derived serializer applies at
// every depth.
template <typename Source>
EncodableValue ReadValueOfTypeFrom(const StandardCodecSerializer& serializer, uint8_t type,
                                   Source& source, ByteStreamReader* stream) {
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
    case kString: {
      const size_t size = ReadSizeFrom(source);
      if (size > source.Remaining()) {
        internal::ReportInvalidRead();
        return EncodableValue(std::string());
      }
      std::string string(size, '\0');
      source.Bytes(string.data(), size);
      return EncodableValue(std::move(string));
    }
    case kUInt8List:
      return ReadTypedList<uint8_t>(ReadSizeFrom(source), source);
    case kInt32List:
      return ReadTypedList<int32_t>(ReadSizeFrom(source), source);
    case kInt64List:
      return ReadTypedList<int64_t>(ReadSizeFrom(source), source);
    case kFloat64List:
      return ReadTypedList<double>(ReadSizeFrom(source), source);
    case kFloat32List:
      return ReadTypedList<float>(ReadSizeFrom(source), source);
    case kList: {
      const size_t count = ReadSizeFrom(source);
      EncodableList list;
      // Reserving for the announced count would let every list of a deep
      // chain that ends early hold storage for the whole rest of the input;
      // past a small start the vector grows with what is actually read.
      list.reserve(std::min({count, source.Remaining(), kMaxReservedElements}));
      size_t missing = 0;
      for (size_t i = 0; i < count && MoreElementsAllowed(source, &missing); ++i) {
        list.push_back(serializer.ReadValue(stream));
      }
      return EncodableValue(std::move(list));
    }
    case kMap: {
      const size_t count = ReadSizeFrom(source);
      EncodableMap map;
      size_t missing = 0;
      for (size_t i = 0; i < count && MoreElementsAllowed(source, &missing); ++i) {
        EncodableValue key = serializer.ReadValue(stream);
        EncodableValue value = serializer.ReadValue(stream);
        // Encoders write keys in ascending order, so the end is the usual
        // place (one comparison). A key already present keeps its first value.
        map.emplace_hint(map.end(), std::move(key), std::move(value));
      }
      return EncodableValue(std::move(map));
    }
    default:
      internal::ReportUnknownType(type);
      return EncodableValue();
  }
}

}  // namespace

EncodableValue StandardCodecSerializer::ReadValueOfType(uint8_t type,
                                                        ByteStreamReader* stream) const {
  if (IsPlainBufferReader(*stream)) {
    BufferSource source(static_cast<ByteBufferStreamReader*>(stream));
    return ReadValueOfTypeFrom(*this, type, source, stream);
  }
  VirtualSource source(stream);
  return ReadValueOfTypeFrom(*this, type, source, stream);
}

size_t StandardCodecSerializer::ReadSize(ByteStreamReader* stream) const {
  VirtualSource source(stream);
  return ReadSizeFrom(source);
}

void StandardCodecSerializer::WriteSize(size_t size, ByteStreamWriter* stream) const {
  VirtualSink sink(stream);
  WriteSizeTo(size, sink);
}

}  // namespace flutter
