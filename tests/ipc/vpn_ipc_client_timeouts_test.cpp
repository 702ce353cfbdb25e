// The slow cases: every limit here is the client's real constant, so each runs once.
#include <gtest/gtest.h>
#include <windows.h>

#include <chrono>
#include <string>
#include <thread>

#include "ipc/request_policy.h"
#include "ipc/vpn_ipc_client.h"
#include "ipc_service_env.h"
#include "support/held_mutex.h"

namespace zelvora::ipc {
namespace {

using IpcClientTimeoutTest = TunnelServiceTest;

TEST_F(IpcClientTimeoutTest, SilentServiceTimesOutAndLeavesNothingPending) {
  ASSERT_TRUE(tunnel_fixture::StartTunnelService());
  SetBehaviour("status=silent\n");
  std::string error;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(VpnIpcClient::QueryStatus(nullptr, &error));
  const long long elapsed = MillisSince(start);
  EXPECT_EQ(error, kTextTransportFailed);
  EXPECT_GE(elapsed, 4900);
  EXPECT_LE(elapsed, 30000);  // a hang catcher: the limit is 5 s

  // The cancelled read is gone and the pipe closed: the next exchange goes through.
  SetBehaviour("");
  EXPECT_TRUE(VpnIpcClient::Ping(&error)) << error;
}

TEST_F(IpcClientTimeoutTest, StopWaitingBehindALongStartIsBusy) {
  ASSERT_TRUE(tunnel_fixture::StartTunnelService());
  SetBehaviour("delay_ms=8000\n");

  bool start_ok = false;
  std::string start_error;
  std::thread starter([&] { start_ok = VpnIpcClient::Start("{}", false, &start_error); });
  ASSERT_TRUE(WaitUntilHeldElsewhere(kIpcClientMutexName));  // the start holds it

  std::string error;
  const auto stop_began = std::chrono::steady_clock::now();
  EXPECT_FALSE(VpnIpcClient::Stop(&error));
  const long long waited = MillisSince(stop_began);
  starter.join();

  // It waited its turn up to the mutex's limit, then gave up (waiting for the whole start
  // would have got the mutex and sent the stop).
  EXPECT_EQ(error, kTextBusy);
  EXPECT_GE(waited, 6900);
  EXPECT_TRUE(start_ok) << start_error;
  SetBehaviour("");
}

// A trusted service that drips its reply a byte at a time gets one limit for the whole
// exchange, not one per byte.
TEST_F(IpcClientTimeoutTest, DrippedReplyIsBoundedAsAWhole) {
  ASSERT_TRUE(tunnel_fixture::StartTunnelService());
  SetBehaviour("status=drip:1000\n");  // about 35 s for the whole body
  std::string error;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(VpnIpcClient::QueryStatus(nullptr, &error));
  const long long elapsed = MillisSince(start);
  EXPECT_EQ(error, kTextTransportFailed);
  EXPECT_GE(elapsed, static_cast<long long>(LimitsFor(Command::Status).io_ms) - 100);
  // Far below the 35 s a per-byte limit would allow.
  EXPECT_LT(elapsed, static_cast<long long>(LimitsFor(Command::Status).io_ms) + 20000);
  SetBehaviour("");
}

}  // namespace
}  // namespace zelvora::ipc
