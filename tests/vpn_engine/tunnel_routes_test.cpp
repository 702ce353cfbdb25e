// The engine's route work on the simulated home machine: gateway choice, bypass routes, the
// tunnel address and default route with their retries, and a teardown (or a restart) that leaves
// the machine as it was. Where a packet leaves is the simulated host's answer.
#include "vpn_engine/adapter_routes/tunnel_routes.h"

#include <algorithm>
#include <utility>

#include "route_world.h"
#include "simulated_host/sim_text.h"
#include "support/host_compare.h"
#include "vpn_engine/adapter_routes/proxy_sharing_firewall.h"

namespace {

using simhost::HostState;
using simhost::Ip;
using simhost::Op;
namespace home = simhost::home;

constexpr const char* kGw = "192.168.178.1";
constexpr uint64_t kTunnelLuid = 0x0035000007000000ull;  // the home machine's tunnel adapter

void SetInterfaceMetric(HostState& state, uint32_t if_index, uint32_t metric) {
  for (simhost::Adapter& adapter : state.adapters) {
    if (adapter.if_index == if_index) adapter.interface_metric = metric;
  }
}

void DropPhysicalDefaultRoutes(HostState& state) {
  state.routes.erase(
      std::remove_if(state.routes.begin(), state.routes.end(),
                     [](const simhost::Route& r) { return r.destination == 0 && r.mask == 0; }),
      state.routes.end());
}

// The tunnel as a crashed session left it: its address and its default route, nothing else.
void LeaveTunnelRouteBehind(HostState& state) {
  for (simhost::Adapter& adapter : state.adapters) {
    if (adapter.if_index == home::kTunnelIndex) adapter.addresses.push_back({"10.0.85.2", 24});
  }
  state.routes.push_back({0, 0, Ip("10.0.85.1"), home::kTunnelIndex, 1});
}

// The machine as it was, but for the settings the engine keeps on its adapter for the session.
void ExpectMachineAsBefore(const HostState& before, HostState after) {
  for (size_t i = 0; i < after.adapters.size(); ++i) {
    if (after.adapters[i].if_index != home::kTunnelIndex) continue;
    EXPECT_TRUE(after.adapters[i].addresses == before.adapters[i].addresses);
    after.adapters[i] = before.adapters[i];
  }
  EXPECT_TRUE(after == before) << host_compare::Difference(before, after);
}

// The routes `after` has that `before` had not.
std::vector<simhost::Route> AddedRoutes(const HostState& before, const HostState& after) {
  std::vector<simhost::Route> added;
  for (const simhost::Route& route : after.routes) {
    if (std::find(before.routes.begin(), before.routes.end(), route) == before.routes.end()) {
      added.push_back(route);
    }
  }
  return added;
}

// A route around the tunnel as the engine must add it: via the Ethernet gateway on Ethernet,
// route metric 1, for this session only.
simhost::Route ViaEthernet(const char* destination, const char* mask) {
  return {Ip(destination), Ip(mask), Ip(kGw), home::kEthernetIndex, 1, simhost::Store::kActive};
}

using HostSetup = void (*)(simhost::SimulatedHost&);

TEST_F(RouteWorld, PhysicalUplinkIsTheWinningDefaultRoutesGatewayAndInterface) {
  // Ethernet's lower metric wins; on equal metrics the first in table order; a tunnel's
  // default route is never the uplink; an unreadable table gives none.
  const struct {
    HostSetup setup;
    std::string fingerprint;
  } cases[] = {
      {[](simhost::SimulatedHost&) {}, "192.168.178.1|12"},
      {[](simhost::SimulatedHost& h) {
         h.Edit([](HostState& s) { SetInterfaceMetric(s, home::kWifiIndex, 25); });
       },
       "192.168.1.1|7"},
      {[](simhost::SimulatedHost& h) { h.Edit(LeaveTunnelRouteBehind); }, "192.168.178.1|12"},
      {[](simhost::SimulatedHost& h) {
         h.Edit([](HostState& s) { DropPhysicalDefaultRoutes(s), LeaveTunnelRouteBehind(s); });
       },
       ""},
      {[](simhost::SimulatedHost& h) { h.InjectFault(Op::kReadRoutes, 2); }, ""},
  };
  for (const auto& c : cases) {
    simhost::SimulatedHost host(simhost::HomeMachineWithTunnelAdapter());
    c.setup(host);
    EXPECT_EQ(zelvora::GetPhysicalUplinkFingerprint(host), c.fingerprint);
  }
}

// The whole TUN-mode route path and its teardown, as a connect and a disconnect run them. The
// first address add fails; its retry gives the tunnel its address. Public traffic then leaves
// through the tunnel, the server, the chosen hosts and the LAN subnets around it; nothing of it
// is left after the disconnect, nor after a restart that came instead.
TEST_F(RouteWorld, TunModePathRoutesAroundTheTunnelAndLeavesNothingBehind) {
  engine_.tunnel_luid = kTunnelLuid;
  host_.InjectFault(Op::kAddAddress, 1);
  host_.SetHostAddresses("vpn.example.net", {"203.0.113.10", "203.0.113.11"});
  host_.SetHostAddresses("panel.example.net", {"198.51.100.7"});
  host_.SetHostAddresses("mirror.example.org", {"203.0.113.11", "192.0.2.45"});
  engine_.panel_host = "panel.example.net";
  engine_.direct_domains = {"full:mirror.example.org"};
  engine_.bypass_subnets = {"10.20.0.0/16", "172.16.5.0/24"};
  const HostState before = host_.Snapshot();

  ASSERT_TRUE(zelvora::ConfigureTunnelAddress(engine_));
  zelvora::AddServerBypassRoutes(engine_, "vpn.example.net", host_.ResolveIpv4("vpn.example.net"),
                                 true);
  zelvora::AddHostBypassRoutes(engine_, engine_.panel_host);
  for (const std::string& domain : engine_.direct_domains) {
    zelvora::AddHostBypassRoutes(engine_, domain);
  }
  zelvora::AddLanBypassRoutes(engine_);
  ASSERT_TRUE(zelvora::AddTunnelDefaultRoute(engine_, zelvora::kTunnelGateway));

  simhost::RouteChoice choice;
  ASSERT_TRUE(host_.LookupRoute(Ip("1.0.0.1"), &choice));
  EXPECT_EQ(choice.if_index, home::kTunnelIndex);
  EXPECT_EQ(choice.next_hop, Ip("10.0.85.1"));
  // Sent from the tunnel's address (the engine's own probe), it leaves there too.
  ASSERT_TRUE(host_.LookupRoute(Ip("1.0.0.1"), &choice, Ip("10.0.85.2")));
  EXPECT_EQ(choice.if_index, home::kTunnelIndex);
  for (const char* around : {"203.0.113.10", "203.0.113.11", "198.51.100.7", "192.0.2.45",
                             "10.20.7.9", "172.16.5.200", "192.168.178.40"}) {
    ASSERT_TRUE(host_.LookupRoute(Ip(around), &choice)) << around;
    EXPECT_EQ(choice.if_index, home::kEthernetIndex) << around;
  }
  EXPECT_TRUE(host_.Commands().empty());  // no outside program started

  // A restart instead of a disconnect keeps nothing of the session.
  simhost::SimulatedHost restarted(host_.Snapshot());
  restarted.Reboot();
  simhost::SimulatedHost untouched(before);
  untouched.Reboot();
  ExpectMachineAsBefore(untouched.Snapshot(), restarted.Snapshot());

  // Disconnect: the stop's fast teardown, then the network cleanup.
  EXPECT_EQ(zelvora::DropTunnelDefaultRoutes(host_, engine_.tunnel_luid), 1);
  EXPECT_TRUE(zelvora::ClearTunnelAddress(host_, engine_.tunnel_luid));
  std::vector<std::string> host_routes = engine_.bypass_host_routes;
  host_routes.push_back(engine_.server_bypass_ip);
  zelvora::RemoveHostRoutes(host_, host_routes);
  zelvora::RemoveLanRoutes(engine_);
  ExpectMachineAsBefore(before, host_.Snapshot());
}

// The tunnel's default route must win on metric (a tie counts) or be the best route; a route
// that appears only after the retry is fine; one that loses with no best route known fails.
TEST_F(RouteWorld, TunnelDefaultRouteMustWinOnMetricOrAsBestRoute) {
  const struct {
    HostSetup setup;
    zelvora::Ipv4Address next_hop;
    bool wins;
  } cases[] = {
      {[](simhost::SimulatedHost&) {}, zelvora::kTunnelGateway, true},
      {[](simhost::SimulatedHost&) {}, zelvora::kOnLink, true},
      {[](simhost::SimulatedHost& h) {
         h.Edit([](HostState& s) { SetInterfaceMetric(s, home::kEthernetIndex, 2); });
       },
       zelvora::kTunnelGateway, true},
      {[](simhost::SimulatedHost& h) {
         h.Edit([](HostState& s) { SetInterfaceMetric(s, home::kEthernetIndex, 1); });
         h.OverrideBestRoute(home::kTunnelIndex, Ip("10.0.85.1"));
       },
       zelvora::kTunnelGateway, true},
      {[](simhost::SimulatedHost& h) { h.InjectFault(Op::kAddRoute, 1); }, zelvora::kTunnelGateway,
       true},
      {[](simhost::SimulatedHost& h) {
         h.Edit([](HostState& s) { SetInterfaceMetric(s, home::kEthernetIndex, 1); });
       },
       zelvora::kTunnelGateway, false},
  };
  for (const auto& c : cases) {
    simhost::SimulatedHost host(simhost::HomeMachineWithTunnelAdapter());
    zelvora::EngineNetworkState engine;
    engine.host = host.Seams();
    engine.running = true;
    engine.tunnel_luid = kTunnelLuid;
    c.setup(host);
    EXPECT_EQ(zelvora::AddTunnelDefaultRoute(engine, c.next_hop), c.wins);
  }
}

TEST_F(RouteWorld, TunnelAddressThatNeverAppearsFailsTheStep) {
  engine_.tunnel_luid = kTunnelLuid;
  host_.InjectFault(Op::kAddAddress, 2);
  EXPECT_FALSE(zelvora::ConfigureTunnelAddress(engine_));
  EXPECT_FALSE(zelvora::TunnelAdapterHasAddress(host_, kTunnelLuid));
}

// LAN entries become masked network routes; a network the machine routes already (the default
// route, the user's own on-link LAN) is left alone; the disconnect removes exactly what was added.
TEST_F(RouteWorld, LanSubnetsBecomeRoutesWithTheirMasks) {
  engine_.bypass_subnets = {
      "192.168.0.0/16",  "10.1.2.3",      "10.9.0.0/0",           "10.9.0.0/-4",
      "10.8.0.0/40",     "192.168.1.0/x", "192.168.7.0/24abc",    "fd00::/8",
      "300.1.1.1/8",     "10.6.0.0/ +16", "10.5.0.0/99999999999", "192.168.44.5/24",
      "192.168.178.0/24"};
  const HostState before = host_.Snapshot();
  zelvora::AddLanBypassRoutes(engine_);
  const std::vector<simhost::Route> expected = {
      ViaEthernet("192.168.0.0", "255.255.0.0"),  ViaEthernet("10.1.2.3", "255.255.255.255"),
      ViaEthernet("10.8.0.0", "255.255.255.255"), ViaEthernet("192.168.7.0", "255.255.255.0"),
      ViaEthernet("10.6.0.0", "255.255.0.0"),     ViaEthernet("192.168.44.0", "255.255.255.0")};
  EXPECT_EQ(AddedRoutes(before, host_.Snapshot()), expected);
  // Meanwhile the user's own software routes one of those networks through the Wi-Fi: the
  // disconnect removes only what it added.
  const simhost::Route users{Ip("192.168.0.0"), Ip("255.255.0.0"), Ip("192.168.1.1"),
                             home::kWifiIndex, 5};
  host_.Edit([&](HostState& s) { s.routes.push_back(users); });
  zelvora::RemoveLanRoutes(engine_);
  std::vector<simhost::Route> expected_routes = before.routes;
  expected_routes.push_back(users);
  EXPECT_EQ(host_.Snapshot().routes, expected_routes);

  // No physical gateway: nothing added.
  simhost::SimulatedHost offline(simhost::HomeMachineWithTunnelAdapter());
  offline.Edit(DropPhysicalDefaultRoutes);
  const HostState offline_before = offline.Snapshot();
  engine_.host = offline.Seams();
  engine_.physical_gateway.clear();
  engine_.physical_if_index = 0;
  zelvora::AddLanBypassRoutes(engine_);
  EXPECT_TRUE(offline.Snapshot() == offline_before);
}

// Names and addresses route their new IPv4 addresses only: none for what the server or an
// earlier host already routes, nor for patterns, IPv6 or names that do not resolve.
TEST_F(RouteWorld, BypassHostsRouteOnlyNewAddresses) {
  const auto routes_for = [](const char* name) {
    simhost::SimulatedHost host(simhost::HomeMachineWithTunnelAdapter());
    host.SetHostAddresses("example.com", {"93.184.215.14"});
    host.SetHostAddresses("cdn.vpn.example.net", {"203.0.113.11", "203.0.113.10"});
    const HostState before = host.Snapshot();
    zelvora::EngineNetworkState engine;
    engine.host = host.Seams();
    engine.running = true;
    engine.server_bypass_ip = "203.0.113.10";
    engine.bypass_host_routes = {"203.0.113.11"};
    zelvora::AddHostBypassRoutes(engine, name);
    return AddedRoutes(before, host.Snapshot());
  };
  for (const auto& [name, routed] :
       {std::pair<const char*, const char*>{"domain:example.com", "93.184.215.14"},
        {"full:example.com", "93.184.215.14"},
        {"198.51.100.9", "198.51.100.9"}}) {
    EXPECT_EQ(routes_for(name),
              std::vector<simhost::Route>{ViaEthernet(routed, "255.255.255.255")});
  }
  for (const char* name : {"domain:", "geosite:cn", "2001:db8::1", "", "cdn.vpn.example.net",
                           "203.0.113.11", "nowhere.invalid"}) {
    EXPECT_TRUE(routes_for(name).empty()) << name;
  }
}

}  // namespace
