// The writing half of StandardCodecSerializer: values to bytes.
#include <string>
#include <type_traits>
#include <typeinfo>
#include <vector>

#include "channel/channel_diagnostics.h"
#include "channel/standard_codec_serializer.h"
#include "channel/standard_codec_wire_types.h"

namespace flutter {
namespace {

using enum internal::StandardCodecWireType;

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

// A fixed-width number right after its tag, a double aligned to its width.
// The alternative decides the width, never the magnitude.
template <typename T, typename Sink>
void WriteNumber(uint8_t type, const T& number, Sink& sink) {
  sink.Byte(type);
  if constexpr (std::is_floating_point_v<T>) {
    sink.Align(sizeof(T));
  }
  sink.Bytes(&number, sizeof(T));
}

template <typename Sink>
void WriteString(const std::string& string, Sink& sink) {
  sink.Byte(kString);
  WriteSizeTo(string.size(), sink);
  if (!string.empty()) {
    sink.Bytes(string.data(), string.size());
  }
}

// A typed list: its tag and count, then its elements as one block after
// aligning to their width. An empty list is padded too: readers (this one and
// the Dart side's) align before the elements whatever the count, so an
// unpadded empty list would shift every value after it.
template <typename T, typename Sink>
void WriteTypedList(uint8_t type, const std::vector<T>& list, Sink& sink) {
  sink.Byte(type);
  WriteSizeTo(list.size(), sink);
  if constexpr (sizeof(T) > 1) {
    sink.Align(sizeof(T));
  }
  if (!list.empty()) {
    sink.Bytes(list.data(), list.size() * sizeof(T));
  }
}

// Lists and maps write their elements back through the serializer's virtual
// WriteValue so that a derived serializer applies at every depth.
template <typename Sink>
void WriteList(const StandardCodecSerializer& serializer, const EncodableList& list, Sink& sink,
               ByteStreamWriter* stream) {
  sink.Byte(kList);
  WriteSizeTo(list.size(), sink);
  for (const EncodableValue& element : list) {
    serializer.WriteValue(element, stream);
  }
}

template <typename Sink>
void WriteMap(const StandardCodecSerializer& serializer, const EncodableMap& map, Sink& sink,
              ByteStreamWriter* stream) {
  sink.Byte(kMap);
  WriteSizeTo(map.size(), sink);
  for (const auto& [key, element] : map) {
    serializer.WriteValue(key, stream);
    serializer.WriteValue(element, stream);
  }
}

// The body of WriteValue: the tag and payload of the alternative `value` holds.
template <typename Sink>
void WriteValueTo(const StandardCodecSerializer& serializer, const EncodableValue& value,
                  Sink& sink, ByteStreamWriter* stream) {
  // Each case reads the alternative the switch established, unchecked.
  switch (value.index()) {
    case 0:
      return sink.Byte(kNull);
    case 1:
      return sink.Byte(*std::get_if<bool>(&value) ? kTrue : kFalse);
    case 2:
      return WriteNumber(kInt32, *std::get_if<int32_t>(&value), sink);
    case 3:
      return WriteNumber(kInt64, *std::get_if<int64_t>(&value), sink);
    case 4:
      return WriteNumber(kFloat64, *std::get_if<double>(&value), sink);
    case 5:
      return WriteString(*std::get_if<std::string>(&value), sink);
    case 6:
      return WriteTypedList(kUInt8List, *std::get_if<std::vector<uint8_t>>(&value), sink);
    case 7:
      return WriteTypedList(kInt32List, *std::get_if<std::vector<int32_t>>(&value), sink);
    case 8:
      return WriteTypedList(kInt64List, *std::get_if<std::vector<int64_t>>(&value), sink);
    case 9:
      return WriteTypedList(kFloat64List, *std::get_if<std::vector<double>>(&value), sink);
    case 10:
      return WriteList(serializer, *std::get_if<EncodableList>(&value), sink, stream);
    case 11:
      return WriteMap(serializer, *std::get_if<EncodableMap>(&value), sink, stream);
    case 12:
      // The peer sees null; only a derived serializer can carry custom values.
      sink.Byte(kNull);
      return internal::ReportUnhandledCustomType();
    case 13:
      return WriteTypedList(kFloat32List, *std::get_if<std::vector<float>>(&value), sink);
    default:
      return sink.Byte(kNull);  // valueless_by_exception
  }
}

}  // namespace

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

void StandardCodecSerializer::WriteSize(size_t size, ByteStreamWriter* stream) const {
  VirtualSink sink(stream);
  WriteSizeTo(size, sink);
}

}  // namespace flutter
