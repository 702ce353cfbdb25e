// The engine's fields that the route, address and firewall steps read and write, with the seams
// those steps reach the machine through. The engine object owns one; its start and stop workers
// use it one at a time, so it has no lock of its own.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "vpn_engine/host/host_network.h"
#include "vpn_engine/host/host_seams.h"

namespace zelvora {

struct EngineNetworkState {
  HostSeams host;
  // True while a start may go on; a stop request clears it and every wait ends at once.
  std::atomic<bool> running{false};

  std::string server_bypass_ip;                 // first routed address of the VPN server
  std::vector<std::string> bypass_host_routes;  // every other address given a host route
  std::string physical_gateway;                 // dotted gateway of the physical uplink
  uint32_t physical_if_index = 0;               // its interface, from the same route row
  std::string tunnel_adapter_name;              // the name the tunnel address was set on
  std::atomic<uint64_t> tunnel_luid{0};         // the adapter that carries the traffic (0: none)
  // Set when the tunnel interface's metric was changed (to 1), with the row it had before: the
  // metric is kept with the adapter's device beyond the adapter's life, so it is put back while
  // the adapter is still there.
  std::atomic<bool> tunnel_metric_changed{false};
  uint32_t tunnel_metric_index = 0;
  InterfaceMetric tunnel_metric_before;
  // The LAN routes this session added (and only those): removed again at disconnect.
  std::vector<Ipv4Route> lan_routes;

  // From the configuration's metadata and DNS section.
  std::string panel_host;
  std::vector<std::string> direct_domains;
  std::vector<std::string> bypass_subnets;
  std::vector<std::string> dns_servers;
  std::vector<std::string> core_dns_hosts;  // what the core's own DNS reaches on port 53
  std::vector<int32_t> share_proxy_ports;
  std::string core_path;  // UTF-8 path of the core, the only program the shared ports admit
};

}  // namespace zelvora
