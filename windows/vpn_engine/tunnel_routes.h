// The tunnel's IPv4 routing: the physical uplink, bypass host and LAN routes around the tunnel,
// the tunnel address and default route with the checks that it wins, the connect diagnostics,
// and the fast teardown at disconnect.
//
// Route and interface changes are route/netsh commands through the command seam; reads and
// deletions go through the host-network seam. Definitions used throughout:
//   default route          destination 0.0.0.0, mask 0.0.0.0
//   tunnel default route   a default route via 10.0.85.1, or on the tunnel interface
//   physical default route a default route with a non-zero next hop other than 10.0.85.1, not on
//                          the tunnel interface
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "vpn_engine/engine_network_state.h"
#include "vpn_engine/host_network.h"

namespace zelvora {

inline constexpr char kTunnelAddress[] = "10.0.85.2";
inline constexpr char kTunnelMask[] = "255.255.255.0";
inline constexpr char kTunnelGateway[] = "10.0.85.1";

// Lookups (no engine state).
// A default route via 10.0.85.1, or on the tunnel interface when its index is known (non-zero).
bool IsTunnelDefaultRoute(const Ipv4Route& route, uint32_t tunnel_index);
uint32_t FindTunnelInterfaceIndex(HostNetwork& network);  // 0: none
// The physical default route with the smallest metric (first in table order on a tie), else the
// first IPv4 default gateway ipconfig shows that is not the tunnel's. Empty when there is none.
std::string DetectPhysicalGateway(const HostSeams& host);
// "gateway|interface index" of that route (no ipconfig fallback); empty when there is none.
std::string GetPhysicalUplinkFingerprint(HostNetwork& network);

// Start steps.
void EnableTunnelInterface(const HostSeams& host);
// Gives the tunnel adapter 10.0.85.2/24 (one retry); remembers the adapter name used. False:
// the address never appeared or a stop came.
bool ConfigureTunnelAddress(EngineNetworkState& engine);
// Host routes for the server's addresses and the tunnel's DNS servers via a freshly detected
// gateway. `announce` writes the tun2socks path's progress lines.
void AddServerBypassRoutes(EngineNetworkState& engine, const std::string& server_host,
                           const std::vector<std::string>& addresses, bool announce);
void AddHostBypassRoutes(EngineNetworkState& engine, const std::string& host);
void AddLanBypassRoutes(EngineNetworkState& engine);
// The default route through the tunnel, with one retry. False: it neither wins on metric nor
// is the best route, or a stop came.
bool AddTunnelDefaultRoute(EngineNetworkState& engine, const std::string& adapter_name);

// Checks.
bool TunnelAdapterHasAddress(HostNetwork& network);
bool HasTunnelDefaultRoute(HostNetwork& network);
bool IsTunnelDefaultRouteWinning(HostNetwork& network);
bool BestRouteUsesTunnel(HostNetwork& network);  // logs one line
bool HasIpv6DefaultRoute(HostNetwork& network);
void LogDefaultRoutes(HostNetwork& network);
void LogConnectDiagnostics(HostNetwork& network, const std::string& gateway,
                           const std::string& server_address);

// Teardown.
void RemoveHostRoutes(HostNetwork& network, const std::vector<std::string>& addresses);
int DropTunnelDefaultRoutes(const HostSeams& host);
bool ClearTunnelAddress(HostNetwork& network);

}  // namespace zelvora
