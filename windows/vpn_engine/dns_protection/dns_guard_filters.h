// What the DNS guard puts into the filtering engine, as plain data: its provider, its sublayer
// and the filters for a tunnel interface and a list of permitted DNS hosts.
//
// In the guard's sublayer (weight 0x8000):
//   per permitted host, UDP then TCP: permit the Xray core to reach host:53    (weight 15, V4)
//   block port 53 UDP/TCP off the tunnel interface: V4/UDP, V4/TCP, V6/UDP, V6/TCP (weight 8)
//   permit loopback (V4, V6), DHCP (V4: 68 to 67) and DHCPv6 (V6: 546 to 547),
//   and IPv6 neighbour discovery (ICMPv6 types 133 to 137)                      (weight 15)
//   block all outbound IPv6 off the tunnel interface                             (weight 8)
// One host gives 16 filters, two give 18, eight (the most) give 30.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "vpn_engine/host/filtering_engine.h"

inline constexpr WfpKey kDnsGuardProviderKey = {
    0x5A656C76, 0x444E, 0x5301, {0x47, 0x55, 0x41, 0x52, 0x44, 0x5A, 0x56, 0x31}};
inline constexpr WfpKey kDnsGuardSublayerKey = {
    0x5A656C76, 0x444E, 0x5300, {0x47, 0x55, 0x41, 0x52, 0x44, 0x5A, 0x56, 0x31}};

inline constexpr size_t kDnsGuardMaxPermittedHosts = 8;
inline constexpr size_t kDnsGuardFilterCapacity = 32;

WfpProviderSpec DnsGuardProvider();
WfpSublayerSpec DnsGuardSublayer();

// The distinct dotted IPv4 addresses of `servers`, in order, as host-order values. Each entry
// that is empty or not an address logs "dns-guard: skip invalid DNS permit host " + entry;
// repeats are skipped silently. The guard refuses to install with more than
// kDnsGuardMaxPermittedHosts of them.
std::vector<uint32_t> DnsGuardPermittedHosts(const std::vector<std::string>& servers);

// Which of the guard's filters a spec is; the guard words its failure lines by it.
enum class DnsGuardFilterRole { kXrayPermit, kDnsLeakGuard, kLocalPermit, kIpv6LeakGuard };

struct DnsGuardFilter {
  DnsGuardFilterRole role;
  WfpFilterSpec spec;
};

// The filters in the order they are added, for the tunnel's interface LUID, the Xray core's
// application id and the permitted hosts.
std::vector<DnsGuardFilter> BuildDnsGuardFilters(uint64_t tunnel_luid,
                                                 const std::vector<uint8_t>& xray_app_id,
                                                 const std::vector<uint32_t>& permitted_hosts);
