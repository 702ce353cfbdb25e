// The proxy-sharing rule on the simulated host: one rule however often it is opened, none after
// close, and exactly the ports asked for.
#include "vpn_engine/proxy_sharing_firewall.h"

#include "route_world.h"

namespace {

struct PortsCase {
  std::vector<int32_t> ports;
  std::string text;  // empty: no rule
};

TEST_F(RouteWorld, ProxySharingRuleIsUniqueAndCarriesExactlyThePorts) {
  const PortsCase cases[] = {{{1080, 8080}, "1080,8080"}, {{10808}, "10808"}, {{}, ""}};
  for (const PortsCase& c : cases) {
    SCOPED_TRACE(c.text);
    simhost::SimulatedHost host(simhost::HomeMachineWithTunnelAdapter());
    const simhost::HostState before = host.Snapshot();
    zelvora::EngineNetworkState engine;
    engine.host = host.Seams();
    engine.share_proxy_ports = c.ports;
    ClearCapturedLog();

    // Two connects without a cleanup between them (the second as after a crash).
    zelvora::OpenProxySharingFirewall(engine);
    zelvora::OpenProxySharingFirewall(engine);
    const std::vector<simhost::FirewallRule> rules = host.Snapshot().firewall_rules;
    if (c.text.empty()) {
      EXPECT_TRUE(rules.empty());
      EXPECT_TRUE(CapturedLogLines().empty());
      EXPECT_EQ(host.Commands().size(), 2u);  // the two deletes only
    } else {
      ASSERT_EQ(rules.size(), 1u);
      EXPECT_EQ(rules[0].name, "Zelvora Proxy Sharing");
      EXPECT_EQ(rules[0].local_ports, c.text);
      EXPECT_EQ(rules[0].profile, "private,domain");
      EXPECT_EQ(rules[0].remote_ip, "LocalSubnet");
      EXPECT_EQ(LogLinesWith("proxy-share: opening firewall for ports " + c.text).size(), 2u);
    }
    for (const simhost::CommandRecord& record : host.Commands()) {
      const bool del = record.command.find("delete rule") != std::string::npos;
      EXPECT_EQ(record.timeout_ms, del ? 1200u : 15000u);
      EXPECT_EQ(record.log_failure, !del);
    }
    zelvora::CloseProxySharingFirewall(engine);
    EXPECT_TRUE(host.Snapshot() == before);
  }
}

}  // namespace
