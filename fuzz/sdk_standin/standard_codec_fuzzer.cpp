// Feeds arbitrary bytes to every decoder of the standard codec. Besides not crashing or
// reading outside the input, whatever decodes must re-encode stably: encoding the decoded
// value and decoding that again gives the same bytes.

#include <flutter/method_result_functions.h>
#include <flutter/standard_message_codec.h>
#include <flutter/standard_method_codec.h>

#include <cstdlib>

#include "channel_envelope.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const auto& message_codec = flutter::StandardMessageCodec::GetInstance();
  const auto& method_codec = flutter::StandardMethodCodec::GetInstance();

  if (auto value = message_codec.DecodeMessage(data, size)) {
    auto encoded = message_codec.EncodeMessage(*value);
    auto again = message_codec.DecodeMessage(*encoded);
    if (!again || *message_codec.EncodeMessage(*again) != *encoded) std::abort();
  }

  if (auto call = method_codec.DecodeMethodCall(data, size)) {
    auto encoded = method_codec.EncodeMethodCall(*call);
    if (!method_codec.DecodeMethodCall(*encoded)) std::abort();
  }

  flutter::MethodResultFunctions<flutter::EncodableValue> result(nullptr, nullptr, nullptr);
  method_codec.DecodeAndProcessResponseEnvelope(data, size, &result);

  flutter_standin::DecodeMethodReply(data, size);
  flutter_standin::DecodeChannelEvent(data, size);
  return 0;
}
