#include "ipc/status_payload.h"

#include <gtest/gtest.h>

namespace zelvora::ipc {
namespace {

StatusPayload Parsed(const std::string& body) {
  StatusPayload status;
  std::string error;
  EXPECT_TRUE(ParseStatusResponse(body, &status, &error)) << body;
  EXPECT_EQ(error, "");
  return status;
}

TEST(IpcStatusPayload, BareOkIsAnIdleRecord) {
  const StatusPayload status = Parsed("OK");
  EXPECT_FALSE(status.running);
  EXPECT_FALSE(status.tunnel);
  EXPECT_EQ(status.up, 0u);
  EXPECT_EQ(status.down, 0u);
}

TEST(IpcStatusPayload, ReadsEveryKeyInAnyOrderAndAnyWhitespace) {
  StatusPayload status = Parsed("OK running=1 tunnel=0 up=123 down=456");
  EXPECT_TRUE(status.running);
  EXPECT_FALSE(status.tunnel);
  EXPECT_EQ(status.up, 123u);
  EXPECT_EQ(status.down, 456u);

  status = Parsed("OK\tdown=9\r\n  tunnel=1\vup=8 running=0\n");
  EXPECT_FALSE(status.running);
  EXPECT_TRUE(status.tunnel);
  EXPECT_EQ(status.up, 8u);
  EXPECT_EQ(status.down, 9u);
}

TEST(IpcStatusPayload, OnlyOneIsTrue) {
  EXPECT_FALSE(Parsed("OK running=true").running);
  EXPECT_FALSE(Parsed("OK running=11").running);
  EXPECT_FALSE(Parsed("OK tunnel=").tunnel);
  EXPECT_TRUE(Parsed("OK tunnel=1").tunnel);
}

TEST(IpcStatusPayload, BadTokensAreSkippedAndParsingGoesOn) {
  StatusPayload status = Parsed("OK up=abc down=7");
  EXPECT_EQ(status.up, 0u);
  EXPECT_EQ(status.down, 7u);

  status = Parsed("OK junk =5 up==3 speed=9 up=12x down=99999999999999999999 running=1");
  EXPECT_EQ(status.up, 0u);
  EXPECT_EQ(status.down, 0u);
  EXPECT_TRUE(status.running);
}

TEST(IpcStatusPayload, RepeatedKeysOverwriteButBadValuesKeepTheEarlierOne) {
  StatusPayload status = Parsed("OK up=5 up=6 running=1 running=0");
  EXPECT_EQ(status.up, 6u);
  EXPECT_FALSE(status.running);
  EXPECT_EQ(Parsed("OK up=5 up=oops").up, 5u);
}

TEST(IpcStatusPayload, NumbersSpanTheSignedRangeButNeverGoNegative) {
  EXPECT_EQ(Parsed("OK up=9223372036854775807").up, 9223372036854775807ull);
  EXPECT_EQ(Parsed("OK up=9223372036854775808").up, 0u);
  EXPECT_EQ(Parsed("OK up=+42").up, 42u);
  EXPECT_EQ(Parsed("OK up=-0").up, 0u);
  // A negative total is not a byte count: the field keeps its earlier value.
  EXPECT_EQ(Parsed("OK up=10 up=-1").up, 10u);
  EXPECT_EQ(Parsed("OK down=-9223372036854775808").down, 0u);
  EXPECT_EQ(Parsed("OK up=- up=+").up, 0u);
}

TEST(IpcStatusPayload, BodiesNotStartingWithOkFailWithTheWholeBodyAsText) {
  StatusPayload status;
  status.up = 77;
  std::string error;
  EXPECT_FALSE(ParseStatusResponse("NO", &status, &error));
  EXPECT_EQ(error, "NO");
  EXPECT_EQ(status.up, 77u);

  EXPECT_FALSE(ParseStatusResponse("O", &status, &error));
  EXPECT_EQ(error, "O");
  EXPECT_FALSE(ParseStatusResponse("", &status, &error));
  EXPECT_EQ(error, "");
  EXPECT_FALSE(ParseStatusResponse(" OK running=1", nullptr, nullptr));
}

TEST(IpcStatusPayload, SuccessLeavesTheErrorTextAndAcceptsNoOutputs) {
  std::string error = "earlier";
  StatusPayload status;
  EXPECT_TRUE(ParseStatusResponse("OKrunning=1", &status, &error));
  EXPECT_TRUE(status.running);
  EXPECT_EQ(error, "earlier");
  EXPECT_TRUE(ParseStatusResponse("OK up=1", nullptr, nullptr));
}

}  // namespace
}  // namespace zelvora::ipc
