// What the session benchmarks share: the home machine's names, a realistic TUN-mode
// configuration, the engine's world around a simulated host (DNS guard, Wintun holder, probe
// target, proxy server stand-in) and the figures the tunnel log carries.
#pragma once

#include <windows.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "core_standin/outbound_server.h"
#include "core_standin/standin_paths.h"
#include "probes/loopback_ports.h"
#include "simulated_host/simulated_host.h"
#include "support/local_http_server.h"
#include "tunnel_log/tunnel_log_paths.h"
#include "vpn_engine/adapter_routes/wintun_holder.h"
#include "vpn_engine/dns_protection/dns_guard.h"
#include "vpn_engine/session/vpn_service_environment.h"

namespace session_world {

using Clock = std::chrono::steady_clock;

// The fixed waits of a TUN-mode start: after Xray starts, after the adapter is up, and before
// DNS protection. (The address and the default route are looked for until they show, which is
// the engine's own time.)
constexpr double kFixedWaitsMs = 200 + 400 + 200;

inline double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

inline std::string LogText() {
  std::ifstream in(kTunnelLogPath, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

// The number that follows the last `prefix` in the log after `from`.
inline long LastFigure(const std::string& log, size_t from, const std::string& prefix) {
  const size_t at = log.rfind(prefix);
  if (at == std::string::npos || at < from) return -1;
  return std::atol(log.c_str() + at + prefix.size());
}

inline std::string Config(uint16_t server_port) {
  return R"({"log": {"loglevel": "warning"},
 "dns": {"servers": ["1.1.1.1", "8.8.8.8"]},
 "inbounds": [{"tag": "socks", "port": )" +
         std::to_string(FindFreeLoopbackPort()) +
         R"(, "listen": "127.0.0.1", "protocol": "socks", "settings": {"auth": "noauth"}},
   {"tag": "http", "port": )" +
         std::to_string(FindFreeLoopbackPort()) + R"(, "listen": "127.0.0.1", "protocol": "http"}],
 "outbounds": [{"tag": "proxy", "protocol": "vless", "settings": {"vnext": [{"address": "127.0.0.2", "port": )" +
         std::to_string(server_port) +
         R"(, "users": [{"id": "6f1c2a7e-3b4d-4e5f-8a9b-0c1d2e3f4a5b", "encryption": "none"}]}]},
   "streamSettings": {"network": "ws", "security": "tls"}},
  {"tag": "direct", "protocol": "freedom"}],
 "routing": {"rules": [{"type": "field", "ip": ["geoip:private"], "outboundTag": "direct"}]},
 "zelvoraMeta": {"panelHost": "panel.zelvora-demo.net", "directDomains": ["bank.example.de"]}})";
}

// The engine's surroundings on `host`; the probes are the benchmark's own to set.
struct World {
  explicit World(simhost::SimulatedHost& machine)
      : host(Named(machine)),
        guard(machine.Filtering()),
        holder(
            machine, [] { return core_standin::Root() + L"\\xray\\wintun.dll"; }, nullptr),
        target(204),
        server((127u << 24) | 2u) {}

  zelvora::VpnServiceEnvironment Environment() {
    zelvora::VpnServiceEnvironment environment;
    environment.host = host.Seams();
    environment.guard = &guard;
    environment.holder = &holder;
    environment.ports = SystemLoopbackPorts();
    environment.exe_lister = [](const std::string&) { return std::vector<std::string>(); };
    const std::string url = "http://127.0.0.1:" + std::to_string(target.port());
    environment.probe_url_a = url + "/generate_204";
    environment.probe_url_b = url + "/b/generate_204";
    return environment;
  }

  simhost::SimulatedHost& host;
  DnsGuard guard;
  zelvora::WintunHolder holder;
  LocalHttpServer target;
  OutboundServerStandin server;

 private:
  // The names the configuration's metadata bypasses, and the core as the guard's own program.
  static simhost::SimulatedHost& Named(simhost::SimulatedHost& machine) {
    machine.SetHostAddresses("panel.zelvora-demo.net", {"198.51.100.20"});
    machine.SetHostAddresses("bank.example.de", {"203.0.113.45"});
    machine.Filtering().AddProgram(core_standin::XrayExe());
    return machine;
  }
};

}  // namespace session_world
