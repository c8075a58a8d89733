// Byte streams the standard codec reads from and writes to, and their
// implementations over memory.
//
// Thread safety: a reader or writer serves one message on one thread.
#ifndef VELQA_CHANNEL_BYTE_STREAMS_H_
#define VELQA_CHANNEL_BYTE_STREAMS_H_

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>

#include "channel/channel_diagnostics.h"

namespace flutter {

class ByteStreamReader {
 public:
  // Returned by RemainingBytes when a reader cannot tell.
  static constexpr size_t kUnknownRemaining = std::numeric_limits<size_t>::max();

  ByteStreamReader() = default;
  virtual ~ByteStreamReader();

  // The next byte; 0 past the end.
  virtual uint8_t ReadByte() = 0;
  // Copies the next `length` bytes into `buffer`, which must hold them. Past
  // the end nothing is copied and the position stays.
  virtual void ReadBytes(uint8_t* buffer, size_t length) = 0;
  // Moves the position to the next multiple of `alignment`, counted from the
  // first byte of the message.
  virtual void ReadAlignment(uint8_t alignment) = 0;
  // How many bytes are left, or kUnknownRemaining. The serializer uses it to
  // refuse sizes the rest of the input cannot hold before making storage.
  virtual size_t RemainingBytes() const { return kUnknownRemaining; }

  // Little-endian numbers through ReadBytes, zero when the bytes are missing;
  // none of them aligns.
  int32_t ReadInt32();
  int64_t ReadInt64();
  double ReadDouble();

 private:
  friend class StandardCodecSerializer;

  // The serializer's bookkeeping for the one message this reader serves: how
  // deep its read is, and whether it gave up on the rest. It lives with the
  // reader, so that a decode of another buffer inside a derived serializer is
  // counted on its own and leaves this message alone.
  struct NestingState {
    int depth = 0;
    bool rest_ignored = false;
  };
  NestingState nesting_;
};

class ByteStreamWriter {
 public:
  ByteStreamWriter() = default;
  virtual ~ByteStreamWriter();

  virtual void WriteByte(uint8_t byte) = 0;
  virtual void WriteBytes(const uint8_t* bytes, size_t length) = 0;
  // Pads with zero bytes until the output length is a multiple of `alignment`.
  virtual void WriteAlignment(uint8_t alignment) = 0;

  // Little-endian numbers through WriteBytes.
  void WriteInt32(int32_t value);
  void WriteInt64(int64_t value);
  void WriteDouble(double value);
};

// Reads a caller-owned buffer, which must outlive the reader.
class ByteBufferStreamReader : public ByteStreamReader {
 public:
  ByteBufferStreamReader(const uint8_t* bytes, size_t size) : bytes_(bytes), size_(size) {}
  ~ByteBufferStreamReader() override;

  // Defined inline so that the serializer, when the reader is exactly this
  // class, can call them without a virtual call per byte.
  uint8_t ReadByte() override {
    if (location_ >= size_) {
      internal::ReportInvalidRead();
      return 0;
    }
    return bytes_[location_++];
  }
  void ReadBytes(uint8_t* buffer, size_t length) override {
    // Written so that no sum can overflow, whatever length the input announced.
    if (location_ > size_ || length > size_ - location_) {
      internal::ReportInvalidRead();
      return;
    }
    if (length != 0) {
      std::memcpy(buffer, bytes_ + location_, length);
    }
    location_ += length;
  }
  void ReadAlignment(uint8_t alignment) override {
    // No bounds check: a position past the end makes the next read fail.
    if (alignment != 0 && location_ % alignment != 0) {
      location_ += alignment - location_ % alignment;
    }
  }
  size_t RemainingBytes() const override { return location_ < size_ ? size_ - location_ : 0; }

 private:
  const uint8_t* bytes_;
  size_t size_;
  size_t location_ = 0;
};

// Appends to a caller-owned byte vector, which must outlive the writer.
class ByteBufferStreamWriter : public ByteStreamWriter {
 public:
  explicit ByteBufferStreamWriter(std::vector<uint8_t>* buffer) : bytes_(buffer) {}
  ~ByteBufferStreamWriter() override;

  void WriteByte(uint8_t byte) override;
  void WriteBytes(const uint8_t* bytes, size_t length) override;
  void WriteAlignment(uint8_t alignment) override;

  // The vector appended to. The serializer appends to it directly when the
  // writer is exactly this class, which gives the same bytes without a
  // virtual call per byte.
  std::vector<uint8_t>* buffer() const { return bytes_; }

 private:
  std::vector<uint8_t>* bytes_;
};

}  // namespace flutter

#endif  // VELQA_CHANNEL_BYTE_STREAMS_H_
