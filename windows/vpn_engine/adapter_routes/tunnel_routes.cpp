// The tunnel's route and address changes, and their teardown at disconnect.
#include "vpn_engine/adapter_routes/tunnel_routes.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <functional>

#include "common/console_line.h"
#include "common/stop_aware_wait.h"
#include "config_text/config_inspection.h"
#include "tunnel_log/tunnel_log.h"
#include "vpn_engine/adapter_routes/tunnel_adapter.h"
#include "vpn_engine/adapter_routes/wintun_holder.h"
#include "vpn_engine/host/ipv4_text.h"

namespace zelvora {
namespace {

// The longest the engine waits for an address or route it added to show; it goes on as soon
// as it does (IP Helper adds both before it returns, so normally at the first look).
constexpr int kAddressSettleMs = 300;
constexpr int kAddressRetrySettleMs = 400;
constexpr int kDefaultRouteSettleMs = 400;
constexpr int kDefaultRouteRetrySettleMs = 500;
constexpr Ipv4Address kHostMask = 0xFFFFFFFFu;
constexpr uint8_t kTunnelPrefixLength = 24;
// Bypass, LAN and tunnel routes all carry route metric 1 (as route.exe and netsh added them);
// the bypass routes win by being more specific than any default route.
constexpr uint32_t kRouteMetric = 1;

bool IsIpv4(const std::string& text) {
  Ipv4Address ignored = 0;
  return ParseIpv4(text, &ignored);
}

bool Contains(const std::vector<std::string>& list, const std::string& value) {
  return std::find(list.begin(), list.end(), value) != list.end();
}

// A route around the tunnel: via the physical gateway, on the interface of the route row that
// named the gateway. 0 or the system's error code.
uint32_t AddUplinkRoute(EngineNetworkState& engine, Ipv4Address destination,
                        uint8_t prefix_length) {
  Ipv4Address gateway = 0;
  ParseIpv4(engine.physical_gateway, &gateway);
  Ipv4RouteToAdd route;
  route.destination = destination;
  route.prefix_length = prefix_length;
  route.next_hop = gateway;
  route.if_index = engine.physical_if_index;
  route.metric = kRouteMetric;
  const uint32_t error = engine.host.network->AddIpv4Route(route);
  if (error != 0 && error != kErrorObjectAlreadyExists) {
    TunnelLogWrite("route add " + FormatIpv4(destination) + "/" + std::to_string(prefix_length) +
                   " via " + engine.physical_gateway + " failed err=" + std::to_string(error));
  }
  return error;
}

// Fills in the physical uplink (gateway and its interface) from the route table.
bool DetectUplink(EngineNetworkState& engine) {
  Ipv4Route uplink;
  if (!FindPhysicalUplink(*engine.host.network, &uplink)) return false;
  engine.physical_gateway = FormatIpv4(uplink.next_hop);
  engine.physical_if_index = uplink.if_index;
  return true;
}

// The uplink cached for this start, detected (and cached) when there is none yet.
bool CachedOrDetectedUplink(EngineNetworkState& engine) {
  return (!engine.physical_gateway.empty() && engine.physical_if_index != 0) ||
         DetectUplink(engine);
}

// The prefix length after the "/" as a 32-bit integer: leading blanks and a sign allowed,
// trailing text ignored. False when there is no number or it does not fit.
bool ReadPrefixLength(const std::string& text, long long* value) {
  size_t i = 0;
  while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  long long number = 0;
  size_t digits = 0;
  while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
    number = number * 10 + (text[i++] - '0');
    if (number > 2147483648ll) return false;
    ++digits;
  }
  if (digits == 0) return false;
  number = negative ? -number : number;
  if (number > 2147483647ll) return false;
  *value = number;
  return true;
}

// The tunnel adapter's LUID and interface index now (the index may change while the LUID
// stays); with no LUID known, the tunnel-named adapter's index. False when it is gone.
bool TunnelInterface(EngineNetworkState& engine, uint64_t* luid, uint32_t* if_index) {
  *luid = engine.tunnel_luid;
  *if_index = FindTunnelInterfaceIndex(*engine.host.network, *luid);
  return *if_index != 0;
}

// Waits up to `limit_ms` until `settled()` holds, looking once per stop-check slice. False
// when a stop came first.
bool WaitUntilSettled(const std::atomic<bool>& running, int limit_ms,
                      const std::function<bool()>& settled) {
  WaitUnlessStopped([&] { return !running || settled(); }, std::chrono::milliseconds(limit_ms));
  return running;
}

}  // namespace

