// Comparing the simulated machine before and after a session. The engine keeps its persistent
// adapter between sessions on purpose, with the settings it gave it (DNS, metric, a static
// address set and cleared again), and it gets a new index and LUID when it is made again after
// a restart; that adapter's existence, device and address still count, as does everything else.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "common/text_encoding.h"
#include "simulated_host/home_machine.h"
#include "simulated_host/host_state.h"

namespace host_compare {

inline simhost::HostState Comparable(simhost::HostState state) {
  for (simhost::Adapter& adapter : state.adapters) {
    if (adapter.instance_id.find(simhost::home::kOwnGuid) == std::wstring::npos) continue;
    adapter.luid = 0;
    adapter.if_index = adapter.ipv6_if_index = 0;
    adapter.static_dns_v4.clear();
    adapter.static_dns_v6.clear();
    adapter.interface_metric = 0;
    adapter.automatic_metric = true;
    adapter.dhcpv4 = true;
  }
  return state;
}

inline std::string Joined(const std::vector<std::string>& list) {
  std::string text;
  for (const auto& item : list) text += item + " ";
  return text;
}

// What differs, readable in a failure message.
inline std::string Difference(const simhost::HostState& a, const simhost::HostState& b) {
  std::string out;
  for (const auto* pair : {&a, &b}) {
    const auto& other = pair == &a ? b : a;
    for (const auto& r : pair->routes) {
      if (std::find(other.routes.begin(), other.routes.end(), r) != other.routes.end()) continue;
      out += std::string(pair == &a ? "route gone: " : "route added: ") +
             std::to_string(r.destination) + "/" + std::to_string(r.mask) + " if " +
             std::to_string(r.if_index) + "\n";
    }
  }
  for (const auto& x : a.adapters) {
    const auto y = std::find_if(b.adapters.begin(), b.adapters.end(),
                                [&](const simhost::Adapter& o) { return o.name == x.name; });
    if (y == b.adapters.end()) {
      out += "adapter gone: " + WideToUtf8(x.name) + "\n";
    } else if (!(*y == x)) {
      out += "adapter " + WideToUtf8(x.name) + ": dns [" + Joined(x.static_dns_v4) + "/" +
             Joined(x.static_dns_v6) + "] -> [" + Joined(y->static_dns_v4) + "/" +
             Joined(y->static_dns_v6) + "], metric " + std::to_string(x.interface_metric) + " -> " +
             std::to_string(y->interface_metric) + "\n";
    }
  }
  if (a.adapters.size() != b.adapters.size()) out += "adapter count differs\n";
  if (!(a.devices == b.devices)) out += "devices differ\n";
  if (!(a.networks == b.networks)) out += "networks differ\n";
  if (!(a.firewall_rules == b.firewall_rules)) out += "firewall rules differ\n";
  if (!(a.stored_interfaces == b.stored_interfaces)) out += "stored interfaces differ\n";
  if (a.ipv6_default_route != b.ipv6_default_route) out += "ipv6 default differs\n";
  return out;
}

}  // namespace host_compare

#define EXPECT_SAME_HOST(before, after)                                            \
  EXPECT_TRUE(host_compare::Comparable(before) == host_compare::Comparable(after)) \
      << host_compare::Difference(host_compare::Comparable(before),                \
                                  host_compare::Comparable(after))
