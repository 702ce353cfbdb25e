// The saved DNS and metric settings of one physical adapter, kept while the tunnel is up so the
// user's own configuration can be put back afterwards (also after a crash, from the file).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct DnsBackupRecord {
  std::string name;  // friendly name when saved, UTF-8; for messages, and to find the adapter
                     // when `luid` is unknown
  uint32_t ifIndex = 0;
  bool dhcp = false;
  std::vector<std::string> servers;  // IPv4 DNS servers, dotted, in the adapter's order
  bool metricValid = false;          // metric and autoMetric were read
  uint32_t metric = 0;
  bool autoMetric = false;
  // The adapter's interface LUID: the key that finds it again after a rename or a reboot that
  // renumbered the interfaces. 0 in records of files written before it was kept.
  uint64_t luid = 0;
  // Hand-set IPv6 DNS servers in the adapter's order; empty when IPv6 DNS comes from DHCPv6 or
  // router advertisements.
  std::vector<std::string> serversV6;

  bool operator==(const DnsBackupRecord& other) const {
    return name == other.name && ifIndex == other.ifIndex && dhcp == other.dhcp &&
           servers == other.servers && metricValid == other.metricValid && metric == other.metric &&
           autoMetric == other.autoMetric && luid == other.luid && serversV6 == other.serversV6;
  }
};
