#include "vpn_engine/dns_protection/adapter_dns_settings.h"

#include "tunnel_log/tunnel_log.h"
#include "vpn_engine/dns_protection/netsh_text_rules.h"

namespace {

constexpr uint32_t kFlushCommandMs = 1500;

// The netsh commands for the same write, by the adapter's name.
bool RunNetshFallback(zelvora::CommandRunner& commands, const DnsAdapter& adapter, bool ipv6,
                      const std::vector<std::string>& servers, uint32_t timeout_ms) {
  if (!IsSafeNetshName(adapter.name)) {
    TunnelLogWrite("dns-leak: skip netsh DNS write — unsafe adapter name");
    return false;
  }
  for (const std::string& server : servers) {
    if (ipv6 ? !IsIpv6ServerText(server) : !IsDottedIpv4Server(server)) return false;
  }
  const std::string prefix = std::string("netsh interface ") + (ipv6 ? "ipv6" : "ipv4") + " ";
  const std::string name = "name=\"" + adapter.name + "\"";
  if (servers.empty()) return commands.Run(prefix + "set dns " + name + " dhcp", timeout_ms, true);
  bool ok =
      commands.Run(prefix + "set dns " + name + " static " + servers[0] + " primary validate=no",
                   timeout_ms, true);
  for (size_t i = 1; i < servers.size(); ++i) {
    ok = commands.Run(prefix + "add dns " + name + " " + servers[i] +
                          " index=" + std::to_string(i + 1) + " validate=no",
                      timeout_ms, true) &&
         ok;
  }
  return ok;
}

}  // namespace

bool WriteAdapterDns(zelvora::HostNetwork& network, zelvora::CommandRunner& commands,
                     const DnsAdapter& adapter, bool ipv6, const std::vector<std::string>& servers,
                     uint32_t fallback_timeout_ms) {
  switch (network.SetAdapterDnsServers(adapter.luid, ipv6, servers)) {
    case zelvora::SystemCallResult::kDone:
      return true;
    case zelvora::SystemCallResult::kFailed:
      TunnelLogWrite(std::string("dns-leak: SetInterfaceDnsSettings (") + (ipv6 ? "IPv6" : "IPv4") +
                     ") failed on " + adapter.name);
      return false;
    case zelvora::SystemCallResult::kMissing:
      break;
  }
  return RunNetshFallback(commands, adapter, ipv6, servers, fallback_timeout_ms);
}

void FlushDnsCache(zelvora::HostNetwork& network, zelvora::CommandRunner& commands) {
  switch (network.FlushResolverCache()) {
    case zelvora::SystemCallResult::kDone:
      return;
    case zelvora::SystemCallResult::kFailed:
      TunnelLogWrite("dns-leak: DnsFlushResolverCache failed");
      return;
    case zelvora::SystemCallResult::kMissing:
      break;
  }
  commands.Run("ipconfig /flushdns", kFlushCommandMs, false);
}
