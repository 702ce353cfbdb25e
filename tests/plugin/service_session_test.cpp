// Connections through the reference tunnel service with real worker and status threads:
// the order of events, the session timer across restart, failure tolerance and cancellation.
#include <thread>

#include "fixture_files.h"
#include "ipc/vpn_ipc_client.h"
#include "plugin_fixture.h"
#include "service_admin.h"

namespace zelvora::testing {
namespace {

using flutter_standin::ChannelEvent;
using std::chrono::milliseconds;
using std::chrono::seconds;

constexpr char kStatus[] = "tidewire/status";

// A VLESS-over-Reality configuration as the app sends it.
const char kConfig[] = R"({
  "log": {"loglevel": "warning"},
  "inbounds": [{"tag": "socks-in", "port": 10808, "listen": "127.0.0.1", "protocol": "socks",
                "settings": {"udp": true}}],
  "outbounds": [{"tag": "proxy", "protocol": "vless",
    "settings": {"vnext": [{"address": "vpn.example.net", "port": 443,
      "users": [{"id": "6c9b3c1e-9f5e-4c1a-9a51-0f0d6f4a2b11", "encryption": "none",
                 "flow": "xtls-rprx-vision"}]}]},
    "streamSettings": {"network": "tcp", "security": "reality",
      "realitySettings": {"serverName": "www.example.com", "fingerprint": "chrome",
                          "publicKey": "kX9n3Q", "shortId": "ab12"}}},
    {"tag": "direct", "protocol": "freedom"}]
})";

struct Status {
  int64_t duration, up_delta, down_delta, up_total, down_total;
  std::string state;
};

Status ParseStatus(const ChannelEvent& event) {
  const auto& list = std::get<EncodableList>(event.value);
  const auto number = [&](size_t i) { return std::stoll(std::get<std::string>(list.at(i))); };
  return {number(0), number(1), number(2), number(3), number(4), std::get<std::string>(list[5])};
}

class ServiceSessionTest : public PluginTest {
 protected:
  static void SetUpTestSuite() {
    ASSERT_TRUE(tunnel_fixture::InstallTunnelService(
        tunnel_fixture::ProgramBeside(L"zelvora_tunnel_service.exe")));
  }
  static void TearDownTestSuite() { tunnel_fixture::DeleteTunnelService(); }

  void SetUp() override {
    SetBehaviour("");
    ASSERT_TRUE(tunnel_fixture::StopTunnelService());
    ASSERT_EQ(host_->Listen(kStatus).kind, ReplyKind::kSuccess);
    const auto initial = host_->WaitForEvent(kStatus);
    ASSERT_TRUE(initial.has_value());
    EXPECT_EQ(initial->value, EncodableValue(IdleStatus("DISCONNECTED")));
  }
  void TearDown() override {
    Call("stopVless");
    SetBehaviour("");
  }

  static void SetBehaviour(const std::string& lines) {
    ASSERT_TRUE(tunnel_fixture::WriteFixtureFile(tunnel_fixture::kBehaviourFile, lines));
  }

  MethodReply Start(const char* method = "startVless") {
    return Call(method, Map({{"remark", EncodableValue("Reality NL")},
                             {"config", EncodableValue(kConfig)}}));
  }

  Status NextStatus(milliseconds timeout = milliseconds(4000)) {
    const auto event = host_->WaitForEvent(kStatus, timeout);
    if (!event) {
      ADD_FAILURE() << "no status event";
      return {};
    }
    return ParseStatus(*event);
  }
};

TEST_F(ServiceSessionTest, ConnectRestartAndDisconnectTellTheAppEachStep) {
  ExpectSuccess(Start(), EncodableValue(false));
  EXPECT_EQ(NextStatus().state, "CONNECTING");
  EXPECT_NE(tunnel_fixture::TunnelServicePid(), 0u);
  EXPECT_TRUE(LogHas("probe: session socks port = 10808"));

  // The service reports a ready tunnel and totals that grow by 1500/4500 per query.
  Status first = NextStatus();
  Status second = NextStatus();
  EXPECT_EQ(first.state, "CONNECTED");
  EXPECT_EQ(second.state, "CONNECTED");
  EXPECT_EQ(second.up_delta, second.up_total - first.up_total);
  EXPECT_EQ(second.down_delta, second.down_total - first.down_total);
  EXPECT_GT(second.up_total, first.up_total);
  ExpectSuccess(Call("getVpnTunnelState"), Map({{"running", EncodableValue(true)},
                                                {"tunnelReady", EncodableValue(true)},
                                                {"adapterPresent", EncodableValue(true)}}));
  std::this_thread::sleep_for(seconds(1));
  const Status before_restart = NextStatus();
  ASSERT_GE(before_restart.duration, 1);

  ExpectSuccess(Start("restartVless"), EncodableValue(false));
  host_->TakeEvents(kStatus);
  Status after_restart = NextStatus();
  if (after_restart.state == "CONNECTING") after_restart = NextStatus();
  EXPECT_EQ(after_restart.state, "CONNECTED");
  EXPECT_GE(after_restart.duration, before_restart.duration);  // the session time carries on

  ExpectSuccess(Call("stopVless"), EncodableValue(false));
  host_->TakeEvents(kStatus);
  std::this_thread::sleep_for(milliseconds(1500));
  EXPECT_EQ(host_->PendingEventCount(kStatus), 0u) << "polling must end with the session";
  ipc::StatusPayload status;
  ASSERT_TRUE(ipc::VpnIpcClient::QueryStatus(&status, nullptr));
  EXPECT_FALSE(status.running);

  // A new session starts its clock at zero.
  ExpectSuccess(Start(), EncodableValue(false));
  EXPECT_EQ(NextStatus().state, "CONNECTING");
  const Status fresh = NextStatus();
  EXPECT_EQ(fresh.state, "CONNECTED");
  EXPECT_EQ(fresh.duration, 0);
}

