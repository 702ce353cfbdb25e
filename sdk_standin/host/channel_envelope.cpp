#include "channel_envelope.h"

#include <flutter/byte_buffer_streams.h>
#include <flutter/standard_codec_serializer.h>

namespace flutter_standin {

namespace {

// Common shape of replies and events: 0 + value, or 1 + code + message + details.
struct Envelope {
  bool ok = false;
  bool is_error = false;
  flutter::EncodableValue value;
  std::string error_code;
  std::optional<std::string> error_message;
  flutter::EncodableValue error_details;
};

Envelope DecodeEnvelope(const uint8_t* data, size_t size) {
  Envelope envelope;
  const auto& serializer = flutter::StandardCodecSerializer::GetInstance();
  try {
    flutter::ByteBufferStreamReader stream(data, size);
    const uint8_t flag = stream.ReadByte();
    if (flag == 0) {
      envelope.value = serializer.ReadValue(&stream);
    } else if (flag == 1) {
      flutter::EncodableValue code = serializer.ReadValue(&stream);
      flutter::EncodableValue message = serializer.ReadValue(&stream);
      envelope.error_details = serializer.ReadValue(&stream);
      const auto* code_text = std::get_if<std::string>(&code);
      const auto* message_text = std::get_if<std::string>(&message);
      if (!code_text || (!message.IsNull() && !message_text)) return envelope;
      envelope.error_code = *code_text;
      if (message_text) envelope.error_message = *message_text;
      envelope.is_error = true;
    } else {
      return envelope;
    }
    // A whole envelope and nothing after it; trailing bytes mean the sender miscounted.
    if (stream.remaining() != 0) return envelope;
  } catch (const std::exception&) {
    return envelope;
  }
  envelope.ok = true;
  return envelope;
}

}  // namespace

MethodReply DecodeMethodReply(const uint8_t* data, size_t size) {
  MethodReply reply;
  if (size > 0) reply.bytes.assign(data, data + size);
  if (size == 0) {
    reply.kind = ReplyKind::kNotImplemented;
    return reply;
  }
  Envelope envelope = DecodeEnvelope(data, size);
  if (!envelope.ok) {
    reply.kind = ReplyKind::kMalformed;
  } else if (envelope.is_error) {
    reply.kind = ReplyKind::kError;
    reply.error_code = std::move(envelope.error_code);
    reply.error_message = std::move(envelope.error_message);
    reply.error_details = std::move(envelope.error_details);
  } else {
    reply.kind = ReplyKind::kSuccess;
    reply.result = std::move(envelope.value);
  }
  return reply;
}

ChannelEvent DecodeChannelEvent(const uint8_t* data, size_t size) {
  ChannelEvent event;
  if (size > 0) event.bytes.assign(data, data + size);
  if (size == 0) {
    event.kind = EventKind::kEndOfStream;
    return event;
  }
  Envelope envelope = DecodeEnvelope(data, size);
  if (!envelope.ok) {
    event.kind = EventKind::kMalformed;
  } else if (envelope.is_error) {
    event.kind = EventKind::kError;
    event.error_code = std::move(envelope.error_code);
    event.error_message = std::move(envelope.error_message);
    event.error_details = std::move(envelope.error_details);
  } else {
    event.kind = EventKind::kSuccess;
    event.value = std::move(envelope.value);
  }
  return event;
}

std::vector<uint8_t> EncodeMethodCall(const std::string& method,
                                      const flutter::EncodableValue& arguments) {
  std::vector<uint8_t> bytes;
  flutter::ByteBufferStreamWriter stream(&bytes);
  const auto& serializer = flutter::StandardCodecSerializer::GetInstance();
  serializer.WriteValue(flutter::EncodableValue(method), &stream);
  serializer.WriteValue(arguments, &stream);
  return bytes;
}

const char* ReplyKindName(ReplyKind kind) {
  switch (kind) {
    case ReplyKind::kSuccess:
      return "success";
    case ReplyKind::kError:
      return "error";
    case ReplyKind::kNotImplemented:
      return "notImplemented";
    case ReplyKind::kMalformed:
      return "malformed";
    case ReplyKind::kTimedOut:
      return "timeout";
  }
  return "unknown";
}

const char* EventKindName(EventKind kind) {
  switch (kind) {
    case EventKind::kSuccess:
      return "event";
    case EventKind::kError:
      return "error";
    case EventKind::kEndOfStream:
      return "endOfStream";
    case EventKind::kMalformed:
      return "malformed";
  }
  return "unknown";
}

}  // namespace flutter_standin
