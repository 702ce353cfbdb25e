// The tunnel's IPv4 routing: the physical uplink, bypass host and LAN routes around the tunnel,
// the tunnel address and default route with the checks that it wins, the connect diagnostics,
// and the fast teardown at disconnect.
//
// Every read and change goes through the host-network seam (IP Helper): no outside program is
// started, and what is added lasts until the next restart at most. Definitions used throughout:
//   default route          destination 0.0.0.0, mask 0.0.0.0
//   tunnel default route   a default route via 10.0.85.1, or on the tunnel interface
//   physical default route a default route with a non-zero next hop other than 10.0.85.1, not on
//                          the tunnel interface
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "vpn_engine/host/engine_network_state.h"
#include "vpn_engine/host/host_network.h"

namespace zelvora {

inline constexpr char kTunnelAddress[] = "10.0.85.2";           // as adapter listings show it
inline constexpr Ipv4Address kTunnelAddressValue = 0x0A005502;  // the same, to add it
inline constexpr Ipv4Address kTunnelGateway = 0x0A005501;       // 10.0.85.1
inline constexpr Ipv4Address kOnLink = 0;                       // a next hop on the link itself

// Lookups (no engine state).
// A default route via 10.0.85.1, or on the tunnel interface when its index is known (non-zero).
bool IsTunnelDefaultRoute(const Ipv4Route& route, uint32_t tunnel_index);
// The tunnel interface: the adapter of `tunnel_luid`; with none known (0), the tunnel-named
// adapter ("Zelvora", else the lowest "Zelvora N"). 0: none.
uint32_t FindTunnelInterfaceIndex(HostNetwork& network, uint64_t tunnel_luid = 0);
// The physical default route with the smallest metric (first in table order on a tie). False
// when there is none or the table cannot be read.
bool FindPhysicalUplink(HostNetwork& network, Ipv4Route* route);
// "gateway|interface index" of that route, empty when there is none.
std::string GetPhysicalUplinkFingerprint(HostNetwork& network);

// Start steps. Routes around the tunnel go via the physical gateway on its own interface (both
// from one route row, kept in `engine`).
// Gives the tunnel adapter (`engine.tunnel_luid`) 10.0.85.2/24 (one retry); remembers the
// adapter's name. False: the address never appeared or a stop came.
bool ConfigureTunnelAddress(EngineNetworkState& engine);
// Host routes for the server's addresses and the tunnel's DNS servers via a freshly detected
// gateway. `announce` writes the tun2socks path's progress lines.
void AddServerBypassRoutes(EngineNetworkState& engine, const std::string& server_host,
                           const std::vector<std::string>& addresses, bool announce);
void AddHostBypassRoutes(EngineNetworkState& engine, const std::string& host);
// Routes the LAN subnets around the tunnel; a network the machine routes already is left alone.
// Looks at `engine.running` before each entry.
void AddLanBypassRoutes(EngineNetworkState& engine);
// Removes the LAN routes this session added.
void RemoveLanRoutes(EngineNetworkState& engine);
// The default route through the tunnel via `next_hop` (kOnLink: on the link), with one retry;
// the retry also gives the tunnel interface metric 1 (RestoreTunnelMetric puts it back). False:
// it neither wins on metric nor is the best route, or a stop came.
bool AddTunnelDefaultRoute(EngineNetworkState& engine, Ipv4Address next_hop);
// Puts back the tunnel interface's metric when the route step changed it. Called before the
// tunnel's process ends: the metric would outlive the adapter in the interface's settings.
void RestoreTunnelMetric(EngineNetworkState& engine);

// Checks.
// `tunnel_luid`: the tunnel adapter; 0: the tunnel-named one (see FindTunnelInterfaceIndex).
bool TunnelAdapterHasAddress(HostNetwork& network, uint64_t tunnel_luid = 0);
bool HasTunnelDefaultRoute(HostNetwork& network, uint64_t tunnel_luid = 0);
bool IsTunnelDefaultRouteWinning(HostNetwork& network, uint64_t tunnel_luid = 0);
bool BestRouteUsesTunnel(HostNetwork& network, uint64_t tunnel_luid = 0);  // logs one line
bool HasIpv6DefaultRoute(HostNetwork& network);
void LogDefaultRoutes(HostNetwork& network);
void LogConnectDiagnostics(HostNetwork& network, const std::string& gateway,
                           const std::string& server_address, uint64_t tunnel_luid = 0);

// Teardown.
void RemoveHostRoutes(HostNetwork& network, const std::vector<std::string>& addresses);
int DropTunnelDefaultRoutes(HostNetwork& network, uint64_t tunnel_luid = 0);
bool ClearTunnelAddress(HostNetwork& network, uint64_t tunnel_luid = 0);

}  // namespace zelvora
