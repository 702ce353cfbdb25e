// The saved DNS and metric settings of one physical adapter, kept while the tunnel is up so the
// user's own configuration can be put back afterwards (also after a crash, from the file).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct DnsBackupRecord {
  std::string name;  // friendly name, UTF-8; the name= of every netsh command
  uint32_t ifIndex = 0;
  bool dhcp = false;
  std::vector<std::string> servers;  // IPv4 DNS servers, dotted, in the adapter's order
  bool metricValid = false;          // metric and autoMetric were read
  uint32_t metric = 0;
  bool autoMetric = false;

  bool operator==(const DnsBackupRecord& other) const {
    return name == other.name && ifIndex == other.ifIndex && dhcp == other.dhcp &&
           servers == other.servers && metricValid == other.metricValid && metric == other.metric &&
           autoMetric == other.autoMetric;
  }
};
