// How the host side reads replies and events that are not what they should be.

#include "channel_envelope.h"

#include <gtest/gtest.h>

namespace {

using flutter::EncodableValue;
using flutter_standin::DecodeChannelEvent;
using flutter_standin::DecodeMethodReply;
using flutter_standin::EventKind;
using flutter_standin::ReplyKind;
using Bytes = std::vector<uint8_t>;

TEST(ChannelEnvelopeTest, CallsTrailingOrMissingBytesMalformed) {
  for (const Bytes& bad : {Bytes{0, 0, 0}, Bytes{0}, Bytes{9, 0}, Bytes{1, 0, 0, 0},
                           Bytes{1, 7, 1, 'E', 3, 1, 0, 0, 0, 0}}) {
    EXPECT_EQ(DecodeMethodReply(bad.data(), bad.size()).kind, ReplyKind::kMalformed);
    EXPECT_EQ(DecodeChannelEvent(bad.data(), bad.size()).kind, EventKind::kMalformed);
  }
}

// What the host makes of an empty reply or event: the engine's "nobody answered" and the end
// of a stream. (Well-formed replies and events are the channel host tests'.)
TEST(ChannelEnvelopeTest, EmptyMeansNotImplementedOrEndOfStream) {
  EXPECT_EQ(DecodeMethodReply(nullptr, 0).kind, ReplyKind::kNotImplemented);
  EXPECT_EQ(DecodeChannelEvent(nullptr, 0).kind, EventKind::kEndOfStream);
}

}  // namespace
