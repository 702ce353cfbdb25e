// The engine's route work on the simulated home machine: gateway choice, bypass routes with
// their exact commands, the tunnel address and default route with their retries, and a teardown
// that leaves the machine as it was.
#include "vpn_engine/adapter_routes/tunnel_routes.h"

#include <algorithm>
#include <utility>

#include "route_world.h"
#include "simulated_host/sim_text.h"
#include "support/host_compare.h"
#include "vpn_engine/adapter_routes/proxy_sharing_firewall.h"

namespace {

using simhost::CommandFault;
using simhost::HostState;
using simhost::Op;
namespace home = simhost::home;

constexpr const char* kGw = "192.168.178.1";

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
  state.routes.push_back({0, 0, simhost::Ip("10.0.85.1"), home::kTunnelIndex, 1});
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

using HostSetup = void (*)(simhost::SimulatedHost&);

TEST_F(RouteWorld, PhysicalGatewayAndFingerprint) {
  // Ethernet's lower metric wins; on equal metrics the first in table order; a tunnel's
  // default route is never the uplink; an unreadable table gives none.
  const struct {
    HostSetup setup;
    std::string gateway, fingerprint;
  } cases[] = {
      {[](simhost::SimulatedHost&) {}, kGw, "192.168.178.1|12"},
      {[](simhost::SimulatedHost& h) {
         h.Edit([](HostState& s) { SetInterfaceMetric(s, home::kWifiIndex, 25); });
       },
       "192.168.1.1", "192.168.1.1|7"},
      {[](simhost::SimulatedHost& h) { h.Edit(LeaveTunnelRouteBehind); }, kGw, "192.168.178.1|12"},
      {[](simhost::SimulatedHost& h) {
         h.Edit([](HostState& s) { DropPhysicalDefaultRoutes(s), LeaveTunnelRouteBehind(s); });
       },
       "", ""},
      {[](simhost::SimulatedHost& h) { h.InjectFault(Op::kReadRoutes, 2); }, "", ""},
  };
  for (const auto& c : cases) {
    simhost::SimulatedHost host(simhost::HomeMachineWithTunnelAdapter());
    c.setup(host);
    EXPECT_EQ(zelvora::DetectPhysicalGateway(host.Seams()), c.gateway);
    EXPECT_EQ(zelvora::GetPhysicalUplinkFingerprint(host), c.fingerprint);
  }
}

// The whole TUN-mode route path and its teardown, as a connect and a disconnect run them.
// Windows named the adapter "Zelvora 2" (the plain name was taken by a leftover): every command
// names it exactly, quoted, and the teardown finds it by the same rule. The address appears
// only after the retry.
TEST_F(RouteWorld, TunModePathRunsTheExactCommandsAndTeardownRestoresTheMachine) {
  host_.Edit([](HostState& s) {
    for (simhost::Adapter& adapter : s.adapters) {
      if (adapter.if_index == home::kTunnelIndex) adapter.name = L"Zelvora 2";
    }
  });
  host_.InjectCommandFault("netsh interface ip set address", CommandFault::kNoEffect);
  host_.SetHostAddresses("vpn.example.net", {"203.0.113.10", "203.0.113.11"});
  host_.SetHostAddresses("panel.example.net", {"198.51.100.7"});
  host_.SetHostAddresses("mirror.example.org", {"203.0.113.11", "192.0.2.45"});
  engine_.panel_host = "panel.example.net";
  engine_.direct_domains = {"full:mirror.example.org"};
  engine_.bypass_subnets = {"10.20.0.0/16", "172.16.5.0/24"};
  engine_.share_proxy_ports = {1080, 8080};
  engine_.core_path = "C:\\Program Files\\Zelvora\\xray\\xray.exe";
  const HostState before = host_.Snapshot();

  zelvora::EnableTunnelInterface(engine_);
  ASSERT_TRUE(zelvora::ConfigureTunnelAddress(engine_));
  zelvora::AddServerBypassRoutes(engine_, "vpn.example.net", host_.ResolveIpv4("vpn.example.net"),
                                 true);
  zelvora::AddHostBypassRoutes(engine_, engine_.panel_host);
  for (const std::string& domain : engine_.direct_domains) {
    zelvora::AddHostBypassRoutes(engine_, domain);
  }
  zelvora::AddLanBypassRoutes(engine_);
  zelvora::OpenProxySharingFirewall(engine_);
  ASSERT_TRUE(zelvora::AddTunnelDefaultRoute(engine_, engine_.tunnel_adapter_name,
                                             zelvora::kTunnelGateway));

  const std::string via = std::string(" MASK 255.255.255.255 ") + kGw + " METRIC 1";
  const std::vector<std::string> expected = {
      "netsh interface set interface name=\"Zelvora 2\" admin=ENABLED",
      "netsh interface ip set address name=\"Zelvora 2\" source=static addr=10.0.85.2 "
      "mask=255.255.255.0 gateway=none store=active",
      "netsh interface ip set address name=\"Zelvora 2\" source=static addr=10.0.85.2 "
      "mask=255.255.255.0 gateway=none store=active",
      "route ADD 203.0.113.10" + via,
      "route ADD 203.0.113.11" + via,
      "route ADD 198.51.100.7" + via,
      "route ADD 192.0.2.45" + via,
      std::string("route ADD 10.20.0.0 MASK 255.255.0.0 ") + kGw + " METRIC 1",
      std::string("route ADD 172.16.5.0 MASK 255.255.255.0 ") + kGw + " METRIC 1",
      "netsh advfirewall firewall delete rule name=\"Zelvora Proxy Sharing\"",
      "netsh advfirewall firewall add rule name=\"Zelvora Proxy Sharing\" dir=in action=allow "
      "program=\"C:\\Program Files\\Zelvora\\xray\\xray.exe\" protocol=TCP localport=1080,8080 "
      "profile=private,domain remoteip=LocalSubnet",
      "netsh interface ipv4 set interface interface=\"Zelvora 2\" metric=1 store=active",
      "netsh interface ip add route 0.0.0.0/0 \"Zelvora 2\" 10.0.85.1 metric=1 store=active",
  };
  EXPECT_EQ(CommandsStartingWith(""), expected);
  for (const simhost::CommandRecord& record : host_.Commands()) {
    // Changes log their failures; only deletes stay silent.
    EXPECT_EQ(record.log_failure, record.command.find("delete rule") == std::string::npos);
  }

  // Disconnect: the stop's fast teardown, then the network cleanup.
  EXPECT_EQ(zelvora::DropTunnelDefaultRoutes(engine_.host), 1);
  EXPECT_TRUE(zelvora::ClearTunnelAddress(host_));
  std::vector<std::string> host_routes = engine_.bypass_host_routes;
  host_routes.push_back(engine_.server_bypass_ip);
  zelvora::RemoveHostRoutes(host_, host_routes);
  zelvora::RemoveLanRoutes(engine_);
  zelvora::CloseProxySharingFirewall(engine_);

  ExpectMachineAsBefore(before, host_.Snapshot());
}

// The tunnel's default route must win on metric (a tie counts) or be the best route; a route
// that appears only after the retry is fine; one that loses with no best route known fails.
TEST_F(RouteWorld, TunnelDefaultRouteMustWinOnMetricOrAsBestRoute) {
  const struct {
    HostSetup setup;
    bool wins;
    size_t netsh_commands;
  } cases[] = {
      {[](simhost::SimulatedHost&) {}, true, 2},
      {[](simhost::SimulatedHost& h) {
         h.Edit([](HostState& s) { SetInterfaceMetric(s, home::kEthernetIndex, 2); });
       },
       true, 2},
      {[](simhost::SimulatedHost& h) {
         h.Edit([](HostState& s) { SetInterfaceMetric(s, home::kEthernetIndex, 1); });
         h.OverrideBestRoute(home::kTunnelIndex, simhost::Ip("10.0.85.1"));
       },
       true, 2},
      {[](simhost::SimulatedHost& h) {
         h.InjectCommandFault("netsh interface ip add route", CommandFault::kNoEffect);
       },
       true, 4},
      {[](simhost::SimulatedHost& h) {
         h.Edit([](HostState& s) { SetInterfaceMetric(s, home::kEthernetIndex, 1); });
         h.InjectFault(Op::kBestRoute, 10, zelvora::ReadStatus::kOk, 50);
       },
       false, 4},
  };
  for (const auto& c : cases) {
    simhost::SimulatedHost host(simhost::HomeMachineWithTunnelAdapter());
    zelvora::EngineNetworkState engine;
    engine.host = host.Seams();
    engine.running = true;
    engine.physical_gateway = kGw;
    c.setup(host);
    EXPECT_EQ(zelvora::AddTunnelDefaultRoute(engine, "Zelvora", zelvora::kTunnelGateway), c.wins);
    size_t netsh = 0;
    for (const simhost::CommandRecord& record : host.Commands()) {
      netsh += record.command.rfind("netsh ", 0) == 0 ? 1 : 0;
    }
    EXPECT_EQ(netsh, c.netsh_commands);
  }
}

TEST_F(RouteWorld, TunnelAddressThatNeverAppearsFailsTheStep) {
  host_.InjectCommandFault("netsh interface ip set address", CommandFault::kNoEffect, 2);
  EXPECT_FALSE(zelvora::ConfigureTunnelAddress(engine_));
}

// LAN entries become masked network routes; a network the machine routes already (the default
// route, the user's own on-link LAN) is left alone; the disconnect removes exactly what was added.
TEST_F(RouteWorld, LanSubnetsBecomeRoutesWithTheirMasks) {
  engine_.bypass_subnets = {
      "192.168.0.0/16",  "10.1.2.3",      "10.9.0.0/0",           "10.9.0.0/-4",
      "10.8.0.0/40",     "192.168.1.0/x", "192.168.7.0/24abc",    "fd00::/8",
      "300.1.1.1/8",     "10.6.0.0/ +16", "10.5.0.0/99999999999", "192.168.44.5/24",
      "192.168.178.0/24"};
  std::vector<std::string> expected;
  for (const char* route : {"192.168.0.0 MASK 255.255.0.0", "10.1.2.3 MASK 255.255.255.255",
                            "10.8.0.0 MASK 255.255.255.255", "192.168.7.0 MASK 255.255.255.0",
                            "10.6.0.0 MASK 255.255.0.0", "192.168.44.0 MASK 255.255.255.0"}) {
    expected.push_back(std::string("route ADD ") + route + " " + kGw + " METRIC 1");
  }
  const HostState before = host_.Snapshot();
  zelvora::AddLanBypassRoutes(engine_);
  EXPECT_EQ(CommandsStartingWith(""), expected);
  // Meanwhile the user's own software routes one of those networks through the Wi-Fi: the
  // disconnect removes only what it added.
  const simhost::Route users{simhost::Ip("192.168.0.0"), simhost::Ip("255.255.0.0"),
                             simhost::Ip("192.168.1.1"), home::kWifiIndex, 5};
  host_.Edit([&](HostState& s) { s.routes.push_back(users); });
  zelvora::RemoveLanRoutes(engine_);
  std::vector<simhost::Route> expected_routes = before.routes;
  expected_routes.push_back(users);
  EXPECT_EQ(host_.Snapshot().routes, expected_routes);

  // No physical gateway: nothing run.
  simhost::SimulatedHost offline(simhost::HomeMachineWithTunnelAdapter());
  offline.Edit(DropPhysicalDefaultRoutes);
  engine_.host = offline.Seams();
  engine_.physical_gateway.clear();
  zelvora::AddLanBypassRoutes(engine_);
  EXPECT_TRUE(offline.Commands().empty());
}

// Names and addresses route their new IPv4 addresses only: none for what the server or an
// earlier host already routes, nor for patterns, IPv6 or names that do not resolve.
TEST_F(RouteWorld, BypassHostsRouteOnlyNewAddresses) {
  const auto commands_for = [this](const char* name) {
    simhost::SimulatedHost host(simhost::HomeMachineWithTunnelAdapter());
    host.SetHostAddresses("example.com", {"93.184.215.14"});
    host.SetHostAddresses("cdn.vpn.example.net", {"203.0.113.11", "203.0.113.10"});
    engine_.host = host.Seams();
    engine_.server_bypass_ip = "203.0.113.10";
    engine_.bypass_host_routes = {"203.0.113.11"};
    engine_.physical_gateway = kGw;
    zelvora::AddHostBypassRoutes(engine_, name);
    std::vector<std::string> ran;
    for (const simhost::CommandRecord& record : host.Commands()) ran.push_back(record.command);
    return ran;
  };
  for (const auto& [name, routed] :
       {std::pair<const char*, const char*>{"domain:example.com", "93.184.215.14"},
        {"full:example.com", "93.184.215.14"},
        {"198.51.100.9", "198.51.100.9"}}) {
    EXPECT_EQ(commands_for(name),
              std::vector<std::string>{std::string("route ADD ") + routed +
                                       " MASK 255.255.255.255 " + kGw + " METRIC 1"});
  }
  for (const char* name : {"domain:", "geosite:cn", "2001:db8::1", "", "cdn.vpn.example.net",
                           "203.0.113.11", "nowhere.invalid"}) {
    EXPECT_TRUE(commands_for(name).empty()) << name;
  }
}

}  // namespace
