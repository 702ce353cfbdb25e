#include "vpn_engine/dns_protection/dns_guard_filters.h"

#include <algorithm>

#include "tunnel_log/tunnel_log.h"
#include "vpn_engine/dns_protection/netsh_text_rules.h"

namespace {

constexpr uint8_t kProtocolTcp = 6;
constexpr uint8_t kProtocolUdp = 17;
constexpr uint8_t kProtocolIcmpV6 = 58;
constexpr uint32_t kFlagIsLoopback = 0x00000001;  // FWP_CONDITION_FLAG_IS_LOOPBACK
// Neighbour discovery: router solicitation and advertisement, neighbour solicitation and
// advertisement, redirect (RFC 4861).
constexpr uint16_t kNeighbourDiscoveryTypes[] = {133, 134, 135, 136, 137};
constexpr uint16_t kDnsPort = 53;
constexpr uint8_t kPermitWeight = 15;
constexpr uint8_t kBlockWeight = 8;

uint32_t HostOrderAddress(const std::string& dotted) {
  uint32_t value = 0;
  uint32_t field = 0;
  for (const char c : dotted) {
    if (c == '.') {
      value = (value << 8) | field;
      field = 0;
    } else {
      field = field * 10 + static_cast<uint32_t>(c - '0');
    }
  }
  return (value << 8) | field;
}

WfpCondition Condition(WfpField field, WfpMatch match, uint64_t value) {
  WfpCondition condition;
  condition.field = field;
  condition.match = match;
  condition.value = value;
  return condition;
}

WfpFilterSpec Filter(const char* name, WfpLayer layer, WfpAction action, uint8_t weight) {
  WfpFilterSpec spec;
  spec.displayName = name;
  spec.layer = layer;
  spec.subLayerKey = kDnsGuardSublayerKey;
  spec.action = action;
  spec.weight = weight;
  return spec;
}

}  // namespace

WfpProviderSpec DnsGuardProvider() { return {kDnsGuardProviderKey, "Zelvora"}; }

WfpSublayerSpec DnsGuardSublayer() {
  WfpSublayerSpec sublayer;
  sublayer.key = kDnsGuardSublayerKey;
  sublayer.displayName = "Zelvora DNS Guard";
  sublayer.weight = 0x8000;
  return sublayer;
}

std::vector<uint32_t> DnsGuardPermittedHosts(const std::vector<std::string>& servers) {
  std::vector<uint32_t> hosts;
  for (const std::string& entry : servers) {
    if (!IsDottedIpv4Server(entry)) {
      TunnelLogWrite("dns-guard: skip invalid DNS permit host " + entry);
      continue;
    }
    const uint32_t address = HostOrderAddress(entry);
    if (std::find(hosts.begin(), hosts.end(), address) == hosts.end()) hosts.push_back(address);
  }
  return hosts;
}

std::vector<DnsGuardFilter> BuildDnsGuardFilters(uint64_t tunnel_luid,
                                                 const std::vector<uint8_t>& xray_app_id,
                                                 const std::vector<uint32_t>& permitted_hosts) {
  std::vector<DnsGuardFilter> filters;
  for (const uint32_t host : permitted_hosts) {
    for (const uint8_t protocol : {kProtocolUdp, kProtocolTcp}) {
      WfpFilterSpec spec = Filter("Zelvora allow Xray DNS bypass", WfpLayer::kAleAuthConnectV4,
                                  WfpAction::kPermit, kPermitWeight);
      WfpCondition app = Condition(WfpField::kAppId, WfpMatch::kEqual, 0);
      app.appId = xray_app_id;
      spec.conditions = {app, Condition(WfpField::kIpProtocol, WfpMatch::kEqual, protocol),
                         Condition(WfpField::kRemotePort, WfpMatch::kEqual, kDnsPort),
                         Condition(WfpField::kRemoteAddressV4, WfpMatch::kEqual, host)};
      filters.push_back({DnsGuardFilterRole::kXrayPermit, std::move(spec)});
    }
  }
  for (const WfpLayer layer : {WfpLayer::kAleAuthConnectV4, WfpLayer::kAleAuthConnectV6}) {
    for (const uint8_t protocol : {kProtocolUdp, kProtocolTcp}) {
      WfpFilterSpec spec = Filter("Zelvora DNS leak guard", layer, WfpAction::kBlock, kBlockWeight);
      spec.conditions = {Condition(WfpField::kIpProtocol, WfpMatch::kEqual, protocol),
                         Condition(WfpField::kRemotePort, WfpMatch::kEqual, kDnsPort),
                         Condition(WfpField::kLocalInterface, WfpMatch::kNotEqual, tunnel_luid)};
      filters.push_back({DnsGuardFilterRole::kDnsLeakGuard, std::move(spec)});
    }
  }
  // The machine's own traffic that never leaves it or that keeps its links working: loopback
  // (local servers on 127.0.0.1 and ::1, a local DNS forwarder), DHCP and DHCPv6 lease
  // renewals, and IPv6 neighbour discovery.
  for (const WfpLayer layer : {WfpLayer::kAleAuthConnectV4, WfpLayer::kAleAuthConnectV6}) {
    WfpFilterSpec spec =
        Filter("Zelvora permit loopback", layer, WfpAction::kPermit, kPermitWeight);
    spec.conditions = {Condition(WfpField::kFlags, WfpMatch::kFlagsAllSet, kFlagIsLoopback)};
    filters.push_back({DnsGuardFilterRole::kLocalPermit, std::move(spec)});
  }
  const struct {
    WfpLayer layer;
    uint16_t local, remote;
  } dhcp[] = {{WfpLayer::kAleAuthConnectV4, 68, 67}, {WfpLayer::kAleAuthConnectV6, 546, 547}};
  for (const auto& d : dhcp) {
    WfpFilterSpec spec = Filter("Zelvora permit DHCP", d.layer, WfpAction::kPermit, kPermitWeight);
    spec.conditions = {Condition(WfpField::kIpProtocol, WfpMatch::kEqual, kProtocolUdp),
                       Condition(WfpField::kLocalPort, WfpMatch::kEqual, d.local),
                       Condition(WfpField::kRemotePort, WfpMatch::kEqual, d.remote)};
    filters.push_back({DnsGuardFilterRole::kLocalPermit, std::move(spec)});
  }
  for (const uint16_t type : kNeighbourDiscoveryTypes) {
    WfpFilterSpec spec = Filter("Zelvora permit neighbour discovery", WfpLayer::kAleAuthConnectV6,
                                WfpAction::kPermit, kPermitWeight);
    spec.conditions = {Condition(WfpField::kIpProtocol, WfpMatch::kEqual, kProtocolIcmpV6),
                       Condition(WfpField::kLocalPort, WfpMatch::kEqual, type)};
    filters.push_back({DnsGuardFilterRole::kLocalPermit, std::move(spec)});
  }
  WfpFilterSpec ipv6 = Filter("Zelvora IPv6 leak guard", WfpLayer::kAleAuthConnectV6,
                              WfpAction::kBlock, kBlockWeight);
  ipv6.conditions = {Condition(WfpField::kLocalInterface, WfpMatch::kNotEqual, tunnel_luid)};
  filters.push_back({DnsGuardFilterRole::kIpv6LeakGuard, std::move(ipv6)});
  return filters;
}
