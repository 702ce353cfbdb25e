#include "ipc/wire_format.h"

#include <gtest/gtest.h>

#include <string>

namespace zelvora::ipc {
namespace {

// Serves reads from a fixed byte string and counts what was asked for.
struct ScriptedPipe {
  std::string bytes;
  std::size_t offset = 0;
  std::size_t reads = 0;

  ExactReader Reader() {
    return [this](char* data, std::size_t count) {
      ++reads;
      if (bytes.size() - offset < count) return false;
      bytes.copy(data, count, offset);
      offset += count;
      return true;
    };
  }
};

std::string LengthField(std::uint32_t value) {
  return std::string{static_cast<char>(value & 0xFF), static_cast<char>((value >> 8) & 0xFF),
                     static_cast<char>((value >> 16) & 0xFF), static_cast<char>(value >> 24)};
}

TEST(IpcWireFormat, RequestHeaderIsCommandThenLengthLittleEndian) {
  EXPECT_EQ(EncodeRequestHeader(Command::Start, 0x01020304u),
            std::string("\x02\x00\x00\x00\x04\x03\x02\x01", 8));
  EXPECT_EQ(EncodeRequestHeader(Command::Status, 0), std::string("\x04\0\0\0\0\0\0\0", 8));
}

TEST(IpcWireFormat, StartPayloadCarriesFlagLineFeedAndConfigUnchanged) {
  const std::string config = "{\"a\":\"\xC3\xA9\"}\r\n\0tail";
  EXPECT_EQ(BuildStartPayload(config, true), "1\n" + config);
  EXPECT_EQ(BuildStartPayload("", false), "0\n");
}

TEST(IpcWireFormat, CommandNamesForLogLines) {
  EXPECT_STREQ(CommandLogName(Command::Ping), "ping");
  EXPECT_STREQ(CommandLogName(Command::Start), "start");
  EXPECT_STREQ(CommandLogName(Command::Stop), "stop");
  EXPECT_STREQ(CommandLogName(Command::Status), "status");
  EXPECT_STREQ(CommandLogName(0u), "unknown");
  EXPECT_STREQ(CommandLogName(5u), "unknown");
}

TEST(IpcWireFormat, ResponseFrameReadsExactlyTheAnnouncedBody) {
  ScriptedPipe pipe{LengthField(5) + "OK up" + "trailing"};
  std::string body;
  ASSERT_TRUE(ReadResponseFrame(pipe.Reader(), &body));
  EXPECT_EQ(body, "OK up");
  EXPECT_EQ(pipe.offset, 9u);
}

TEST(IpcWireFormat, ZeroLengthIsAnEmptyBodyWithoutASecondRead) {
  ScriptedPipe pipe{LengthField(0)};
  std::string body = "stale";
  ASSERT_TRUE(ReadResponseFrame(pipe.Reader(), &body));
  EXPECT_EQ(body, "");
  EXPECT_EQ(pipe.reads, 1u);
}

TEST(IpcWireFormat, OversizedLengthFailsBeforeReadingTheBody) {
  ScriptedPipe pipe{LengthField(kMaxResponseBodyBytes + 1) + "OK"};
  std::string body = "untouched";
  EXPECT_FALSE(ReadResponseFrame(pipe.Reader(), &body));
  EXPECT_EQ(pipe.reads, 1u);
  EXPECT_EQ(pipe.offset, 4u);
  EXPECT_EQ(body, "untouched");

  ScriptedPipe huge{LengthField(0xFFFFFFFFu)};
  EXPECT_FALSE(ReadResponseFrame(huge.Reader(), &body));
  EXPECT_EQ(huge.reads, 1u);
}

TEST(IpcWireFormat, LargestAllowedBodyIsRead) {
  ScriptedPipe pipe{LengthField(kMaxResponseBodyBytes) + std::string(kMaxResponseBodyBytes, 'x')};
  std::string body;
  ASSERT_TRUE(ReadResponseFrame(pipe.Reader(), &body));
  EXPECT_EQ(body.size(), kMaxResponseBodyBytes);
}

TEST(IpcWireFormat, TruncatedFramesFailAndLeaveTheBodyAlone) {
  std::string body = "untouched";
  ScriptedPipe short_length{std::string("\x02\x00", 2)};
  EXPECT_FALSE(ReadResponseFrame(short_length.Reader(), &body));
  ScriptedPipe short_body{LengthField(10) + "OK"};
  EXPECT_FALSE(ReadResponseFrame(short_body.Reader(), &body));
  EXPECT_EQ(body, "untouched");
}

TEST(IpcWireFormat, RepliesAreOkRefusedOrNeither) {
  EXPECT_EQ(ClassifyReply("OK").kind, ReplyKind::Ok);
  EXPECT_EQ(ClassifyReply("OKAY anything").kind, ReplyKind::Ok);

  const Reply refused = ClassifyReply("ERR: config rejected\n  line 2");
  EXPECT_EQ(refused.kind, ReplyKind::Refused);
  EXPECT_EQ(refused.reason, " config rejected\n  line 2");
  const Reply bare = ClassifyReply("ERR:");
  EXPECT_EQ(bare.kind, ReplyKind::Refused);
  EXPECT_EQ(bare.reason, "");

  EXPECT_EQ(ClassifyReply("ERR").kind, ReplyKind::NotOk);
  EXPECT_EQ(ClassifyReply("O").kind, ReplyKind::NotOk);
  EXPECT_EQ(ClassifyReply("").kind, ReplyKind::NotOk);
  EXPECT_EQ(ClassifyReply("ok").kind, ReplyKind::NotOk);
}

}  // namespace
}  // namespace zelvora::ipc
