// What the Dart side makes of the bytes a plug-in sends back: replies to method calls and
// event-channel events, decoded with the standard method codec. Portable.
#pragma once

#include <flutter/encodable_value.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace flutter_standin {

enum class ReplyKind {
  kSuccess,         // success envelope; `result` holds the value
  kError,           // error envelope; `error_*` hold code, message and details
  kNotImplemented,  // empty reply
  kMalformed,       // bytes that are no envelope at all
  kTimedOut,        // no reply arrived in time (or the registrar was gone)
};

struct MethodReply {
  ReplyKind kind = ReplyKind::kTimedOut;
  flutter::EncodableValue result;
  std::string error_code;
  std::optional<std::string> error_message;  // nullopt when the envelope carried null
  flutter::EncodableValue error_details;
  std::vector<uint8_t> bytes;  // the reply as received
};

enum class EventKind {
  kSuccess,      // an event; `value` holds it
  kError,        // an error event
  kEndOfStream,  // an empty message
  kMalformed,    // bytes that are no envelope
};

struct ChannelEvent {
  EventKind kind = EventKind::kMalformed;
  flutter::EncodableValue value;
  std::string error_code;
  std::optional<std::string> error_message;
  flutter::EncodableValue error_details;
  std::vector<uint8_t> bytes;
};

// Decodes a reply to a method call: success or error envelope, empty = not implemented.
MethodReply DecodeMethodReply(const uint8_t* data, size_t size);

// Decodes one message of an event channel: success or error envelope, empty = end of stream.
ChannelEvent DecodeChannelEvent(const uint8_t* data, size_t size);

// Encodes a method call as Dart sends it: name, then the arguments value.
std::vector<uint8_t> EncodeMethodCall(const std::string& method,
                                      const flutter::EncodableValue& arguments);

const char* ReplyKindName(ReplyKind kind);
const char* EventKindName(EventKind kind);

}  // namespace flutter_standin
