// How the host side reads replies and events (what the Dart side would make of the bytes).

#include "channel_envelope.h"

#include <gtest/gtest.h>

namespace {

using flutter::EncodableValue;
using flutter_standin::DecodeChannelEvent;
using flutter_standin::DecodeMethodReply;
using flutter_standin::EventKind;
using flutter_standin::ReplyKind;
using Bytes = std::vector<uint8_t>;

TEST(ChannelEnvelopeTest, DecodesReplies) {
  Bytes success{0, 7, 2, 'o', 'k'};
  auto reply = DecodeMethodReply(success.data(), success.size());
  EXPECT_EQ(reply.kind, ReplyKind::kSuccess);
  EXPECT_EQ(reply.result, EncodableValue(std::string("ok")));
  EXPECT_EQ(reply.bytes, success);

  Bytes null_message{1, 7, 1, 'E', 0, 0};
  reply = DecodeMethodReply(null_message.data(), null_message.size());
  EXPECT_EQ(reply.kind, ReplyKind::kError);
  EXPECT_EQ(reply.error_code, "E");
  EXPECT_FALSE(reply.error_message.has_value());
  EXPECT_TRUE(reply.error_details.IsNull());

  Bytes with_message{1, 7, 1, 'E', 7, 1, 'm', 1};
  reply = DecodeMethodReply(with_message.data(), with_message.size());
  EXPECT_EQ(reply.error_message, std::optional<std::string>("m"));
  EXPECT_EQ(reply.error_details, EncodableValue(true));

  EXPECT_EQ(DecodeMethodReply(nullptr, 0).kind, ReplyKind::kNotImplemented);
}

TEST(ChannelEnvelopeTest, CallsTrailingOrMissingBytesMalformed) {
  for (const Bytes& bad : {Bytes{0, 0, 0}, Bytes{0}, Bytes{9, 0}, Bytes{1, 0, 0, 0},
                           Bytes{1, 7, 1, 'E', 3, 1, 0, 0, 0, 0}}) {
    EXPECT_EQ(DecodeMethodReply(bad.data(), bad.size()).kind, ReplyKind::kMalformed);
    EXPECT_EQ(DecodeChannelEvent(bad.data(), bad.size()).kind, EventKind::kMalformed);
  }
}

TEST(ChannelEnvelopeTest, DecodesEvents) {
  Bytes event{0, 3, 4, 0, 0, 0};
  auto decoded = DecodeChannelEvent(event.data(), event.size());
  EXPECT_EQ(decoded.kind, EventKind::kSuccess);
  EXPECT_EQ(decoded.value, EncodableValue(int32_t{4}));
  EXPECT_EQ(DecodeChannelEvent(nullptr, 0).kind, EventKind::kEndOfStream);
  Bytes error{1, 7, 1, 'X', 7, 1, 'y', 0};
  decoded = DecodeChannelEvent(error.data(), error.size());
  EXPECT_EQ(decoded.kind, EventKind::kError);
  EXPECT_EQ(decoded.error_code, "X");
}

TEST(ChannelEnvelopeTest, EncodesMethodCallsAsDartDoes) {
  EXPECT_EQ(flutter_standin::EncodeMethodCall("listen", EncodableValue()),
            Bytes({7, 6, 'l', 'i', 's', 't', 'e', 'n', 0}));
}

}  // namespace
