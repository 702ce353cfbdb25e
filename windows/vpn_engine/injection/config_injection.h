// Turns the application's configuration text into what the engine's Xray runs: statistics,
// API, DNS, routing rules, the TUN inbound for per-application bypass.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "config_text/config_rewrites.h"
#include "vpn_engine/injection/routing_rules.h"

// What the engine knows from the configuration's metadata.
struct VpnInjectionInputs {
  std::string panelHost;
  std::vector<std::string> directDomains;
  std::vector<std::string> blockedApps;
};

// Runs every injection step on `config` (Xray's own TUN inbound "tun-in" goes first in
// "inbounds" when applications bypass the tunnel, unless the configuration has a TUN inbound);
// stores the configuration's DNS servers in `dns_servers` (the engine's dnsServers field). Logs to
// the tunnel log and prints progress.
std::string InjectVpnConfig(const VpnInjectionInputs& inputs, std::vector<std::string>* dns_servers,
                            const std::string& config, const ExeFolderLister& lister);

// ["a","b"] from the first four entries, unescaped.
std::string FormatJsonStringArray(const std::vector<std::string>& items);
