#include "channel/byte_streams.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "channel/channel_diagnostics.h"

namespace flutter {

// Numbers travel little-endian and are copied as they lie in memory.
static_assert(std::endian::native == std::endian::little,
              "the codec copies numbers in host byte order");

ByteStreamReader::~ByteStreamReader() = default;

int32_t ByteStreamReader::ReadInt32() {
  int32_t value = 0;
  ReadBytes(reinterpret_cast<uint8_t*>(&value), sizeof(value));
  return value;
}

int64_t ByteStreamReader::ReadInt64() {
  int64_t value = 0;
  ReadBytes(reinterpret_cast<uint8_t*>(&value), sizeof(value));
  return value;
}

double ByteStreamReader::ReadDouble() {
  double value = 0;
  ReadBytes(reinterpret_cast<uint8_t*>(&value), sizeof(value));
  return value;
}

ByteStreamWriter::~ByteStreamWriter() = default;

void ByteStreamWriter::WriteInt32(int32_t value) {
  WriteBytes(reinterpret_cast<const uint8_t*>(&value), sizeof(value));
}

void ByteStreamWriter::WriteInt64(int64_t value) {
  WriteBytes(reinterpret_cast<const uint8_t*>(&value), sizeof(value));
}

void ByteStreamWriter::WriteDouble(double value) {
  WriteBytes(reinterpret_cast<const uint8_t*>(&value), sizeof(value));
}

ByteBufferStreamReader::~ByteBufferStreamReader() = default;

ByteBufferStreamWriter::~ByteBufferStreamWriter() = default;

namespace {

// Makes room for `length` more bytes, at least doubling, out of the line of the
// appends below: most appends fit and should cost a compare and a store.
[[gnu::noinline]] void GrowFor(std::vector<uint8_t>* bytes, size_t length) {
  bytes->reserve(std::max({bytes->size() + length, 2 * bytes->capacity(), size_t{64}}));
}

}  // namespace

void ByteBufferStreamWriter::WriteByte(uint8_t byte) {
  if (bytes_->size() == bytes_->capacity()) [[unlikely]] {
    GrowFor(bytes_, 1);
  }
  bytes_->push_back(byte);
}

void ByteBufferStreamWriter::WriteBytes(const uint8_t* bytes, size_t length) {
  if (length == 0) {
    return;
  }
  if (bytes_->capacity() - bytes_->size() < length) [[unlikely]] {
    GrowFor(bytes_, length);
  }
  bytes_->insert(bytes_->end(), bytes, bytes + length);
}

void ByteBufferStreamWriter::WriteAlignment(uint8_t alignment) {
  if (alignment == 0) {
    return;
  }
  const size_t remainder = bytes_->size() % alignment;
  if (remainder != 0) {
    for (size_t i = remainder; i < alignment; ++i) {
      WriteByte(0);
    }
  }
}

}  // namespace flutter
