// The TUN-mode route path on the simulated home machine: how many outside commands it runs,
// what its fixed waits add up to, and how long our own work around them takes, so the connect
// time can be budgeted (each real command is one hidden process start on Windows).
//
// Scenario: a server with two addresses, two DNS servers, a panel host, two direct domains, two
// LAN subnets and two shared proxy ports; then the disconnect's teardown.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "simulated_host/home_machine.h"
#include "simulated_host/simulated_host.h"
#include "vpn_engine/adapter_routes/proxy_sharing_firewall.h"
#include "vpn_engine/adapter_routes/tunnel_routes.h"

void TunnelLogWrite(const std::string&) {}

namespace {

using Clock = std::chrono::steady_clock;

// Waits on the path: the engine's 400 ms between enabling the interface and setting the
// address, the address's 300 ms and the default route's 400 ms settle.
constexpr int kFixedWaitsMs = 400 + 300 + 400;

void Prepare(simhost::SimulatedHost& host, zelvora::EngineNetworkState& engine) {
  host.SetHostAddresses("vpn.example.net", {"203.0.113.10", "203.0.113.11"});
  host.SetHostAddresses("panel.example.net", {"198.51.100.7"});
  host.SetHostAddresses("bank.example.de", {"192.0.2.44"});
  host.SetHostAddresses("mirror.example.org", {"192.0.2.45", "192.0.2.46"});
  engine.host = host.Seams();
  engine.running = true;
  engine.dns_servers = {"1.1.1.1", "8.8.4.4"};
  engine.panel_host = "panel.example.net";
  engine.direct_domains = {"domain:bank.example.de", "full:mirror.example.org"};
  engine.bypass_subnets = {"10.20.0.0/16", "172.16.5.0/24"};
  engine.share_proxy_ports = {1080, 8080};
}

// The steps without a wait: bypass routes, firewall rule, and the whole teardown.
void RoutesAndTeardown(simhost::SimulatedHost& host, zelvora::EngineNetworkState& engine) {
  zelvora::AddServerBypassRoutes(engine, "vpn.example.net", host.ResolveIpv4("vpn.example.net"),
                                 false);
  zelvora::AddHostBypassRoutes(engine, engine.panel_host);
  for (const std::string& domain : engine.direct_domains) {
    zelvora::AddHostBypassRoutes(engine, domain);
  }
  zelvora::AddLanBypassRoutes(engine);
  zelvora::OpenProxySharingFirewall(engine);
  zelvora::DropTunnelDefaultRoutes(host);
  zelvora::ClearTunnelAddress(host);
  std::vector<std::string> routed = engine.bypass_host_routes;
  routed.push_back(engine.server_bypass_ip);
  routed.insert(routed.end(), engine.dns_servers.begin(), engine.dns_servers.end());
  zelvora::RemoveHostRoutes(host, routed);
  zelvora::DropTunnelDefaultRoutes(host);
  zelvora::ClearTunnelAddress(host);
  zelvora::CloseProxySharingFirewall(engine);
}

}  // namespace

int main() {
  // One full connect path with its real waits, then its teardown.
  std::vector<double> own_ms;
  size_t connect_commands = 0, teardown_commands = 0;
  uint64_t timeout_sum_ms = 0;
  for (int run = 0; run < 5; ++run) {
    simhost::SimulatedHost host(simhost::HomeMachineWithTunnelAdapter());
    zelvora::EngineNetworkState engine;
    Prepare(host, engine);
    const auto start = Clock::now();
    std::this_thread::sleep_for(std::chrono::milliseconds(400));  // the engine's wait
    zelvora::ConfigureTunnelAddress(engine);
    zelvora::AddServerBypassRoutes(engine, "vpn.example.net", host.ResolveIpv4("vpn.example.net"),
                                   true);
    zelvora::AddHostBypassRoutes(engine, engine.panel_host);
    for (const std::string& domain : engine.direct_domains) {
      zelvora::AddHostBypassRoutes(engine, domain);
    }
    zelvora::AddLanBypassRoutes(engine);
    zelvora::OpenProxySharingFirewall(engine);
    zelvora::AddTunnelDefaultRoute(engine, zelvora::kTunnelGateway);
    const double total = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    own_ms.push_back(total - kFixedWaitsMs);
    connect_commands = host.Commands().size();
    timeout_sum_ms = 0;
    for (const simhost::CommandRecord& record : host.Commands())
      timeout_sum_ms += record.timeout_ms;
    host.ClearCommands();
    zelvora::DropTunnelDefaultRoutes(host);
    zelvora::ClearTunnelAddress(host);
    zelvora::CloseProxySharingFirewall(engine);
    teardown_commands = host.Commands().size();
  }
  std::sort(own_ms.begin(), own_ms.end());

  // The wait-free steps many times over, for our work alone.
  const int kRounds = 2000;
  const auto start = Clock::now();
  for (int round = 0; round < kRounds; ++round) {
    simhost::SimulatedHost host(simhost::HomeMachineWithTunnelAdapter());
    zelvora::EngineNetworkState engine;
    Prepare(host, engine);
    RoutesAndTeardown(host, engine);
  }
  const double per_round_us =
      std::chrono::duration<double, std::micro>(Clock::now() - start).count() / kRounds;

  std::printf("TUN-mode route path (2 server addresses, 2 DNS, panel, 2 direct domains,\n");
  std::printf("2 LAN subnets, 2 shared ports) on the simulated home machine:\n");
  std::printf("  commands on connect:             %zu (sum of their time-outs %llu ms)\n",
              connect_commands, static_cast<unsigned long long>(timeout_sum_ms));
  std::printf("  commands on the fast teardown:   %zu\n", teardown_commands);
  std::printf("  fixed waits on connect:          %d ms\n", kFixedWaitsMs);
  std::printf("  our own work on connect:         %.2f ms median (%.2f .. %.2f) of 5 runs\n",
              own_ms[2], own_ms.front(), own_ms.back());
  std::printf("  bypass routes + full teardown:   %.1f us per round (simulated host included)\n",
              per_round_us);
  return 0;
}