// The tunnel adapter's name now (a rename may have come since it was picked); empty when gone.
std::string TunnelName(EngineNetworkState& engine) {
  TunnelAdapter tunnel;
  if (engine.tunnel_luid != 0) {
    return ReadTunnelAdapter(*engine.host.network, engine.tunnel_luid, &tunnel) ? tunnel.name
                                                                                : std::string();
  }
  return FindTunnelAdapterName(*engine.host.network);
}

bool ConfigureTunnelAddress(EngineNetworkState& engine) {
  ConsoleLine("VPN Service: Configuring TUN interface...");
  std::string name = TunnelName(engine);
  if (name.empty()) name = "Zelvora";
  engine.tunnel_adapter_name = name;
  // Added through IP Helper, the address lasts for the session only: neither a crash nor the
  // adapter's next life brings it back after a restart.
  const auto add = [&engine] {
    uint64_t luid = 0;
    uint32_t if_index = 0;
    if (!TunnelInterface(engine, &luid, &if_index)) return;
    const uint32_t error = engine.host.network->AddUnicastAddress(
        luid, if_index, kTunnelAddressValue, kTunnelPrefixLength);
    if (error != 0 && error != kErrorObjectAlreadyExists) {
      TunnelLogWrite("tunnel address 10.0.85.2/24 not added err=" + std::to_string(error));
    }
  };
  const auto has_address = [&engine] {
    return TunnelAdapterHasAddress(*engine.host.network, engine.tunnel_luid);
  };
  add();
  if (!WaitUntilSettled(engine.running, kAddressSettleMs, has_address)) return false;
  if (has_address()) return true;

  TunnelLogWrite("ERROR: Zelvora adapter missing 10.0.85.2 after set address");
  add();
  if (!WaitUntilSettled(engine.running, kAddressRetrySettleMs, has_address)) return false;
  if (has_address()) return true;
  LogConnectDiagnostics(*engine.host.network, engine.physical_gateway, engine.server_bypass_ip,
                        engine.tunnel_luid);
  return false;
}

void AddServerBypassRoutes(EngineNetworkState& engine, const std::string& server_host,
                           const std::vector<std::string>& addresses, bool announce) {
  if (server_host.empty()) {
    if (announce) {
      TunnelLogWrite("WARNING: could not extract server address from config");
      ConsoleLine("VPN Service: WARNING - Could not extract server address from config");
    }
    return;
  }
  if (announce) ConsoleLine("VPN Service: Extracting server address: " + server_host);
  // Only well-formed addresses become routes.
  std::vector<std::string> routable;
  for (const std::string& address : addresses) {
    if (IsIpv4(address) && !Contains(routable, address)) routable.push_back(address);
  }
  if (routable.empty()) {
    if (announce) {
      TunnelLogWrite("ERROR: could not resolve VPN server address: " + server_host);
      ConsoleLine("VPN Service: ERROR - Could not resolve server address");
    }
    return;
  }
  if (announce) {
    ConsoleLine("VPN Service: Resolved server to " + std::to_string(routable.size()) +
                " IPv4 address(es)");
  }
  if (!DetectUplink(engine)) {
    if (announce) {
      TunnelLogWrite("ERROR: could not detect physical gateway (bypass routes skipped)");
      ConsoleLine("VPN Service: ERROR - Could not find default gateway for bypass route");
    }
    return;
  }
  const std::string& gateway = engine.physical_gateway;
  if (announce) {
    TunnelLogWrite("Physical gateway: " + gateway);
    ConsoleLine("VPN Service: Default gateway: " + gateway);
  }
  engine.server_bypass_ip = routable.front();
  for (const std::string& address : routable) {
    if (!engine.running) return;
    if (announce) ConsoleLine("VPN Service: Adding bypass route: " + address + " via " + gateway);
    Ipv4Address value = 0;
    ParseIpv4(address, &value);
    AddUplinkRoute(engine, value, 32);
    if (address != engine.server_bypass_ip && !Contains(engine.bypass_host_routes, address)) {
      engine.bypass_host_routes.push_back(address);
    }
  }
  // The tunnel's DNS servers get no route of their own: queries to them (and DNS over HTTPS to
  // the same addresses) follow the default route into the tunnel and through the proxy.
}

