// Writing an adapter's DNS servers and emptying the resolver cache: through system calls where
// Windows has them, through netsh and ipconfig where it does not (Windows 10 before build
// 19041 has no SetInterfaceDnsSettings). The calls find the adapter by its LUID; only the
// fallback needs its current name, and takes only names and addresses safe on a command line.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "vpn_engine/host/command_runner.h"
#include "vpn_engine/host/host_network.h"

// The adapter a DNS write goes to: its LUID, and its name as it is now for the fallback.
struct DnsAdapter {
  uint64_t luid = 0;
  std::string name;  // UTF-8
};

// Makes `servers` the adapter's hand-set DNS servers of one family, in that order (an empty
// list: automatic servers from DHCP or router advertisements). The callers pass only dotted
// IPv4 or IPv6 text. False when the write failed (a line is written) or could not be made.
bool WriteAdapterDns(zelvora::HostNetwork& network, zelvora::CommandRunner& commands,
                     const DnsAdapter& adapter, bool ipv6, const std::vector<std::string>& servers,
                     uint32_t fallback_timeout_ms);

// Empties the system resolver's cache (DnsFlushResolverCache, "ipconfig /flushdns" without it).
void FlushDnsCache(zelvora::HostNetwork& network, zelvora::CommandRunner& commands);
