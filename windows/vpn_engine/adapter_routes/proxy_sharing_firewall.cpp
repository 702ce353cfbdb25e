#include "vpn_engine/adapter_routes/proxy_sharing_firewall.h"

#include "tunnel_log/tunnel_log.h"
#include "vpn_engine/host/command_runner.h"

namespace zelvora {
namespace {
// netsh's first start after boot loads its helpers and reaches the firewall service: the delete
// needs as long as the add, or a stale rule survives a cold start beside the new one.
constexpr uint32_t kAddTimeoutMs = 15000;
constexpr uint32_t kDeleteTimeoutMs = 15000;

// A path netsh reads back whole from between quotes: no quote inside, and no backslash before
// the closing quote (it would escape it).
bool IsQuotablePath(const std::string& path) {
  return !path.empty() && path.find('"') == std::string::npos && path.back() != '\\';
}
}  // namespace

std::string ProxySharingPortsText(const std::vector<int32_t>& ports) {
  std::string text;
  for (const int32_t port : ports) {
    // netsh refuses the whole rule for one value outside the port range.
    if (port < 1 || port > 65535) continue;
    if (!text.empty()) text += ",";
    text += std::to_string(port);
  }
  return text;
}

void OpenProxySharingFirewall(EngineNetworkState& engine) {
  // No sharing asked, no netsh start. A rule a dead session left is the start-up repair's.
  if (engine.share_proxy_ports.empty()) return;
  // Windows keeps rules of one name side by side: the earlier one goes first.
  CloseProxySharingFirewall(engine);
  const std::string ports = ProxySharingPortsText(engine.share_proxy_ports);
  if (ports.empty()) {
    TunnelLogWrite("proxy-share: no valid port to share; firewall left closed");
    return;
  }
  // Only the core listens on the shared ports; no other program gets them opened.
  if (!IsQuotablePath(engine.core_path)) {
    TunnelLogWrite("proxy-share: core path unusable in a firewall rule; firewall left closed");
    return;
  }
  const std::string command = std::string("netsh advfirewall firewall add rule name=\"") +
                              kProxySharingRuleName + "\" dir=in action=allow program=\"" +
                              engine.core_path + "\" protocol=TCP localport=" + ports +
                              " profile=private,domain remoteip=LocalSubnet";
  TunnelLogWrite("proxy-share: opening firewall for ports " + ports);
  engine.host.commands->Run(command, kAddTimeoutMs, true);
}

void CloseProxySharingFirewall(EngineNetworkState& engine) {
  engine.host.commands->Run(
      std::string("netsh advfirewall firewall delete rule name=\"") + kProxySharingRuleName + "\"",
      kDeleteTimeoutMs, false);
}

}  // namespace zelvora
