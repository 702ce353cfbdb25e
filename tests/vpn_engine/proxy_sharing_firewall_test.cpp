// The proxy-sharing rule on the simulated host: one rule however often it is opened (a stale
// rule of a crashed session included, even when netsh starts cold), none after close, exactly
// the valid ports asked for, and only for the core's own program.
#include "vpn_engine/adapter_routes/proxy_sharing_firewall.h"

#include "route_world.h"

namespace {

struct PortsCase {
  std::vector<int32_t> ports;
  std::string text;  // empty: no rule
};

const char kCorePath[] =
    "C:\\Users\\Zo\xC3\xAB \xD0\x96\\AppData\\Local\\Zelvora App \xC3\xA9\\xray\\xray.exe";

TEST_F(RouteWorld, ProxySharingRuleIsUniqueAndCarriesExactlyThePorts) {
  const PortsCase cases[] = {{{1080, 8080}, "1080,8080"},
                             {{10808}, "10808"},
                             {{}, ""},
                             // A value netsh refuses must not take the valid ports down with it.
                             {{1080, 70000, 0, -5, 8080}, "1080,8080"}};
  for (const PortsCase& c : cases) {
    SCOPED_TRACE(c.text);
    simhost::SimulatedHost host(simhost::HomeMachineWithTunnelAdapter());
    const simhost::HostState before = host.Snapshot();
    // A crashed session left its rule, and netsh's first start is slow.
    host.Edit([](simhost::HostState& state) {
      state.firewall_rules.push_back({"Zelvora Proxy Sharing", "in", "allow", "TCP", "1080",
                                      "private,domain", "LocalSubnet", kCorePath});
    });
    host.InjectCommandFault("netsh advfirewall firewall delete", simhost::CommandFault::kSlow, 1,
                            std::chrono::milliseconds(1500));
    zelvora::EngineNetworkState engine;
    engine.host = host.Seams();
    engine.share_proxy_ports = c.ports;
    engine.core_path = kCorePath;
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
      EXPECT_EQ(rules[0].program, kCorePath);
      EXPECT_EQ(rules[0].local_ports, c.text);
      EXPECT_EQ(rules[0].profile, "private,domain");
      EXPECT_EQ(rules[0].remote_ip, "LocalSubnet");
      EXPECT_EQ(LogLinesWith("proxy-share: opening firewall for ports " + c.text).size(), 2u);
    }
    for (const simhost::CommandRecord& record : host.Commands()) {
      EXPECT_EQ(record.log_failure, record.command.find("delete rule") == std::string::npos);
    }
    zelvora::CloseProxySharingFirewall(engine);
    EXPECT_TRUE(host.Snapshot() == before);
  }
}

// A core path netsh could not read back whole from between quotes opens nothing.
TEST_F(RouteWorld, ProxySharingRuleNeedsAQuotableCorePath) {
  engine_.share_proxy_ports = {1080};
  for (const char* path : {"", "C:\\Apps\\a\"b\\xray.exe", "C:\\Apps\\xray\\"}) {
    engine_.core_path = path;
    ClearCapturedLog();
    zelvora::OpenProxySharingFirewall(engine_);
    EXPECT_TRUE(host_.Snapshot().firewall_rules.empty()) << path;
    EXPECT_EQ(LogLinesWith("core path unusable").size(), 1u) << path;
  }
}

}  // namespace
