// Route-table lookups and checks of the tunnel routing, and the connect diagnostics.
#include <algorithm>
#include <limits>

#include "tunnel_log/tunnel_log.h"
#include "vpn_engine/adapter_routes/tunnel_adapter.h"
#include "vpn_engine/adapter_routes/tunnel_routes.h"
#include "vpn_engine/adapter_routes/wintun_holder.h"
#include "vpn_engine/host/ipv4_text.h"

namespace zelvora {
namespace {

constexpr Ipv4Address kBestRouteProbe = 0x01000001;  // 1.0.0.1

bool IsDefaultRoute(const Ipv4Route& route) { return route.destination == 0 && route.mask == 0; }

bool IsPhysicalDefaultRoute(const Ipv4Route& route, uint32_t tunnel_index) {
  return IsDefaultRoute(route) && route.next_hop != 0 && route.next_hop != kTunnelGateway &&
         (tunnel_index == 0 || route.if_index != tunnel_index);
}

const char* Flag(bool value) { return value ? "yes" : "no"; }

}  // namespace

bool FindPhysicalUplink(HostNetwork& network, Ipv4Route* chosen) {
  std::vector<Ipv4Route> routes;
  if (network.ReadIpv4Routes(&routes) != ReadStatus::kOk) return false;
  const uint32_t tunnel_index = FindTunnelInterfaceIndex(network);
  bool found = false;
  for (const Ipv4Route& route : routes) {
    if (!IsPhysicalDefaultRoute(route, tunnel_index)) continue;
    if (!found || route.metric < chosen->metric) {
      *chosen = route;
      found = true;
    }
  }
  return found;
}

bool IsTunnelDefaultRoute(const Ipv4Route& route, uint32_t tunnel_index) {
  return IsDefaultRoute(route) && (route.next_hop == kTunnelGateway ||
                                   (tunnel_index != 0 && route.if_index == tunnel_index));
}

uint32_t FindTunnelInterfaceIndex(HostNetwork& network, uint64_t tunnel_luid) {
  if (tunnel_luid != 0) {
    TunnelAdapter tunnel;
    return ReadTunnelAdapter(network, tunnel_luid, &tunnel) ? tunnel.if_index : 0;
  }
  std::vector<AdapterInfo> adapters;
  if (network.ListAdapters(AdapterListing::kIpv4, &adapters) != ReadStatus::kOk) return 0;
  uint32_t exact = 0;
  uint32_t numbered = 0;
  unsigned long long lowest = std::numeric_limits<unsigned long long>::max();
  for (const AdapterInfo& adapter : adapters) {
    if (!IsZelvoraAdapterName(adapter.friendly_name)) continue;
    if (adapter.friendly_name == kTunnelAdapterName) {
      exact = adapter.if_index;
      continue;
    }
    const unsigned long long number = ZelvoraAdapterNumber(adapter.friendly_name);
    if (numbered == 0 || number < lowest) {
      numbered = adapter.if_index;
      lowest = number;
    }
  }
  return exact != 0 ? exact : numbered;
}

std::string GetPhysicalUplinkFingerprint(HostNetwork& network) {
  Ipv4Route route;
  if (!FindPhysicalUplink(network, &route)) return std::string();
  return FormatIpv4(route.next_hop) + "|" + std::to_string(route.if_index);
}

bool TunnelAdapterHasAddress(HostNetwork& network, uint64_t tunnel_luid) {
  std::vector<AdapterInfo> adapters;
  if (network.ListAdapters(AdapterListing::kIpv4, &adapters) != ReadStatus::kOk) return false;
  for (const AdapterInfo& adapter : adapters) {
    if (tunnel_luid != 0 ? adapter.luid != tunnel_luid
                         : !IsZelvoraAdapterName(adapter.friendly_name)) {
      continue;
    }
    for (const UnicastAddress& address : adapter.ipv4_addresses) {
      if (address.text == kTunnelAddress) return true;
    }
  }
  return false;
}

bool HasTunnelDefaultRoute(HostNetwork& network, uint64_t tunnel_luid) {
  std::vector<Ipv4Route> routes;
  if (network.ReadIpv4Routes(&routes) != ReadStatus::kOk) return false;
  const uint32_t tunnel_index = FindTunnelInterfaceIndex(network, tunnel_luid);
  for (const Ipv4Route& route : routes) {
    if (IsTunnelDefaultRoute(route, tunnel_index)) return true;
  }
  return false;
}

bool IsTunnelDefaultRouteWinning(HostNetwork& network, uint64_t tunnel_luid) {
  std::vector<Ipv4Route> routes;
  if (network.ReadIpv4Routes(&routes) != ReadStatus::kOk) return false;
  const uint32_t tunnel_index = FindTunnelInterfaceIndex(network, tunnel_luid);
  bool any_tunnel = false;
  uint32_t best_all = std::numeric_limits<uint32_t>::max();
  uint32_t best_tunnel = std::numeric_limits<uint32_t>::max();
  for (const Ipv4Route& route : routes) {
    if (!IsDefaultRoute(route)) continue;
    best_all = std::min(best_all, route.metric);
    if (IsTunnelDefaultRoute(route, tunnel_index)) {
      any_tunnel = true;
      best_tunnel = std::min(best_tunnel, route.metric);
    }
  }
  return any_tunnel && best_tunnel <= best_all;
}

bool BestRouteUsesTunnel(HostNetwork& network, uint64_t tunnel_luid) {
  Ipv4Route route;
  const uint32_t error = network.GetBestRoute(kBestRouteProbe, &route);
  if (error != 0) {
    TunnelLogWrite("diag: GetBestRoute(1.0.0.1) failed err=" + std::to_string(error) +
                   " (ignored if table metric wins)");
    return false;
  }
  TunnelLogWrite("diag: best_route 1.0.0.1 via " + FormatIpv4(route.next_hop) + " if=" +
                 std::to_string(route.if_index) + " metric=" + std::to_string(route.metric));
  const uint32_t tunnel_index = FindTunnelInterfaceIndex(network, tunnel_luid);
  return (tunnel_index != 0 && tunnel_index == route.if_index) ||
         (tunnel_luid == 0 && route.next_hop == kTunnelGateway);
}

bool HasIpv6DefaultRoute(HostNetwork& network) {
  bool present = false;
  return network.ReadIpv6DefaultRoute(&present) && present;
}

void LogDefaultRoutes(HostNetwork& network) {
  std::vector<Ipv4Route> routes;
  switch (network.ReadIpv4Routes(&routes)) {
    case ReadStatus::kSizingFailed:
      TunnelLogWrite("diag: GetIpForwardTable size failed");
      return;
    case ReadStatus::kReadFailed:
      TunnelLogWrite("diag: GetIpForwardTable failed");
      return;
    case ReadStatus::kOk:
      break;
  }
  int count = 0;
  for (const Ipv4Route& route : routes) {
    if (!IsDefaultRoute(route)) continue;
    ++count;
    TunnelLogWrite("diag: IPv4 default via " + FormatIpv4(route.next_hop) + " if=" +
                   std::to_string(route.if_index) + " metric=" + std::to_string(route.metric));
  }
  TunnelLogWrite("diag: IPv4 default route count=" + std::to_string(count));
}

void LogConnectDiagnostics(HostNetwork& network, const std::string& gateway,
                           const std::string& server_address, uint64_t tunnel_luid) {
  TunnelLogWrite("=== connect diagnostics begin ===");
  TunnelLogWrite(std::string("diag: adapter_listed=") +
                 Flag(FindTunnelInterfaceIndex(network, tunnel_luid) != 0));
  TunnelLogWrite(std::string("diag: adapter_ip_10.0.85.2=") +
                 Flag(TunnelAdapterHasAddress(network, tunnel_luid)));
  TunnelLogWrite(std::string("diag: default_listed_Zelvora=") +
                 Flag(HasTunnelDefaultRoute(network, tunnel_luid)));
  TunnelLogWrite(std::string("diag: default_metric_wins=") +
                 Flag(IsTunnelDefaultRouteWinning(network, tunnel_luid)));
  const bool best = BestRouteUsesTunnel(network, tunnel_luid);
  TunnelLogWrite(std::string("diag: best_route_via_Zelvora=") + Flag(best));
  TunnelLogWrite(std::string("diag: ipv6_default_present=") + Flag(HasIpv6DefaultRoute(network)));
  TunnelLogWrite("diag: physical_gateway=" + (gateway.empty() ? std::string("(empty)") : gateway));
  if (!server_address.empty()) TunnelLogWrite("diag: server_bypass_ip=" + server_address);
  LogDefaultRoutes(network);
  TunnelLogWrite("=== connect diagnostics end ===");
}

}  // namespace zelvora
