// The client against the real SCM and the reference service under Wine.
#include "ipc/vpn_ipc_client.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <memory>
#include <string>

#include "common/unique_handle.h"
#include "ipc/request_policy.h"
#include "ipc_service_env.h"
#include "support/held_mutex.h"
#include "support/log_since.h"

namespace zelvora::ipc {
namespace {

TEST(IpcServiceAbsent, EveryEntryPointReportsNotInstalled) {
  ASSERT_TRUE(tunnel_fixture::DeleteTunnelService());
  EXPECT_FALSE(VpnIpcClient::IsServiceInstalled());
  EXPECT_FALSE(VpnIpcClient::IsServiceRunning());

  std::string error;
  EXPECT_FALSE(VpnIpcClient::EnsureServiceRunning(&error));
  EXPECT_EQ(error, kTextNotInstalled);

  error.clear();
  EXPECT_FALSE(VpnIpcClient::StartWithEnsure("{}", false, &error));
  EXPECT_EQ(error, kTextNotInstalled);
  EXPECT_FALSE(VpnIpcClient::Ping(&error));
  EXPECT_EQ(error, kTextNotResponding);
}

using IpcClientTest = TunnelServiceTest;

TEST_F(IpcClientTest, StoppedServiceIsStartedBeforeTheStartRequest) {
  ASSERT_TRUE(tunnel_fixture::StopTunnelService());

  const std::string config = "{\"outbounds\":[{\"protocol\":\"vless\"}],\"x\":\"\xC3\xA9\"}";
  std::string error;
  ASSERT_TRUE(VpnIpcClient::StartWithEnsure(config, true, &error)) << error;
  EXPECT_EQ(error, "");
  EXPECT_TRUE(VpnIpcClient::IsServiceRunning());
  EXPECT_EQ(Journal(), "start " + std::to_string(config.size() + 2) + "\n");
  EXPECT_EQ(tunnel_fixture::ReadFixtureFile(tunnel_fixture::kStartPayloadFile), "1\n" + config);
}

TEST_F(IpcClientTest, SessionStatusGrowsAndStopEndsIt) {
  ASSERT_TRUE(tunnel_fixture::StartTunnelService());
  std::string error;
  ASSERT_TRUE(VpnIpcClient::Ping(&error)) << error;
  ASSERT_TRUE(VpnIpcClient::Start("{}", false, &error)) << error;

  const TunnelLogWatch log;
  StatusPayload first;
  StatusPayload second;
  ASSERT_TRUE(VpnIpcClient::QueryStatus(&first, &error)) << error;
  ASSERT_TRUE(VpnIpcClient::QueryStatus(&second, nullptr));
  EXPECT_TRUE(first.tunnel);
  EXPECT_GT(second.up, first.up);
  EXPECT_GT(second.down, first.down);
  // Status runs every second, so it stays out of the log when it goes well.
  EXPECT_EQ(log.NewText(), "");

  ASSERT_TRUE(VpnIpcClient::Stop(nullptr));
  StatusPayload after;
  ASSERT_TRUE(VpnIpcClient::QueryStatus(&after, &error));
  EXPECT_FALSE(after.running);
}

TEST_F(IpcClientTest, RefusalsAndOddRepliesReachTheCallerAsSpecified) {
  ASSERT_TRUE(tunnel_fixture::StartTunnelService());
  SetBehaviour(
      "start=err: outbound rejected: \"vless\" needs an id\n"
      "ping=raw:PONG\n"
      "status=raw:NO\n");
  std::string error;
  EXPECT_FALSE(VpnIpcClient::Start("{}", false, &error));
  EXPECT_EQ(error, " outbound rejected: \"vless\" needs an id");

  // Neither OK nor ERR: a failure without a text of its own.
  error = "unchanged";
  EXPECT_FALSE(VpnIpcClient::Ping(&error));
  EXPECT_EQ(error, "unchanged");

  StatusPayload status;
  status.up = 5;
  EXPECT_FALSE(VpnIpcClient::QueryStatus(&status, &error));
  EXPECT_EQ(error, "NO");
  EXPECT_EQ(status.up, 5u);
}

// A reply above the limit fails the exchange at once; the largest one allowed arrives whole.
TEST_F(IpcClientTest, RepliesAboveTheLimitFailTheLargestAllowedArrives) {
  ASSERT_TRUE(tunnel_fixture::StartTunnelService());
  SetBehaviour("status=oversize\n");
  std::string error;
  StatusPayload status;
  EXPECT_FALSE(VpnIpcClient::QueryStatus(&status, &error));
  EXPECT_EQ(error, kTextTransportFailed);
  // The client closed at once; the service is ready for the next request.
  SetBehaviour("ping=big:" + std::to_string(kMaxResponseBodyBytes) + "\n");
  EXPECT_TRUE(VpnIpcClient::Ping(&error)) << error;
}

// A ping that fails because the client mutex is busy or because the service answers with a
// refusal comes from a working service: the start waits its turn and never restarts it.
TEST_F(IpcClientTest, WorkingServiceIsNeverRestartedForABusyOrRefusedPing) {
  ASSERT_TRUE(tunnel_fixture::StartTunnelService());
  const DWORD pid = tunnel_fixture::TunnelServicePid();
  struct Case {
    const char* behaviour;
    bool hold_mutex;
    const char* logged;  // the ping failed for this reason
  };
  const Case cases[] = {
      {"", true, "service kept running: Tunnel service IPC is busy.\r\n"},
      {"ping=err:stopping the previous session\n", false,
       "service kept running: stopping the previous session\r\n"},
  };
  for (const Case& c : cases) {
    SetBehaviour(c.behaviour);
    // Another exchange of the session (the service still answering a stop) holds the mutex
    // a little longer than a ping waits, less than a start waits.
    std::unique_ptr<HeldMutex> other_exchange;
    if (c.hold_mutex) {
      other_exchange =
          std::make_unique<HeldMutex>(kIpcClientMutexName, LimitsFor(Command::Ping).mutex_ms + 700);
    }
    const TunnelLogWatch log;
    std::string error;
    EXPECT_TRUE(VpnIpcClient::StartWithEnsure("{}", false, &error)) << error;
    EXPECT_TRUE(log.Saw(c.logged)) << log.NewText();
    EXPECT_EQ(log.NewText().find("restarting"), std::string::npos);
    EXPECT_EQ(tunnel_fixture::TunnelServicePid(), pid);
  }
}

TEST_F(IpcClientTest, FirstStartRefusedSecondAccepted) {
  SetBehaviour("fail_starts=1\n");
  RestartService();
  std::string error;
  ASSERT_TRUE(VpnIpcClient::StartWithEnsure("{}", false, &error)) << error;
  EXPECT_EQ(Journal(), "ping 0\nstart 4\nstart 4\n");
}

TEST_F(IpcClientTest, RunningServiceWithDeadPipeIsRestarted) {
  SetBehaviour("pipe=none\n");
  RestartService();
  const DWORD dead_pid = tunnel_fixture::TunnelServicePid();
  ASSERT_NE(dead_pid, 0u);
  SetBehaviour("");  // the restarted process serves again

  std::string error;
  ASSERT_TRUE(VpnIpcClient::StartWithEnsure("{}", true, &error)) << error;
  EXPECT_NE(tunnel_fixture::TunnelServicePid(), dead_pid);
  EXPECT_EQ(Journal(), "start 4\n");
}

TEST_F(IpcClientTest, ServiceThatDiesMidRequestIsStartedAgain) {
  ASSERT_TRUE(tunnel_fixture::StartTunnelService());
  SetBehaviour("status=exit\n");
  std::string error;
  EXPECT_FALSE(VpnIpcClient::QueryStatus(nullptr, &error));
  EXPECT_EQ(error, kTextTransportFailed);

  SetBehaviour("");
  for (int i = 0; i < 1500 && VpnIpcClient::IsServiceRunning(); ++i) ::Sleep(20);
  ASSERT_FALSE(VpnIpcClient::IsServiceRunning());
  EXPECT_TRUE(VpnIpcClient::StartWithEnsure("{}", false, &error)) << error;
  EXPECT_TRUE(VpnIpcClient::IsServiceRunning());
}

// Starts the impostor and waits until its pipe is there.
UniqueHandle LaunchImpostor(int connections) {
  std::wstring command_line = L"\"" + tunnel_fixture::ProgramBeside(L"tunnel_impostor.exe") +
                              L"\" " + std::to_wstring(connections);
  STARTUPINFOW startup{sizeof(startup)};
  PROCESS_INFORMATION process{};
  if (!::CreateProcessW(nullptr, &command_line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process)) {
    return UniqueHandle();
  }
  ::CloseHandle(process.hThread);
  for (int i = 0; i < 1500 && !::WaitNamedPipeW(kTunnelPipeName, 0); ++i) ::Sleep(20);
  return UniqueHandle(process.hProcess);
}

TEST_F(IpcClientTest, ImpostorPipeIsRefusedBeforeAnyByteIsWritten) {
  SetBehaviour("pipe=none\n");
  RestartService();
  tunnel_fixture::WriteFixtureFile(tunnel_fixture::kImpostorRecordFile, "");

  UniqueHandle impostor = LaunchImpostor(2);
  ASSERT_TRUE(impostor);

  std::string error;
  EXPECT_FALSE(VpnIpcClient::Ping(&error));
  EXPECT_EQ(error, kTextIdentityFailed);

  // With the service stopped, nobody can vouch for the pipe.
  ASSERT_TRUE(tunnel_fixture::StopTunnelService());
  error.clear();
  EXPECT_FALSE(VpnIpcClient::Start("{\"secret\":1}", false, &error));
  EXPECT_EQ(error, kTextIdentityFailed);

  EXPECT_EQ(::WaitForSingleObject(impostor.get(), 30000), WAIT_OBJECT_0);
  EXPECT_EQ(tunnel_fixture::ReadFixtureFile(tunnel_fixture::kImpostorRecordFile),
            "bytes=0\nbytes=0\n");
  ::TerminateProcess(impostor.get(), 1);
  SetBehaviour("");
}

}  // namespace
}  // namespace zelvora::ipc
