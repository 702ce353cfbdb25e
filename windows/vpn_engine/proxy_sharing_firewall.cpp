#include "vpn_engine/proxy_sharing_firewall.h"

#include "tunnel_log/tunnel_log.h"
#include "vpn_engine/command_runner.h"

namespace zelvora {
namespace {
constexpr uint32_t kAddTimeoutMs = 15000;
constexpr uint32_t kDeleteTimeoutMs = 1200;
}  // namespace

std::string ProxySharingPortsText(const std::vector<int32_t>& ports) {
  std::string text;
  for (const int32_t port : ports) {
    if (!text.empty()) text += ",";
    text += std::to_string(port);
  }
  return text;
}

void OpenProxySharingFirewall(EngineNetworkState& engine) {
  CloseProxySharingFirewall(engine);
  if (engine.share_proxy_ports.empty()) return;
  const std::string ports = ProxySharingPortsText(engine.share_proxy_ports);
  const std::string command = std::string("netsh advfirewall firewall add rule name=\"") +
                              kProxySharingRuleName +
                              "\" dir=in action=allow protocol=TCP localport=" + ports +
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
