#ifndef FLUTTER_SHELL_PLATFORM_COMMON_CLIENT_WRAPPER_INCLUDE_FLUTTER_STANDARD_CODEC_SERIALIZER_H_
#define FLUTTER_SHELL_PLATFORM_COMMON_CLIENT_WRAPPER_INCLUDE_FLUTTER_STANDARD_CODEC_SERIALIZER_H_

#include <stdexcept>
#include <vector>

#include "byte_streams.h"
#include "encodable_value.h"

namespace flutter {

// Thrown while reading a value whose bytes make no sense (an unknown tag, nesting deeper than
// the reader allows). The codecs catch it and report the message as undecodable.
class StandardCodecError : public std::runtime_error {
 public:
  explicit StandardCodecError(const char* what) : std::runtime_error(what) {}
};

// Encapsulates the logic for encoding/decoding EncodableValues to/from the standard codec
// binary representation.
//
// This can be subclassed to extend the standard codec with support for new types.
class StandardCodecSerializer {
 public:
  virtual ~StandardCodecSerializer();

  // Returns the shared serializer instance.
  static const StandardCodecSerializer& GetInstance();

  // Prevent copying.
  StandardCodecSerializer(StandardCodecSerializer const&) = delete;
  StandardCodecSerializer& operator=(StandardCodecSerializer const&) = delete;

  // Reads and returns the next value from |stream|. Throws (ByteStreamOverrun,
  // StandardCodecError) when the bytes do not hold a whole, valid value.
  EncodableValue ReadValue(ByteStreamReader* stream) const;

  // Writes the encoding of |value| to |stream|, including the initial type discrimination
  // byte.
  //
  // Can be overridden by a subclass to extend the codec.
  virtual void WriteValue(const EncodableValue& value, ByteStreamWriter* stream) const;

  // Deepest nesting of lists and maps that ReadValue accepts. Deeper input is refused rather
  // than allowed to exhaust the reading thread's stack.
  static constexpr int kMaxNestingDepth = 256;

 protected:
  // Codecs require long-lived serializers, so clients should always use GetInstance().
  StandardCodecSerializer();

  // Reads and returns the next value from |stream|, whose discrimination byte was |type|.
  //
  // The default implementation handles all the standard codec types; a subclass reads its own
  // types and passes everything else on to this one.
  virtual EncodableValue ReadValueOfType(uint8_t type, ByteStreamReader* stream) const;

  // Reads the variable-length size from the current position in |stream|.
  size_t ReadSize(ByteStreamReader* stream) const;

  // Writes the variable-length size encoding to |stream|.
  void WriteSize(size_t size, ByteStreamWriter* stream) const;

 private:
  // Reads a fixed-type list whose values are of type T from the current position in |stream|,
  // and returns it as the corresponding EncodableValue type.
  template <typename T>
  EncodableValue ReadVector(ByteStreamReader* stream) const;

  // Writes |vector| to |stream| as a fixed-type list.
  template <typename T>
  void WriteVector(const std::vector<T> vector, ByteStreamWriter* stream) const;
};

}  // namespace flutter

#endif  // FLUTTER_SHELL_PLATFORM_COMMON_CLIENT_WRAPPER_INCLUDE_FLUTTER_STANDARD_CODEC_SERIALIZER_H_
