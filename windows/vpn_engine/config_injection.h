// Turns the application's configuration text into what the engine's Xray runs: statistics,
// API, DNS, routing rules, the TUN inbound for per-application bypass, free loopback ports.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "vpn_engine/routing_rules.h"

// What the engine knows from the configuration's metadata.
struct VpnInjectionInputs {
  std::string panelHost;
  std::vector<std::string> directDomains;
  std::vector<std::string> blockedApps;
};

// Runs every injection step on `config`; stores the configuration's DNS servers in
// `dns_servers` (the engine's dnsServers field). Logs to the tunnel log and prints progress.
std::string InjectVpnConfig(const VpnInjectionInputs& inputs, std::vector<std::string>* dns_servers,
                            const std::string& config, const ExeFolderLister& lister);

// Adds Xray's own TUN inbound ("tun-in") first in "inbounds" unless a TUN inbound exists.
std::string InjectTunInbound(const std::string& config, const std::vector<std::string>& dns);

// ["a","b"] from the first four entries, unescaped.
std::string FormatJsonStringArray(const std::vector<std::string>& items);

// The loopback port checks the remap needs; the Windows side binds real sockets.
struct LoopbackPortProbe {
  std::function<bool(uint16_t)> is_free;
  std::function<uint16_t()> find_free;  // 0 when none
};

// Moves the SOCKS and API inbounds off loopback ports another program holds.
std::string RemapBusyPorts(std::string config, const LoopbackPortProbe& ports);

// Every `"listen"\s*:\s*"\[::1\]"` replaced by `"listen": "127.0.0.1"`.
std::string ListenOnIpv4Loopback(const std::string& config);

// Where the API inbound's port digits stand (`"tag"\s*:\s*"api"` and, within 400 bytes, the
// first "port"): offset and digits.
struct ApiPortLocation {
  size_t offset = 0;
  std::string digits;
};
std::optional<ApiPortLocation> FindApiInboundPort(const std::string& config);

// The copy of the text that is written to disk: every "allowInsecure" member with a literal
// true/false/1/0 value removed, whatever its position and letter case.
std::string StripAllowInsecure(const std::string& config);
