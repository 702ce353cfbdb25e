// Channel buffer control: the engine buffers messages for channels whose Dart side is not
// listening yet; these requests on the control channel resize that buffer or silence its
// overflow warnings.

#include <flutter/basic_message_channel.h>
#include <flutter/byte_buffer_streams.h>
#include <flutter/encodable_value.h>
#include <flutter/standard_codec_serializer.h>

namespace flutter {
namespace internal {

namespace {

constexpr char kControlChannelName[] = "dev.flutter/channel-buffers";

void SendControlCall(BinaryMessenger* messenger, const std::string& method,
                     const EncodableList& arguments) {
  std::vector<uint8_t> message;
  ByteBufferStreamWriter stream(&message);
  const auto& serializer = StandardCodecSerializer::GetInstance();
  serializer.WriteValue(EncodableValue(method), &stream);
  serializer.WriteValue(EncodableValue(arguments), &stream);
  messenger->Send(kControlChannelName, message.data(), message.size());
}

}  // namespace

void ResizeChannel(BinaryMessenger* messenger, std::string name, int new_size) {
  SendControlCall(messenger, "resize",
                  EncodableList{EncodableValue(name), EncodableValue(int32_t{new_size})});
}

void SetChannelWarnsOnOverflow(BinaryMessenger* messenger, std::string name, bool warns) {
  SendControlCall(messenger, "overflow",
                  EncodableList{EncodableValue(name), EncodableValue(!warns)});
}

}  // namespace internal
}  // namespace flutter
