#include "ipc/request_policy.h"

#include <gtest/gtest.h>

namespace zelvora::ipc {
namespace {

TEST(IpcRequestPolicy, PipeIsTrustedOnlyWhenServedByTheRunningService) {
  EXPECT_TRUE(DecidePipeTrust(1200, 4, 1200).trusted);
  EXPECT_EQ(DecidePipeTrust(1200, 4, 1200).log_line, "");

  const TrustVerdict impostor = DecidePipeTrust(3400, 4, 1200);
  EXPECT_FALSE(impostor.trusted);
  EXPECT_EQ(impostor.log_line, "IPC trust: pipe pid=3400 != service pid=1200");

  const TrustVerdict stopped = DecidePipeTrust(3400, 1, 0);
  EXPECT_FALSE(stopped.trusted);
  EXPECT_EQ(stopped.log_line, "IPC trust: service not running (state=1)");
  // A running state without a process id cannot vouch for anyone, not even pid 0.
  EXPECT_EQ(DecidePipeTrust(0, 4, 0).log_line, "IPC trust: service not running (state=4)");
  EXPECT_FALSE(DecidePipeTrust(1200, 2, 1200).trusted);  // start pending
}

}  // namespace
}  // namespace zelvora::ipc
