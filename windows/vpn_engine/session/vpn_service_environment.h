// What the in-process engine reaches the outside world through: the host seams, the DNS guard,
// the Wintun holder, the loopback port checks, the data-path probes and their targets. The
// plug-in uses the production set; tests hand the engine a simulated host and local probe
// targets through the same structure.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "vpn_engine/host/host_seams.h"
#include "vpn_engine/injection/config_injection.h"
#include "vpn_engine/injection/routing_rules.h"

class DnsGuard;

namespace zelvora {

class WintunHolder;

// Two HTTPS connectivity-check endpoints that answer 204 on /generate_204, tried in this order.
inline constexpr char kProbeUrlA[] = "https://www.gstatic.com/generate_204";
inline constexpr char kProbeUrlB[] = "https://cp.cloudflare.com/generate_204";

struct VpnServiceEnvironment {
  HostSeams host;
  DnsGuard* guard = nullptr;
  WintunHolder* holder = nullptr;
  LoopbackPortProbe ports;
  ExeFolderLister exe_lister;
  std::string probe_url_a = kProbeUrlA;
  std::string probe_url_b = kProbeUrlB;
  // Through Xray's SOCKS port, and straight out from a socket bound to `source` (the tunnel's
  // address: the packet can leave only through the tunnel).
  std::function<int32_t(uint16_t socks_port, const std::string& url)> probe_through_socks;
  std::function<int32_t(const std::string& source, const std::string& url)> probe_direct;
  // Set when the process is elevated: a session that did not end (crash, kill, power cut) is
  // repaired from its backups as soon as the engine exists, before anything else.
  bool repair_unfinished_session = false;
  // The system proxy's own recovery from its backup (proxy mode's), run by that repair.
  std::function<void()> recover_system_proxy;
};

// The machine itself: the active seams, a DNS guard over their filtering engine, the process's
// Wintun holder, real sockets, real probes to the public endpoints.
VpnServiceEnvironment ProductionVpnEnvironment();

// Test builds of the plug-in change the environment its engine is made with (probe targets on
// a local server); set before the engine is created. The shipped plug-in never sets one.
void SetVpnEnvironmentAdjuster(std::function<void(VpnServiceEnvironment&)> adjust);

}  // namespace zelvora