TEST_F(ServiceSessionTest, TwoFailedQueriesAreToleratedTheThirdEndsTheSession) {
  ExpectSuccess(Start(), EncodableValue(false));
  EXPECT_EQ(NextStatus().state, "CONNECTING");
  EXPECT_EQ(NextStatus().state, "CONNECTED");
  SetBehaviour("status=err:busy");
  host_->TakeEvents(kStatus);
  // Two ticks pass in silence; the third failure sends DISCONNECTED.
  const auto event = host_->WaitForEvent(kStatus, milliseconds(5000));
  ASSERT_TRUE(event.has_value());
  EXPECT_EQ(event->value, EncodableValue(IdleStatus("DISCONNECTED")));
  EXPECT_TRUE(LogHas("[plugin] UpdateStatus: IPC status failed repeatedly"));
  std::this_thread::sleep_for(milliseconds(1500));
  EXPECT_EQ(host_->PendingEventCount(kStatus), 0u);
  // The service session itself is left alone.
  EXPECT_NE(tunnel_fixture::TunnelServicePid(), 0u);
}

TEST_F(ServiceSessionTest, AServiceThatStopsEndsTheSessionAtOnce) {
  ExpectSuccess(Start(), EncodableValue(false));
  EXPECT_EQ(NextStatus().state, "CONNECTING");
  EXPECT_EQ(NextStatus().state, "CONNECTED");
  ASSERT_TRUE(tunnel_fixture::StopTunnelService());
  host_->TakeEvents(kStatus);
  const auto event = host_->WaitForEvent(kStatus, milliseconds(3000));
  ASSERT_TRUE(event.has_value());
  EXPECT_EQ(event->value, EncodableValue(IdleStatus("DISCONNECTED")));
  EXPECT_TRUE(LogHas("[plugin] UpdateStatus: tunnel service not running"));
}

TEST_F(ServiceSessionTest, StopWhileStartWaitsForTheServiceAbortsTheStart) {
  SetBehaviour("delay_ms=1500");
  MethodReply start_reply;
  std::thread starter([&] {
    start_reply = Call("startVless",
                       Map({{"remark", EncodableValue("r")}, {"config", EncodableValue(kConfig)}}));
  });
  // Calls are answered on the host's platform thread: give the start a head start there.
  std::this_thread::sleep_for(milliseconds(300));
  ExpectSuccess(Call("stopVless"), EncodableValue(false));
  starter.join();
  ExpectError(start_reply, "ABORTED", "VPN start cancelled");
  EXPECT_TRUE(LogHas("[plugin] Start aborted: disconnect requested during connect"));

  std::this_thread::sleep_for(milliseconds(1200));
  const auto events = host_->TakeEvents(kStatus);
  ASSERT_FALSE(events.empty());
  EXPECT_EQ(events.back().value, EncodableValue(IdleStatus("DISCONNECTED")));
  SetBehaviour("");
  ipc::StatusPayload status;
  ASSERT_TRUE(ipc::VpnIpcClient::QueryStatus(&status, nullptr));
  EXPECT_FALSE(status.running);
}

TEST_F(ServiceSessionTest, DestroyingThePluginLeavesTheServiceSessionRunning) {
  ExpectSuccess(Start(), EncodableValue(false));
  host_->DestroyRegistrar();
  ipc::StatusPayload status;
  ASSERT_TRUE(ipc::VpnIpcClient::QueryStatus(&status, nullptr));
  EXPECT_TRUE(status.running);
}

// The plug-in goes away while a start waits for the service: its destructor waits for the
// worker, which must not find freed state (nor restart the status thread behind the teardown).
TEST_F(ServiceSessionTest, DestroyingThePluginWaitsForARunningStart) {
  SetBehaviour("delay_ms=1500");
  MethodReply start_reply;
  std::thread starter([&] { start_reply = Start(); });
  std::this_thread::sleep_for(milliseconds(300));
  host_->DestroyRegistrar();
  starter.join();
  ExpectSuccess(start_reply, EncodableValue(false));
  EXPECT_TRUE(LogHas("[plugin] Waiting for 1 worker(s) to finish"));
  SetBehaviour("");
  ipc::StatusPayload status;
  ASSERT_TRUE(ipc::VpnIpcClient::QueryStatus(&status, nullptr));
  EXPECT_TRUE(status.running);
}

}  // namespace
}  // namespace zelvora::testing
