// Proxy-only connections end to end through the channel, as the app makes them in an elevated
// process without the tunnel service: start, status, both delays, stop.
#include <chrono>
#include <thread>

#include "common/elevation.h"
#include "common/text_encoding.h"
#include "core_standin/outbound_server.h"
#include "core_standin/realistic_config.h"
#include "core_standin/standin_paths.h"
#include "plugin/tunnel_service_choice.h"
#include "plugin_fixture.h"
#include "probes/loopback_ports.h"
#include "proxy_mode/system_proxy.h"
#include "support/local_http_server.h"

namespace zelvora::testing {
namespace {

const core_standin::UseAsCurrentFolder kUseStandin;

std::string Config(uint16_t port, uint16_t server_port, const std::string& markers = "") {
  core_standin::RealisticConfig realistic;
  realistic.socks_port = port;
  realistic.http_port = FindFreeLoopbackPort();
  realistic.server_port = server_port;
  realistic.markers = markers;
  return core_standin::ProxyConfigText(realistic);
}

bool SawState(ChannelHost& host, const std::string& state, std::chrono::seconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (std::chrono::steady_clock::now() < deadline) {
    const auto event = host.WaitForEvent("tidewire/status", std::chrono::milliseconds(500));
    if (!event || !std::holds_alternative<EncodableList>(event->value)) continue;
    const auto& list = std::get<EncodableList>(event->value);
    if (list.size() == 6 && list[5] == EncodableValue(state)) return true;
  }
  return false;
}

TEST_F(PluginTest, ProxyOnlySessionThroughTheChannel) {
  if (ShouldUseTunnelService() || !IsProcessElevated()) {
    GTEST_SKIP() << "needs an elevated process without the tunnel service";
  }
  LocalHttpServer server;
  OutboundServerStandin vpn_server;
  const std::string url = "http://127.0.0.1:" + std::to_string(server.port()) + "/d";
  const uint16_t port = FindFreeLoopbackPort();
  ProxySettings before;
  ASSERT_TRUE(ReadProxySettings(&before));
  ASSERT_EQ(host_->Listen("tidewire/status").kind, ReplyKind::kSuccess);

  ExpectSuccess(Call("startVless", Map({{"remark", EncodableValue("proxy")},
                                        {"config", EncodableValue(Config(port, vpn_server.port()))},
                                        {"proxy_only", EncodableValue(true)}})),
                EncodableValue(false));
  EXPECT_TRUE(SawState(*host_, "CONNECTED", std::chrono::seconds(20)));
  ProxySettings proxy;
  for (int i = 0; i < 400 && (!ReadProxySettings(&proxy) ||
                              proxy.server != "socks=localhost:" + std::to_string(port));
       ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  EXPECT_EQ(proxy.server, "socks=localhost:" + std::to_string(port));

  const MethodReply connected =
      Call("getConnectedServerDelay", Map({{"url", EncodableValue(url)}}));
  ASSERT_EQ(connected.kind, ReplyKind::kSuccess);
  EXPECT_GE(std::get<int32_t>(connected.result), 1);
  const MethodReply server_delay =
      Call("getServerDelay", Map({{"config", EncodableValue(Config(port, vpn_server.port()))},
                                  {"url", EncodableValue(url)}}));
  ASSERT_EQ(server_delay.kind, ReplyKind::kSuccess);
  EXPECT_GE(std::get<int32_t>(server_delay.result), 1);
  EXPECT_EQ(vpn_server.relayed(), 2) << "both delays went through the configured server";

  ExpectSuccess(Call("stopVless"), EncodableValue(false));
  EXPECT_TRUE(SawState(*host_, "DISCONNECTED", std::chrono::seconds(20)));
  ASSERT_TRUE(ReadProxySettings(&proxy));
  EXPECT_EQ(proxy.server, before.server) << "the proxy from before";
  EXPECT_EQ(proxy.flags, before.flags);
}

// The core dies in the middle of a session: the app hears DISCONNECTED and the user's proxy is
// back, instead of CONNECTED over a proxy that points at nothing.
TEST_F(PluginTest, ProxyOnlyCoreDeathDisconnectsTheApp) {
  if (ShouldUseTunnelService() || !IsProcessElevated()) {
    GTEST_SKIP() << "needs an elevated process without the tunnel service";
  }
  ProxySettings before;
  ASSERT_TRUE(ReadProxySettings(&before));
  OutboundServerStandin vpn_server;
  ASSERT_EQ(host_->Listen("tidewire/status").kind, ReplyKind::kSuccess);
  ExpectSuccess(
      Call("startVless",
           Map({{"remark", EncodableValue("proxy")},
                {"config", EncodableValue(Config(FindFreeLoopbackPort(), vpn_server.port(),
                                                 "standin_exit_after_ms:2500"))},
                {"proxy_only", EncodableValue(true)}})),
      EncodableValue(false));
  EXPECT_TRUE(SawState(*host_, "CONNECTED", std::chrono::seconds(20)));
  EXPECT_TRUE(SawState(*host_, "DISCONNECTED", std::chrono::seconds(20)));
  ProxySettings after;
  ASSERT_TRUE(ReadProxySettings(&after));
  EXPECT_EQ(after.server, before.server);
  EXPECT_EQ(after.flags, before.flags);
  ExpectSuccess(Call("stopVless"), EncodableValue(false));
}

TEST_F(PluginTest, ProxyOnlyStartRefusesAnUnbalancedConfiguration) {
  if (ShouldUseTunnelService() || !IsProcessElevated()) GTEST_SKIP();
  const MethodReply reply = Call("startVless", Map({{"remark", EncodableValue("bad")},
                                                    {"config", EncodableValue("{\"inbounds\": [}")},
                                                    {"proxy_only", EncodableValue(true)}}));
  ExpectError(reply, "START_FAILED",
              "Could not start proxy mode. Ensure xray.exe is in the xray folder next to "
              "zel_vora.exe.");
}

}  // namespace
}  // namespace zelvora::testing
