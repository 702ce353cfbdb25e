// The proxy-sharing rule on the simulated host: one rule however often it is opened (a stale
// rule of a crashed session included, even when netsh starts cold), none after close, exactly
// the valid ports asked for, and only for the core's own program. Without sharing asked no
// netsh starts (a stale rule is the start-up repair's).
#include "vpn_engine/adapter_routes/proxy_sharing_firewall.h"

#include <utility>

#include "route_world.h"

namespace {

const char kCorePath[] =
    "C:\\Users\\Zo\xC3\xAB \xD0\x96\\AppData\\Local\\Zelvora App \xC3\xA9\\xray\\xray.exe";

TEST_F(RouteWorld, ProxySharingRuleIsUniqueAndCarriesExactlyThePorts) {
  // A value netsh refuses must not take the valid ports down with it. "": no rule.
  const std::pair<std::vector<int32_t>, std::string> cases[] = {
      {{1080, 8080}, "1080,8080"}, {{}, ""}, {{1080, 70000, 0, -5, 8080}, "1080,8080"}};
  for (const auto& [ports, text] : cases) {
    SCOPED_TRACE(text);
    simhost::SimulatedHost host(simhost::HomeMachineWithTunnelAdapter());
    const simhost::HostState before = host.Snapshot();
    // A crashed session left its rule, and netsh's first start is slow.
    const simhost::FirewallRule stale{
        "Zelvora Proxy Sharing", "in",          "allow",  "TCP", "1080",
        "private,domain",        "LocalSubnet", kCorePath};
    host.Edit([&](simhost::HostState& state) { state.firewall_rules.push_back(stale); });
    host.InjectCommandFault("netsh advfirewall firewall delete", simhost::CommandFault::kSlow, 1,
                            std::chrono::milliseconds(1500));
    zelvora::EngineNetworkState engine;
    engine.host = host.Seams();
    engine.share_proxy_ports = ports;
    engine.core_path = kCorePath;

    // Two connects without a cleanup between them (the second as after a crash).
    zelvora::OpenProxySharingFirewall(engine);
    zelvora::OpenProxySharingFirewall(engine);
    std::vector<simhost::FirewallRule> expected;
    if (ports.empty()) {
      EXPECT_TRUE(host.Commands().empty());
      expected.push_back(stale);
    } else if (!text.empty()) {
      expected.push_back({"Zelvora Proxy Sharing", "in", "allow", "TCP", text, "private,domain",
                          "LocalSubnet", kCorePath});
    }
    EXPECT_EQ(host.Snapshot().firewall_rules, expected);
    zelvora::CloseProxySharingFirewall(engine);
    EXPECT_TRUE(host.Snapshot() == before);
  }
}

// A core path netsh could not read back whole from between quotes opens nothing.
TEST_F(RouteWorld, ProxySharingRuleNeedsAQuotableCorePath) {
  engine_.share_proxy_ports = {1080};
  for (const char* path : {"", "C:\\Apps\\a\"b\\xray.exe", "C:\\Apps\\xray\\"}) {
    engine_.core_path = path;
    zelvora::OpenProxySharingFirewall(engine_);
    EXPECT_TRUE(host_.Snapshot().firewall_rules.empty()) << path;
    EXPECT_TRUE(CommandsStartingWith("netsh advfirewall firewall add").empty()) << path;
  }
}

}  // namespace
