// Rewrites of the core's configuration text that both the VPN engine and proxy mode make: moving
// inbounds off busy loopback ports, IPv4 loopback listeners, and the copy written to disk.
#pragma once
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "config_text/json_text.h"

// The loopback port checks the remap needs; the Windows side binds real sockets.
struct LoopbackPortProbe {
  std::function<bool(uint16_t)> is_free;
  std::function<uint16_t()> find_free;  // 0 when none
};

// Moves the SOCKS and API inbounds off loopback ports another program holds.
std::string RemapBusyPorts(std::string config, const LoopbackPortProbe& ports);

// The splices that turn every `"listen"\s*:\s*"\[::1\]"` into `"listen": "127.0.0.1"`.
std::vector<config_text::Splice> ListenOnIpv4LoopbackSplices(const std::string& config);
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
