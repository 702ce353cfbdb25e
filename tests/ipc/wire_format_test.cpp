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

// What the reader takes from the pipe for each frame shape, and what the caller gets.
TEST(IpcWireFormat, ResponseFramesAreReadExactlyAsAnnounced) {
  struct Case {
    const char* what;
    std::string bytes;
    bool ok;
    std::string body;  // the caller's body afterwards (it starts as "untouched")
    std::size_t reads;
    std::size_t consumed;
  };
  const std::string kept = "untouched";
  const Case cases[] = {
      {"body, then the next frame", LengthField(5) + "OK up" + "trailing", true, "OK up", 2, 9},
      {"empty body needs no second read", LengthField(0), true, "", 1, 4},
      {"length above the limit", LengthField(kMaxResponseBodyBytes + 1) + "OK", false, kept, 1, 4},
      {"largest length field", LengthField(0xFFFFFFFFu), false, kept, 1, 4},
      {"truncated length", std::string("\x02\x00", 2), false, kept, 1, 0},
      {"truncated body", LengthField(10) + "OK", false, kept, 2, 4},
  };
  for (const Case& c : cases) {
    ScriptedPipe pipe{c.bytes};
    std::string body = "untouched";
    EXPECT_EQ(ReadResponseFrame(pipe.Reader(), &body), c.ok) << c.what;
    EXPECT_EQ(body, c.body) << c.what;
    EXPECT_EQ(pipe.reads, c.reads) << c.what;
    EXPECT_EQ(pipe.offset, c.consumed) << c.what;
  }
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