void AddHostBypassRoutes(EngineNetworkState& engine, const std::string& host) {
  static const std::string kDomain = "domain:";
  static const std::string kFull = "full:";
  std::string name;
  if (host.size() > kDomain.size() && host.compare(0, kDomain.size(), kDomain) == 0) {
    name = host.substr(kDomain.size());
  } else if (host.size() > kFull.size() && host.compare(0, kFull.size(), kFull) == 0) {
    name = host.substr(kFull.size());
  } else if (host.find(':') == std::string::npos) {
    name = host;
  }
  if (name.empty()) {
    if (!host.empty()) TunnelLogWrite("bypass: no host route possible for '" + host + "'");
    return;
  }
  std::vector<std::string> addresses;
  if (IsIpv4(name)) {
    addresses.push_back(name);
  } else {
    for (const std::string& address : engine.host.network->ResolveIpv4(name)) {
      if (IsIpv4(address) && !Contains(addresses, address)) addresses.push_back(address);
    }
  }
  if (addresses.empty()) {
    TunnelLogWrite("bypass: could not resolve '" + name + "'");
    return;
  }
  if (!CachedOrDetectedUplink(engine)) {
    TunnelLogWrite("bypass: no physical gateway, skipping routes for '" + name + "'");
    return;
  }
  for (const std::string& address : addresses) {
    if (!engine.running) return;
    if (address == engine.server_bypass_ip || Contains(engine.bypass_host_routes, address)) {
      continue;
    }
    TunnelLogWrite("bypass: " + name + " -> " + address);
    Ipv4Address value = 0;
    ParseIpv4(address, &value);
    AddUplinkRoute(engine, value, 32);
    engine.bypass_host_routes.push_back(address);
  }
}

void AddLanBypassRoutes(EngineNetworkState& engine) {
  if (engine.bypass_subnets.empty()) return;
  Ipv4Address gateway_value = 0;
  if (!CachedOrDetectedUplink(engine) || !ParseIpv4(engine.physical_gateway, &gateway_value)) {
    return;
  }
  // The networks the machine routes already (the on-link route of the user's own LAN among
  // them) keep the routes they have: the engine adds only what is missing, so it removes only
  // what it added.
  std::vector<Ipv4Route> table;
  engine.host.network->ReadIpv4Routes(&table);
  for (const std::string& entry : engine.bypass_subnets) {
    if (!engine.running) return;
    std::string network = entry;
    Ipv4Address mask = kHostMask;
    const size_t slash = entry.find('/');
    if (slash != std::string::npos) {
      network = entry.substr(0, slash);
      long long prefix = 0;
      if (!ReadPrefixLength(entry.substr(slash + 1), &prefix)) {
        ConsoleLine("VPN Service: skipping malformed bypass subnet: " + entry);
        continue;
      }
      mask = MaskFromPrefix(prefix);
    }
    Ipv4Address address = 0;
    if (!ParseIpv4(network, &address)) {
      ConsoleLine("VPN Service: skipping non-IPv4 bypass subnet: " + entry);
      continue;
    }
    const Ipv4Address base = address & mask;  // "192.168.1.5/24" is the network 192.168.1.0
    const bool routed = std::any_of(table.begin(), table.end(), [&](const Ipv4Route& route) {
      return route.destination == base && route.mask == mask;
    });
    if (routed) {
      ConsoleLine("VPN Service: LAN bypass " + entry + " already routed; left as it is");
      continue;
    }
    // A route that appeared since the table was read is someone else's: only a route this
    // call added is recorded (and removed at disconnect).
    if (AddUplinkRoute(engine, base, PrefixLengthOf(mask)) == 0) {
      engine.lan_routes.push_back({base, mask, gateway_value, engine.physical_if_index, 0});
      table.push_back(engine.lan_routes.back());
    }
  }
}

void RemoveLanRoutes(EngineNetworkState& engine) {
  if (engine.lan_routes.empty()) return;
  std::vector<Ipv4Route> table;
  if (engine.host.network->ReadIpv4Routes(&table) == ReadStatus::kOk) {
    for (const Ipv4Route& route : table) {
      const bool ours = std::any_of(
          engine.lan_routes.begin(), engine.lan_routes.end(), [&](const Ipv4Route& added) {
            return added.destination == route.destination && added.mask == route.mask &&
                   added.next_hop == route.next_hop;
          });
      if (ours) engine.host.network->DeleteIpv4Route(route);
    }
  }
  engine.lan_routes.clear();
}

