#include "ipc/request_policy.h"

#include <gtest/gtest.h>

namespace zelvora::ipc {
namespace {

TEST(IpcRequestPolicy, LimitsPerCommand) {
  const RequestLimits ping = LimitsFor(Command::Ping);
  EXPECT_EQ(ping.mutex_ms, 3000u);
  EXPECT_EQ(ping.wait_pipe_ms, 2500u);
  EXPECT_EQ(ping.io_ms, 5000u);
  const RequestLimits start = LimitsFor(Command::Start);
  EXPECT_EQ(start.mutex_ms, 6000u);
  EXPECT_EQ(start.wait_pipe_ms, 5000u);
  EXPECT_EQ(start.io_ms, 10000u);
  const RequestLimits stop = LimitsFor(Command::Stop);
  EXPECT_EQ(stop.mutex_ms, 7000u);
  EXPECT_EQ(stop.wait_pipe_ms, 6000u);
  EXPECT_EQ(stop.io_ms, 15000u);
  const RequestLimits status = LimitsFor(Command::Status);
  EXPECT_EQ(status.mutex_ms, 3000u);
  EXPECT_EQ(status.wait_pipe_ms, 2500u);
  EXPECT_EQ(status.io_ms, 5000u);
}

TEST(IpcRequestPolicy, RequestLogLines) {
  EXPECT_EQ(RequestLogLine(Command::Ping, 0), "IPC client ping request");
  EXPECT_EQ(RequestLogLine(Command::Stop, 0), "IPC client stop request");
  EXPECT_EQ(RequestLogLine(Command::Start, 1234), "IPC client start request (payload bytes=1234)");
  EXPECT_EQ(RequestLogLine(Command::Status, 0), "");
  EXPECT_EQ(CannotConnectText(231), "Cannot connect to Zelvora tunnel service (error 231).");
}

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
