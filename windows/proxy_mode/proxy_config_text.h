// Proxy mode's reading and amending of the configuration text (no Win32). The text is never
// parsed as a document; every search here is a single forward pass without recursion, so long
// routing lists cannot exhaust a thread's stack.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "config_text/config_rewrites.h"

namespace zelvora {

constexpr uint16_t kProxyDefaultSocksPort = 10807;

// Brackets and quotes balance: '{'/'}' and '['/']' never close more than they opened and all
// close by the end, strings (with backslash escapes) end, brackets inside strings do not count.
bool ProxyConfigLooksBalanced(std::string_view config);

// The local SOCKS port: the own "port" of the inbound tagged "in_proxy", else of the first
// inbound whose protocol is "socks", else of the first inbound with a port; the first of those
// that exists decides. 10807 when none exists or its number is not a port.
uint16_t ProxySocksPort(std::string_view config);

// Moves our listening ports to free loopback ports: each inbound's own "port", then every
// 127.0.0.1:N, in order. An outbound's server port is never a candidate. Without `force` only
// ports that cannot be bound now move; with it every port in range does. True when anything was
// replaced.
bool SweepLoopbackPorts(std::string* config, bool force, const LoopbackPortProbe& ports);

// Inserts empty "stats" and the outbound-counting "policy" at the top when missing; true when
// anything was inserted.
bool InsertStatsAndPolicy(std::string* config);

// True when the text already names an "api" member.
bool HasApiMember(std::string_view config);
// Adds the API member listening on 127.0.0.1:`port`: after the "log" object when there is one,
// else first in the top object.
void InsertApiMember(std::string* config, uint16_t port);

// The API endpoint the text's "api" block names as host:port, if any.
std::optional<std::string> ApiAddressInConfig(std::string_view config);

}  // namespace zelvora