bool AddTunnelDefaultRoute(EngineNetworkState& engine, Ipv4Address next_hop) {
  HostNetwork& network = *engine.host.network;
  const auto add = [&engine, &network, next_hop] {
    uint64_t luid = 0;
    uint32_t if_index = 0;
    if (!TunnelInterface(engine, &luid, &if_index)) return;
    Ipv4RouteToAdd route;
    route.next_hop = next_hop;
    route.luid = luid;
    route.if_index = if_index;
    route.metric = kRouteMetric;
    ConsoleLine("VPN Service: Adding default route via " + FormatIpv4(next_hop) + " on interface " +
                std::to_string(if_index));
    const uint32_t error = network.AddIpv4Route(route);
    if (error != 0 && error != kErrorObjectAlreadyExists) {
      TunnelLogWrite("tunnel default route not added err=" + std::to_string(error));
    }
  };
  const uint64_t luid = engine.tunnel_luid;
  // The table is looked at until the route wins there; the best-route lookup (which logs what
  // it found) only once the wait is over.
  const auto wins_in_table = [&network, luid] {
    return IsTunnelDefaultRouteWinning(network, luid);
  };
  const auto winning = [&] { return wins_in_table() || BestRouteUsesTunnel(network, luid); };
  add();
  if (!WaitUntilSettled(engine.running, kDefaultRouteSettleMs, wins_in_table)) return false;
  if (winning()) return true;

  TunnelLogWrite("WARNING: default route missing/losing after the first add \xE2\x80\x94 retrying");
  // Interface metric 1: the tunnel's automatic metric can be no lower than a fast physical
  // link's; with the route's own 1, only a physical route pinned lower still wins. Only now, as
  // the interface keeps the metric with its device.
  uint64_t ignored = 0;
  uint32_t if_index = 0;
  InterfaceMetric before;
  if (TunnelInterface(engine, &ignored, &if_index) &&
      network.GetInterfaceMetric(if_index, &before)) {
    engine.tunnel_metric_index = if_index;
    engine.tunnel_metric_before = before;
    engine.tunnel_metric_changed = true;
    if (!network.SetInterfaceMetric(if_index, InterfaceMetric{1, false})) {
      TunnelLogWrite("tunnel interface metric 1 not set");
    }
  }
  add();
  if (!WaitUntilSettled(engine.running, kDefaultRouteRetrySettleMs, wins_in_table)) return false;
  if (winning()) return true;
  TunnelLogWrite("ERROR: IPv4 default via Zelvora not winning \xE2\x80\x94 aborting connect");
  LogConnectDiagnostics(network, engine.physical_gateway, engine.server_bypass_ip, luid);
  return false;
}

void RestoreTunnelMetric(EngineNetworkState& engine) {
  if (!engine.tunnel_metric_changed.exchange(false)) return;
  engine.host.network->SetInterfaceMetric(engine.tunnel_metric_index, engine.tunnel_metric_before);
}

void RemoveHostRoutes(HostNetwork& network, const std::vector<std::string>& addresses) {
  if (addresses.empty()) return;
  std::vector<Ipv4Route> routes;
  if (network.ReadIpv4Routes(&routes) != ReadStatus::kOk) return;
  std::vector<Ipv4Address> wanted;
  for (const std::string& text : addresses) {
    Ipv4Address address = 0;
    if (ParseIpv4(text, &address)) wanted.push_back(address);
  }
  for (const Ipv4Route& route : routes) {
    if (route.mask != kHostMask) continue;
    if (std::find(wanted.begin(), wanted.end(), route.destination) == wanted.end()) continue;
    network.DeleteIpv4Route(route);
  }
}

int DropTunnelDefaultRoutes(HostNetwork& network, uint64_t tunnel_luid) {
  // Every default route via 10.0.85.1, whatever its interface (an earlier adapter's included),
  // and every one on the tunnel's interface.
  std::vector<Ipv4Route> routes;
  if (network.ReadIpv4Routes(&routes) != ReadStatus::kOk) return 0;
  const uint32_t tunnel_index = FindTunnelInterfaceIndex(network, tunnel_luid);
  int dropped = 0;
  for (const Ipv4Route& route : routes) {
    if (IsTunnelDefaultRoute(route, tunnel_index) && network.DeleteIpv4Route(route)) {
      ++dropped;
    }
  }
  if (dropped > 0) {
    TunnelLogWrite("fast-disconnect: dropped " + std::to_string(dropped) +
                   " Zelvora default route(s)");
  }
  return dropped;
}

bool ClearTunnelAddress(HostNetwork& network, uint64_t tunnel_luid) {
  std::vector<AdapterInfo> adapters;
  if (network.ListAdapters(AdapterListing::kIpv4, &adapters) != ReadStatus::kOk) return false;
  bool cleared = false;
  for (const AdapterInfo& adapter : adapters) {
    if (tunnel_luid != 0 ? adapter.luid != tunnel_luid
                         : !IsZelvoraAdapterName(adapter.friendly_name)) {
      continue;
    }
    for (const UnicastAddress& address : adapter.ipv4_addresses) {
      if (address.text != kTunnelAddress) continue;
      if (network.DeleteUnicastAddress(adapter.luid, adapter.if_index, address.text)) {
        TunnelLogWrite("fast-disconnect: cleared Zelvora address 10.0.85.2");
        cleared = true;
      }
    }
  }
  return cleared;
}

}  // namespace zelvora
