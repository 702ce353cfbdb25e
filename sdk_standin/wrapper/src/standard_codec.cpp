// The standard codec: one tag byte per value, little-endian numbers, variable-length sizes,
// and zero padding before 8- and 4-byte numbers counted from the start of the whole message.
//
// Decoding is written for hostile input: every read is bounds-checked by the stream, a size
// prefix never allocates more than the bytes that actually follow, and nesting is limited so
// a message of nested one-element lists cannot exhaust the stack.

#include <flutter/byte_buffer_streams.h>
#include <flutter/standard_codec_serializer.h>
#include <flutter/standard_message_codec.h>
#include <flutter/standard_method_codec.h>

#include <algorithm>
#include <iostream>
#include <map>
#include <mutex>

namespace flutter {

namespace {

enum class EncodedType : uint8_t {
  kNull = 0,
  kTrue,
  kFalse,
  kInt32,
  kInt64,
  kLargeInt,  // No longer sent; read as its text.
  kFloat64,
  kString,
  kUInt8List,
  kInt32List,
  kInt64List,
  kFloat64List,
  kList,
  kMap,
  kFloat32List,
};

// The tag for a value, by its variant alternative.
EncodedType EncodedTypeForValue(const EncodableValue& value) {
  switch (value.index()) {
    case 0:
      return EncodedType::kNull;
    case 1:
      return std::get<bool>(value) ? EncodedType::kTrue : EncodedType::kFalse;
    case 2:
      return EncodedType::kInt32;
    case 3:
      return EncodedType::kInt64;
    case 4:
      return EncodedType::kFloat64;
    case 5:
      return EncodedType::kString;
    case 6:
      return EncodedType::kUInt8List;
    case 7:
      return EncodedType::kInt32List;
    case 8:
      return EncodedType::kInt64List;
    case 9:
      return EncodedType::kFloat64List;
    case 10:
      return EncodedType::kList;
    case 11:
      return EncodedType::kMap;
    case 13:
      return EncodedType::kFloat32List;
  }
  return EncodedType::kNull;
}

// Elements are read in slices of this many bytes at most, so a size prefix that promises
// gigabytes fails at the end of the real data instead of allocating them up front.
constexpr size_t kReadSliceBytes = 64 * 1024;

// Tracks how deep ReadValue has recursed on this thread.
thread_local int read_depth = 0;

class DepthGuard {
 public:
  DepthGuard() {
    if (++read_depth > StandardCodecSerializer::kMaxNestingDepth) {
      --read_depth;
      throw StandardCodecError("values nested too deeply");
    }
  }
  ~DepthGuard() { --read_depth; }
  DepthGuard(const DepthGuard&) = delete;
  DepthGuard& operator=(const DepthGuard&) = delete;
};

}  // namespace

StandardCodecSerializer::StandardCodecSerializer() = default;

StandardCodecSerializer::~StandardCodecSerializer() = default;

const StandardCodecSerializer& StandardCodecSerializer::GetInstance() {
  static StandardCodecSerializer sInstance;
  return sInstance;
}

EncodableValue StandardCodecSerializer::ReadValue(ByteStreamReader* stream) const {
  DepthGuard depth;
  uint8_t type = stream->ReadByte();
  return ReadValueOfType(type, stream);
}

void StandardCodecSerializer::WriteValue(const EncodableValue& value,
                                         ByteStreamWriter* stream) const {
  if (std::holds_alternative<CustomEncodableValue>(value)) {
    // Writing nothing would shift every following value; null keeps the message readable.
    std::cerr << "Unhandled custom type in StandardCodecSerializer::WriteValue. "
              << "Custom types require codec extensions." << std::endl;
    stream->WriteByte(static_cast<uint8_t>(EncodedType::kNull));
    return;
  }
  stream->WriteByte(static_cast<uint8_t>(EncodedTypeForValue(value)));
  switch (value.index()) {
    case 0:
    case 1:
      // The tag says it all.
      break;
    case 2:
      stream->WriteInt32(std::get<int32_t>(value));
      break;
    case 3:
      stream->WriteInt64(std::get<int64_t>(value));
      break;
    case 4:
      stream->WriteAlignment(8);
      stream->WriteDouble(std::get<double>(value));
      break;
    case 5: {
      const auto& string_value = std::get<std::string>(value);
      size_t size = string_value.size();
      WriteSize(size, stream);
      if (size > 0) {
        stream->WriteBytes(reinterpret_cast<const uint8_t*>(string_value.data()), size);
      }
      break;
    }
    case 6:
      WriteVector(std::get<std::vector<uint8_t>>(value), stream);
      break;
    case 7:
      WriteVector(std::get<std::vector<int32_t>>(value), stream);
      break;
    case 8:
      WriteVector(std::get<std::vector<int64_t>>(value), stream);
      break;
    case 9:
      WriteVector(std::get<std::vector<double>>(value), stream);
      break;
    case 10: {
      const auto& list = std::get<EncodableList>(value);
      WriteSize(list.size(), stream);
      for (const auto& item : list) {
        WriteValue(item, stream);
      }
      break;
    }
    case 11: {
      const auto& map = std::get<EncodableMap>(value);
      WriteSize(map.size(), stream);
      for (const auto& pair : map) {
        WriteValue(pair.first, stream);
        WriteValue(pair.second, stream);
      }
      break;
    }
    case 13:
      WriteVector(std::get<std::vector<float>>(value), stream);
      break;
  }
}

EncodableValue StandardCodecSerializer::ReadValueOfType(uint8_t type,
                                                        ByteStreamReader* stream) const {
  switch (static_cast<EncodedType>(type)) {
    case EncodedType::kNull:
      return EncodableValue();
    case EncodedType::kTrue:
      return EncodableValue(true);
    case EncodedType::kFalse:
      return EncodableValue(false);
    case EncodedType::kInt32:
      return EncodableValue(stream->ReadInt32());
    case EncodedType::kInt64:
      return EncodableValue(stream->ReadInt64());
    case EncodedType::kFloat64:
      stream->ReadAlignment(8);
      return EncodableValue(stream->ReadDouble());
    case EncodedType::kLargeInt:
    case EncodedType::kString: {
      size_t size = ReadSize(stream);
      std::string string_value;
      while (string_value.size() < size) {
        const size_t slice = std::min(size - string_value.size(), kReadSliceBytes);
        const size_t offset = string_value.size();
        string_value.resize(offset + slice);
        stream->ReadBytes(reinterpret_cast<uint8_t*>(&string_value[offset]), slice);
      }
      return EncodableValue(std::move(string_value));
    }
    case EncodedType::kUInt8List:
      return ReadVector<uint8_t>(stream);
    case EncodedType::kInt32List:
      return ReadVector<int32_t>(stream);
    case EncodedType::kInt64List:
      return ReadVector<int64_t>(stream);
    case EncodedType::kFloat64List:
      return ReadVector<double>(stream);
    case EncodedType::kList: {
      size_t length = ReadSize(stream);
      EncodableList list_value;
      // Every element takes at least one byte, so growing as they arrive bounds the memory by
      // the message's size whatever the count claims.
      list_value.reserve(std::min<size_t>(length, 1024));
      for (size_t i = 0; i < length; ++i) {
        list_value.push_back(ReadValue(stream));
      }
      return EncodableValue(std::move(list_value));
    }
    case EncodedType::kMap: {
      size_t length = ReadSize(stream);
      EncodableMap map_value;
      for (size_t i = 0; i < length; ++i) {
        EncodableValue key = ReadValue(stream);
        EncodableValue value = ReadValue(stream);
        map_value.emplace(std::move(key), std::move(value));
      }
      return EncodableValue(std::move(map_value));
    }
    case EncodedType::kFloat32List:
      return ReadVector<float>(stream);
  }
  throw StandardCodecError("unknown type tag");
}

size_t StandardCodecSerializer::ReadSize(ByteStreamReader* stream) const {
  uint8_t byte = stream->ReadByte();
  if (byte < 254) {
    return byte;
  } else if (byte == 254) {
    uint16_t value = 0;
    stream->ReadBytes(reinterpret_cast<uint8_t*>(&value), 2);
    return value;
  } else {
    uint32_t value = 0;
    stream->ReadBytes(reinterpret_cast<uint8_t*>(&value), 4);
    return value;
  }
}

void StandardCodecSerializer::WriteSize(size_t size, ByteStreamWriter* stream) const {
  if (size < 254) {
    stream->WriteByte(static_cast<uint8_t>(size));
  } else if (size <= 0xffff) {
    stream->WriteByte(254);
    uint16_t value = static_cast<uint16_t>(size);
    stream->WriteBytes(reinterpret_cast<uint8_t*>(&value), 2);
  } else {
    stream->WriteByte(255);
    uint32_t value = static_cast<uint32_t>(size);
    stream->WriteBytes(reinterpret_cast<uint8_t*>(&value), 4);
  }
}

template <typename T>
EncodableValue StandardCodecSerializer::ReadVector(ByteStreamReader* stream) const {
  size_t count = ReadSize(stream);
  std::vector<T> vector;
  uint8_t type_size = static_cast<uint8_t>(sizeof(T));
  if (type_size > 1) {
    stream->ReadAlignment(type_size);
  }
  const size_t slice_elements = kReadSliceBytes / sizeof(T);
  while (vector.size() < count) {
    const size_t slice = std::min(count - vector.size(), slice_elements);
    const size_t offset = vector.size();
    vector.resize(offset + slice);
    stream->ReadBytes(reinterpret_cast<uint8_t*>(vector.data() + offset), slice * sizeof(T));
  }
  return EncodableValue(std::move(vector));
}

template <typename T>
void StandardCodecSerializer::WriteVector(const std::vector<T> vector,
                                          ByteStreamWriter* stream) const {
  size_t count = vector.size();
  WriteSize(count, stream);
  // Padded even when empty: Dart's reader always aligns before the elements, so skipping the
  // padding for an empty list would shift every value after it.
  uint8_t type_size = static_cast<uint8_t>(sizeof(T));
  if (type_size > 1) {
    stream->WriteAlignment(type_size);
  }
  if (count == 0) {
    return;
  }
  stream->WriteBytes(reinterpret_cast<const uint8_t*>(vector.data()), count * type_size);
}

// ===== standard_message_codec.h =====

// static
const StandardMessageCodec& StandardMessageCodec::GetInstance(
    const StandardCodecSerializer* serializer) {
  if (!serializer) {
    serializer = &StandardCodecSerializer::GetInstance();
  }
  static std::mutex mutex;
  static auto* sInstances =
      new std::map<const StandardCodecSerializer*, std::unique_ptr<StandardMessageCodec>>;
  std::lock_guard<std::mutex> lock(mutex);
  auto it = sInstances->find(serializer);
  if (it == sInstances->end()) {
    // Uses new due to private constructor (to prevent API clients from accidentally passing
    // temporary codec instances to channels).
    auto emplace_result = sInstances->emplace(
        serializer, std::unique_ptr<StandardMessageCodec>(new StandardMessageCodec(serializer)));
    it = emplace_result.first;
  }
  return *(it->second);
}

StandardMessageCodec::StandardMessageCodec(const StandardCodecSerializer* serializer)
    : serializer_(serializer) {}

StandardMessageCodec::~StandardMessageCodec() = default;

std::unique_ptr<EncodableValue> StandardMessageCodec::DecodeMessageInternal(
    const uint8_t* binary_message, size_t message_size) const {
  // An empty message is how the engine carries a null message.
  if (!binary_message || message_size == 0) {
    return std::make_unique<EncodableValue>();
  }
  try {
    ByteBufferStreamReader stream(binary_message, message_size);
    return std::make_unique<EncodableValue>(serializer_->ReadValue(&stream));
  } catch (const std::exception& error) {
    std::cerr << "Unable to decode message: " << error.what() << std::endl;
    return nullptr;
  }
}

std::unique_ptr<std::vector<uint8_t>> StandardMessageCodec::EncodeMessageInternal(
    const EncodableValue& message) const {
  auto encoded = std::make_unique<std::vector<uint8_t>>();
  ByteBufferStreamWriter stream(encoded.get());
  serializer_->WriteValue(message, &stream);
  return encoded;
}

// ===== standard_method_codec.h =====

// static
const StandardMethodCodec& StandardMethodCodec::GetInstance(
    const StandardCodecSerializer* serializer) {
  if (!serializer) {
    serializer = &StandardCodecSerializer::GetInstance();
  }
  static std::mutex mutex;
  static auto* sInstances =
      new std::map<const StandardCodecSerializer*, std::unique_ptr<StandardMethodCodec>>;
  std::lock_guard<std::mutex> lock(mutex);
  auto it = sInstances->find(serializer);
  if (it == sInstances->end()) {
    // Uses new due to private constructor (to prevent API clients from accidentally passing
    // temporary codec instances to channels).
    auto emplace_result = sInstances->emplace(
        serializer, std::unique_ptr<StandardMethodCodec>(new StandardMethodCodec(serializer)));
    it = emplace_result.first;
  }
  return *(it->second);
}

StandardMethodCodec::StandardMethodCodec(const StandardCodecSerializer* serializer)
    : serializer_(serializer) {}

StandardMethodCodec::~StandardMethodCodec() = default;

std::unique_ptr<MethodCall<EncodableValue>> StandardMethodCodec::DecodeMethodCallInternal(
    const uint8_t* message, size_t message_size) const {
  if (!message || message_size == 0) {
    return nullptr;
  }
  try {
    ByteBufferStreamReader stream(message, message_size);
    EncodableValue method_name_value = serializer_->ReadValue(&stream);
    const auto* method_name = std::get_if<std::string>(&method_name_value);
    if (!method_name) {
      std::cerr << "Invalid method call; method name is not a string." << std::endl;
      return nullptr;
    }
    auto arguments = std::make_unique<EncodableValue>(serializer_->ReadValue(&stream));
    return std::make_unique<MethodCall<EncodableValue>>(*method_name, std::move(arguments));
  } catch (const std::exception& error) {
    std::cerr << "Invalid method call: " << error.what() << std::endl;
    return nullptr;
  }
}

std::unique_ptr<std::vector<uint8_t>> StandardMethodCodec::EncodeMethodCallInternal(
    const MethodCall<EncodableValue>& method_call) const {
  auto encoded = std::make_unique<std::vector<uint8_t>>();
  ByteBufferStreamWriter stream(encoded.get());
  serializer_->WriteValue(EncodableValue(method_call.method_name()), &stream);
  if (method_call.arguments()) {
    serializer_->WriteValue(*method_call.arguments(), &stream);
  } else {
    serializer_->WriteValue(EncodableValue(), &stream);
  }
  return encoded;
}

std::unique_ptr<std::vector<uint8_t>> StandardMethodCodec::EncodeSuccessEnvelopeInternal(
    const EncodableValue* result) const {
  auto encoded = std::make_unique<std::vector<uint8_t>>();
  ByteBufferStreamWriter stream(encoded.get());
  stream.WriteByte(0);
  if (result) {
    serializer_->WriteValue(*result, &stream);
  } else {
    serializer_->WriteValue(EncodableValue(), &stream);
  }
  return encoded;
}

std::unique_ptr<std::vector<uint8_t>> StandardMethodCodec::EncodeErrorEnvelopeInternal(
    const std::string& error_code, const std::string& error_message,
    const EncodableValue* error_details) const {
  auto encoded = std::make_unique<std::vector<uint8_t>>();
  ByteBufferStreamWriter stream(encoded.get());
  stream.WriteByte(1);
  serializer_->WriteValue(EncodableValue(error_code), &stream);
  if (error_message.empty()) {
    serializer_->WriteValue(EncodableValue(), &stream);
  } else {
    serializer_->WriteValue(EncodableValue(error_message), &stream);
  }
  if (error_details) {
    serializer_->WriteValue(*error_details, &stream);
  } else {
    serializer_->WriteValue(EncodableValue(), &stream);
  }
  return encoded;
}

bool StandardMethodCodec::DecodeAndProcessResponseEnvelopeInternal(
    const uint8_t* response, size_t response_size, MethodResult<EncodableValue>* result) const {
  if (!response || response_size == 0) {
    return false;
  }
  // Decode everything first, so a malformed envelope reaches |result| not at all.
  EncodableValue value;
  EncodableValue code;
  EncodableValue message;
  EncodableValue details;
  uint8_t flag = 0;
  try {
    ByteBufferStreamReader stream(response, response_size);
    flag = stream.ReadByte();
    if (flag == 0) {
      value = serializer_->ReadValue(&stream);
    } else if (flag == 1) {
      code = serializer_->ReadValue(&stream);
      message = serializer_->ReadValue(&stream);
      details = serializer_->ReadValue(&stream);
    } else {
      return false;
    }
  } catch (const std::exception& error) {
    std::cerr << "Invalid response envelope: " << error.what() << std::endl;
    return false;
  }
  if (flag == 0) {
    if (value.IsNull()) {
      result->Success();
    } else {
      result->Success(value);
    }
    return true;
  }
  const auto* code_string = std::get_if<std::string>(&code);
  const auto* message_string = std::get_if<std::string>(&message);
  if (!code_string || (!message.IsNull() && !message_string)) {
    return false;
  }
  const std::string empty;
  const std::string& message_text = message_string ? *message_string : empty;
  if (details.IsNull()) {
    result->Error(*code_string, message_text);
  } else {
    result->Error(*code_string, message_text, details);
  }
  return true;
}

}  // namespace flutter
