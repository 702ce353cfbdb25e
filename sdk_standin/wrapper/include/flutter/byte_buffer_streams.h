#ifndef FLUTTER_SHELL_PLATFORM_COMMON_CLIENT_WRAPPER_BYTE_BUFFER_STREAMS_H_
#define FLUTTER_SHELL_PLATFORM_COMMON_CLIENT_WRAPPER_BYTE_BUFFER_STREAMS_H_

#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <vector>

#include "byte_streams.h"

namespace flutter {

// Thrown by ByteBufferStreamReader when a read would go past the end of its buffer. The codecs
// catch it and report the message as undecodable, so a truncated or lying message can never
// make them read outside the buffer.
class ByteStreamOverrun : public std::runtime_error {
 public:
  ByteStreamOverrun() : std::runtime_error("read past the end of the message") {}
};

// Reads from a buffer it does not own.
class ByteBufferStreamReader : public ByteStreamReader {
 public:
  // |bytes| must outlive the reader.
  explicit ByteBufferStreamReader(const uint8_t* bytes, size_t size) : bytes_(bytes), size_(size) {}
  virtual ~ByteBufferStreamReader() = default;

  uint8_t ReadByte() override {
    if (location_ >= size_) throw ByteStreamOverrun();
    return bytes_[location_++];
  }

  void ReadBytes(uint8_t* buffer, size_t length) override {
    if (length > size_ - location_) throw ByteStreamOverrun();
    if (length > 0) std::memcpy(buffer, &bytes_[location_], length);
    location_ += length;
  }

  void ReadAlignment(uint8_t alignment) override {
    if (alignment == 0) return;
    const size_t mod = location_ % alignment;
    if (mod == 0) return;
    const size_t skip = alignment - mod;
    if (skip > size_ - location_) throw ByteStreamOverrun();
    location_ += skip;
  }

  // Bytes left to read; the serializer uses it to refuse sizes no message could hold.
  size_t remaining() const { return size_ - location_; }
  size_t location() const { return location_; }

 private:
  const uint8_t* bytes_;
  size_t size_ = 0;
  size_t location_ = 0;
};

// Appends to a vector it does not own.
class ByteBufferStreamWriter : public ByteStreamWriter {
 public:
  // |buffer| must outlive the writer. Alignment counts from the start of |buffer|, so
  // bytes already in it (the envelope byte of a reply) count too.
  explicit ByteBufferStreamWriter(std::vector<uint8_t>* buffer) : bytes_(buffer) {}
  virtual ~ByteBufferStreamWriter() = default;

  void WriteByte(uint8_t byte) override { bytes_->push_back(byte); }

  void WriteBytes(const uint8_t* bytes, size_t length) override {
    if (length > 0) bytes_->insert(bytes_->end(), bytes, bytes + length);
  }

  void WriteAlignment(uint8_t alignment) override {
    if (alignment == 0) return;
    const size_t mod = bytes_->size() % alignment;
    if (mod) bytes_->insert(bytes_->end(), alignment - mod, 0);
  }

 private:
  std::vector<uint8_t>* bytes_;
};

}  // namespace flutter

#endif  // FLUTTER_SHELL_PLATFORM_COMMON_CLIENT_WRAPPER_BYTE_BUFFER_STREAMS_H_
