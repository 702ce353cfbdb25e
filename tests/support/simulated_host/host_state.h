// The whole simulated machine as plain data: what the engine may change, and nothing else.
// Two states compare equal exactly when a test could not tell the machines apart.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace simhost {

// Where a setting lives (netsh's "store="): the active store lasts until the next restart, the
// persistent store is also written to the registry and applied again at boot. `kSystem` is what
// the system derives itself (on-link routes of an address, a DHCP lease's gateway).
enum class Store { kSystem, kActive, kPersistent };

struct Address {
  std::string text;  // dotted IPv4
  uint8_t prefix_length = 0;
  bool active_only = false;  // set with store=active: gone after a restart
  bool operator==(const Address& o) const {
    return text == o.text && prefix_length == o.prefix_length && active_only == o.active_only;
  }
};

// Processes that own adapters (a Wintun adapter lives as long as the process that created it).
using ProcessId = uint32_t;
inline constexpr ProcessId kMachine = 0;     // the machine's own adapters: never vanish
inline constexpr ProcessId kAppProcess = 1;  // the process the engine runs in

struct Adapter {
  std::wstring name;  // friendly name, as the user sees it
  std::wstring description;
  std::wstring instance_id;  // the network device behind it ("" for loopback)
  uint64_t luid = 0;
  uint32_t if_index = 0;
  uint32_t ipv6_if_index = 0;
  bool oper_up = true;
  bool admin_enabled = true;
  bool loopback = false;
  bool dhcpv4 = false;  // the address comes from DHCP
  std::vector<Address> addresses;
  // DNS: the static list wins when non-empty; otherwise a DHCP adapter uses its lease's list.
  std::vector<std::string> static_dns_v4;
  std::vector<std::string> lease_dns_v4;
  std::vector<std::string> static_dns_v6;
  std::vector<std::string> lease_dns_v6;
  uint32_t interface_metric = 25;
  bool automatic_metric = true;
  // A metric set with store=active: the values a restart puts back.
  bool metric_active_only = false;
  uint32_t boot_metric = 0;
  bool boot_automatic = true;
  ProcessId owner = kMachine;  // the process whose end removes the adapter
  bool session_open = false;   // a Wintun adapter's link is up only while a session is open

  std::vector<std::string> ReportedDnsV4() const {
    if (!static_dns_v4.empty() || !dhcpv4) return static_dns_v4;
    return lease_dns_v4;
  }
  std::vector<std::string> ReportedDnsV6() const {
    return !static_dns_v6.empty() ? static_dns_v6 : lease_dns_v6;
  }
  bool operator==(const Adapter& o) const {
    return name == o.name && description == o.description && instance_id == o.instance_id &&
           luid == o.luid && if_index == o.if_index && ipv6_if_index == o.ipv6_if_index &&
           oper_up == o.oper_up && admin_enabled == o.admin_enabled && loopback == o.loopback &&
           dhcpv4 == o.dhcpv4 && addresses == o.addresses && static_dns_v4 == o.static_dns_v4 &&
           lease_dns_v4 == o.lease_dns_v4 && static_dns_v6 == o.static_dns_v6 &&
           lease_dns_v6 == o.lease_dns_v6 && interface_metric == o.interface_metric &&
           automatic_metric == o.automatic_metric && metric_active_only == o.metric_active_only &&
           boot_metric == o.boot_metric && boot_automatic == o.boot_automatic && owner == o.owner &&
           session_open == o.session_open;
  }
};

// A route as the system stores it; the table reports route_metric + the interface's metric.
struct Route {
  uint32_t destination = 0;  // host order
  uint32_t mask = 0;
  uint32_t next_hop = 0;
  uint32_t if_index = 0;
  uint32_t route_metric = 0;
  Store store = Store::kSystem;
  bool operator==(const Route& o) const {
    return destination == o.destination && mask == o.mask && next_hop == o.next_hop &&
           if_index == o.if_index && route_metric == o.route_metric && store == o.store;
  }
};

// What the persistent store keeps for an interface that is not present (its adapter went with
// its process): applied again when an adapter of that device instance appears.
struct StoredInterface {
  std::wstring instance_id;
  uint64_t luid = 0;  // the device keeps its LUID (NetLuidIndex) in its registry key
  std::vector<Address> addresses;
  std::vector<Route> routes;  // if_index unused
  bool has_metric = false;
  uint32_t metric = 0;
  bool operator==(const StoredInterface& o) const {
    return instance_id == o.instance_id && luid == o.luid && addresses == o.addresses &&
           routes == o.routes && has_metric == o.has_metric && metric == o.metric;
  }
};

struct FirewallRule {
  std::string name, dir, action, protocol, local_ports, profile, remote_ip;
  bool operator==(const FirewallRule& o) const {
    return name == o.name && dir == o.dir && action == o.action && protocol == o.protocol &&
           local_ports == o.local_ports && profile == o.profile && remote_ip == o.remote_ip;
  }
};

// A network-class device (present or left over from an earlier install).
struct Device {
  std::wstring friendly_name;
  std::wstring description;
  std::wstring instance_id;
  bool operator==(const Device& o) const {
    return friendly_name == o.friendly_name && description == o.description &&
           instance_id == o.instance_id;
  }
};

struct Network {
  std::wstring id;
  std::wstring name;
  bool operator==(const Network& o) const { return id == o.id && name == o.name; }
};

struct HostState {
  std::vector<Adapter> adapters;
  std::vector<Route> routes;
  bool ipv6_default_route = false;
  std::vector<FirewallRule> firewall_rules;
  std::vector<Device> devices;
  std::vector<Network> networks;
  std::vector<StoredInterface> stored_interfaces;

  bool operator==(const HostState& o) const {
    return adapters == o.adapters && routes == o.routes &&
           ipv6_default_route == o.ipv6_default_route && firewall_rules == o.firewall_rules &&
           devices == o.devices && networks == o.networks &&
           stored_interfaces == o.stored_interfaces;
  }
  bool operator!=(const HostState& o) const { return !(*this == o); }
};

}  // namespace simhost
