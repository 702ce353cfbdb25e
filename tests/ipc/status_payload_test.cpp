#include "ipc/status_payload.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>

namespace zelvora::ipc {
namespace {

// Replies of the service as it may send them, and the record each one yields.
TEST(IpcStatusPayload, OkBodiesYieldTheirRecord) {
  struct Case {
    const char* body;
    bool running, tunnel;
    unsigned long long up, down;
  };
  const Case cases[] = {
      {"OK", false, false, 0, 0},
      {"OK running=1 tunnel=0 up=123 down=456", true, false, 123, 456},
      {"OK\tdown=9\r\n  tunnel=1\vup=8 running=0\n", false, true, 8, 9},
      {"OKrunning=1", true, false, 0, 0},
      // Only "1" is true.
      {"OK running=true tunnel=11", false, false, 0, 0},
      // Bad tokens are skipped and parsing goes on.
      {"OK up=abc down=7", false, false, 0, 7},
      {"OK junk =5 up==3 speed=9 up=12x down=99999999999999999999 running=1", true, false, 0, 0},
      // Repeated keys overwrite; a bad value keeps the earlier one.
      {"OK up=5 up=6 up=oops running=1 running=0", false, false, 6, 0},
      // Numbers span the signed range but never go negative.
      {"OK up=9223372036854775807", false, false, 9223372036854775807ull, 0},
      {"OK up=9223372036854775808", false, false, 0, 0},
      {"OK up=+42 down=-0 up=-", false, false, 42, 0},
      {"OK up=10 up=-1 down=-9223372036854775808", false, false, 10, 0},
  };
  for (const Case& c : cases) {
    StatusPayload status;
    std::string error = "earlier";
    ASSERT_TRUE(ParseStatusResponse(c.body, &status, &error)) << c.body;
    EXPECT_EQ(error, "earlier") << c.body;  // success leaves the text alone
    EXPECT_EQ(std::tie(status.running, status.tunnel, status.up, status.down),
              std::tie(c.running, c.tunnel, c.up, c.down))
        << c.body;
  }
  EXPECT_TRUE(ParseStatusResponse("OK up=1", nullptr, nullptr));
}

TEST(IpcStatusPayload, BodiesNotStartingWithOkFailWithTheWholeBodyAsText) {
  for (const std::string body : {"NO", "O", "", " OK running=1"}) {
    StatusPayload status;
    status.up = 77;
    std::string error = "earlier";
    EXPECT_FALSE(ParseStatusResponse(body, &status, &error));
    EXPECT_EQ(error, body);
    EXPECT_EQ(status.up, 77u) << body;
  }
  EXPECT_FALSE(ParseStatusResponse("NO", nullptr, nullptr));
}

}  // namespace
}  // namespace zelvora::ipc
