// The host's network state as the engine reads and changes it through IP Helper: adapters,
// the IPv4 route table, interface rows, the best route and the IPv6 default route.
//
// The engine never calls IP Helper itself; it goes through this interface so that its route and
// DNS logic runs unchanged against a simulated host in tests. The production implementation
// (host_network_win32.cpp) is one thin IP Helper call per operation. No Win32 types appear here,
// so the logic above it also builds natively.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zelvora {

// IPv4 addresses are held as numbers in host order: 192.168.1.1 is 0xC0A80101.
using Ipv4Address = uint32_t;

// One row of the IPv4 forward table, as the legacy table reports it.
struct Ipv4Route {
  Ipv4Address destination = 0;
  Ipv4Address mask = 0;
  Ipv4Address next_hop = 0;
  uint32_t if_index = 0;
  uint32_t metric = 0;  // first metric: route metric plus interface metric
  bool operator==(const Ipv4Route& other) const {
    return destination == other.destination && mask == other.mask && next_hop == other.next_hop &&
           if_index == other.if_index && metric == other.metric;
  }
};

// One DNS server entry of an adapter, in the order the adapter lists them.
struct DnsServerEntry {
  bool ipv4 = true;  // false: another address family
  std::string text;  // dotted IPv4 (or IPv6 text); empty when it could not be converted
};

struct UnicastAddress {
  std::string text;  // dotted IPv4
  uint8_t prefix_length = 0;
};

// One adapter of the adapter listing.
struct AdapterInfo {
  std::wstring friendly_name;  // may be empty
  std::wstring description;
  uint64_t luid = 0;
  uint32_t if_index = 0;       // IPv4 interface index (0: no IPv4)
  uint32_t ipv6_if_index = 0;  // IPv6 interface index (0: no IPv6)
  bool oper_up = false;        // operational status "up"
  bool software_loopback = false;
  bool dhcpv4_enabled = false;
  // The IPv4 DNS servers were set by hand (the interface's own NameServer setting), so they
  // are the user's even on a DHCP adapter, and must be written back rather than left to DHCP.
  bool dns_v4_static = false;
  // The same for the IPv6 DNS servers (the Tcpip6 interface's NameServer setting).
  bool dns_v6_static = false;
  std::vector<DnsServerEntry> dns_servers;
  std::vector<UnicastAddress> ipv4_addresses;
};

// Which adapters a listing asks for.
enum class AdapterListing {
  kIpv4,           // IPv4 family only, with prefixes (the route code's listing)
  kAllFamilies,    // every family, without anycast and multicast lists (the DNS code's listing)
  kAllInterfaces,  // every family and every interface, bound or not (the tunnel-name lookup)
};

// Outcome of a two-call read (sizing call, then the read into a buffer of the reported size).
enum class ReadStatus {
  kOk,
  kSizingFailed,  // the sizing call did not report a too-small buffer
  kReadFailed,    // the second call failed
};

// ---- Route and address changes ----
// What IP Helper answers when the route or address to add is there already (5010).
inline constexpr uint32_t kErrorObjectAlreadyExists = 5010;

// A route to add. IP Helper finds the interface by its LUID, or by its index when the LUID is 0.
struct Ipv4RouteToAdd {
  Ipv4Address destination = 0;  // the network, no bits outside the prefix
  uint8_t prefix_length = 0;
  Ipv4Address next_hop = 0;  // 0: on-link
  uint64_t luid = 0;
  uint32_t if_index = 0;
  uint32_t metric = 0;  // the route's own metric; the interface metric is added to it
};

// The IPv4 row of an interface (metric settings only).
struct InterfaceMetric {
  uint32_t metric = 0;
  bool automatic = false;
};

// Outcome of a system call that older Windows versions do not have.
enum class SystemCallResult {
  kDone,
  kFailed,
  kMissing,  // this Windows does not offer the call: the caller falls back to a command
};

class HostNetwork {
 public:
  virtual ~HostNetwork() = default;

  virtual ReadStatus ListAdapters(AdapterListing listing, std::vector<AdapterInfo>* adapters) = 0;
  // The IPv4 forward table, sorted the way the system sorts it.
  virtual ReadStatus ReadIpv4Routes(std::vector<Ipv4Route>* routes) = 0;
  // Deletes the row with this destination, mask, next hop and interface.
  virtual bool DeleteIpv4Route(const Ipv4Route& route) = 0;
  // 0 and the chosen row, or the system's error code.
  virtual uint32_t GetBestRoute(Ipv4Address destination, Ipv4Route* route) = 0;
  // True and `present` when the IPv6 forward table could be read.
  virtual bool ReadIpv6DefaultRoute(bool* present) = 0;

  virtual bool DeleteUnicastAddress(uint64_t luid, uint32_t if_index,
                                    const std::string& address) = 0;
  virtual bool GetInterfaceMetric(uint32_t if_index, InterfaceMetric* row) = 0;
  virtual bool SetInterfaceMetric(uint32_t if_index, const InterfaceMetric& row) = 0;

  // ---- Route and address changes ----
  // Both last until the next restart only (the active store), and both answer 0 or the
  // system's error code (kErrorObjectAlreadyExists: it is there already).
  virtual uint32_t AddIpv4Route(const Ipv4RouteToAdd& route) = 0;
  // A manual unicast address with its on-link prefix, usable at once (no wait for duplicate
  // address detection).
  virtual uint32_t AddUnicastAddress(uint64_t luid, uint32_t if_index, Ipv4Address address,
                                     uint8_t prefix_length) = 0;

  // IPv4 addresses of a host name, in resolver order without repeats; empty on failure.
  virtual std::vector<std::string> ResolveIpv4(const std::string& name) = 0;

  // ---- Adapter DNS servers and the resolver cache ----
  // Makes `servers` (dotted IPv4, or IPv6 text when `ipv6`) the adapter's hand-set DNS servers
  // of that family, in that order; an empty list returns the family to automatic servers (DHCP,
  // router advertisements). Kept across restarts, as netsh's "set dns" keeps them.
  virtual SystemCallResult SetAdapterDnsServers(uint64_t luid, bool ipv6,
                                                const std::vector<std::string>& servers) = 0;
  // Empties the system resolver's cache.
  virtual SystemCallResult FlushResolverCache() = 0;
};

}  // namespace zelvora
