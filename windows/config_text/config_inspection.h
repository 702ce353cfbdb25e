// Read-side questions about the Xray configuration text: the SOCKS inbound port, the proxy
// server's host and the DNS servers it names. The text is never parsed as a document: each
// answer is read from the one object it belongs to (json_members.h: an inbound of the top-level
// "inbounds", an outbound of "outbounds", the top-level "dns" section), linear and
// non-recursive however long the text is.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "config_text/json_members.h"

constexpr uint16_t kDefaultSocksPort = 10807;

// What an inbound object of the top-level "inbounds" array says about itself: its own "tag"
// and "protocol" strings (empty when absent).
struct InboundFields {
  std::string_view tag;
  std::string_view protocol;
};

// Where an inbound's own "port" digits stand in the text (inside the quotes of a port written
// as a string).
struct PortLocation {
  size_t offset = 0;
  std::string digits;
};

// Visits the objects of the top-level "inbounds" array in order, each with the position of its
// '{'; `visit` returns false to stop.
void ForEachInbound(std::string_view config,
                    const std::function<bool(size_t object_open, const InboundFields&)>& visit);

// The inbound's own "port" when it is a number or, as the core also takes it, a string of
// digits ("10808"); nothing for anything else (a range, an environment reference, no port).
std::optional<PortLocation> InboundOwnPort(std::string_view config, size_t object_open);

// The port of the first inbound that `accepts` and that has a port as its own "port" member;
// nothing when there is none. Ports of other objects (an outbound's server, a DNS server) are
// never taken, whatever their place in the text.
std::optional<PortLocation> FindInboundPort(
    std::string_view config, const std::function<bool(const InboundFields&)>& accepts);

// True when an inbound of the configuration has the protocol `protocol`.
bool HasInboundProtocol(std::string_view config, std::string_view protocol);

// The two ways a SOCKS inbound is recognised, in the order they are tried.
enum class SocksPattern {
  kTagged,    // an inbound tagged in_proxy / socks-in / socks
  kProtocol,  // an inbound whose protocol is "socks"
};

// The port digits of the first inbound that `pattern` recognises, or nothing.
std::optional<std::string> FindSocksPortText(const std::string& config, SocksPattern pattern);

// The SOCKS port the probes use: the first pattern that matches decides; a bad port (0, above
// 65535, or too long to convert) gives the default.
uint16_t ExtractSocksPort(const std::string& config);
// The SOCKS port the port remap checks: a bad port makes the next pattern be tried.
uint16_t FindSocksInboundPort(const std::string& config);
// Where that port's digits stand; nothing when no SOCKS inbound has a usable port.
std::optional<PortLocation> FindSocksInboundPortLocation(const std::string& config);

// What the engine's start sequence reports: which pattern decided (nothing when none matched)
// and the port, the default when that pattern's port text does not pass ParsePortText.
struct SocksPortDetection {
  std::optional<SocksPattern> pattern;
  uint16_t port = kDefaultSocksPort;
};
SocksPortDetection DetectEngineSocksPort(const std::string& config);

// One to five decimal digits giving 1 to 65535.
bool ParsePortText(const std::string& text, uint16_t* port);

// The bare host of a server candidate: blanks, an http(s):// prefix, a path, brackets around an
// IPv6 literal and a ":port" suffix removed. Empty when nothing is left.
std::string NormalizeServerHost(std::string candidate);

// The proxy server's host as written, or empty: the first usable server address of the
// outbounds (the one tagged "proxy" first, which the injected rules send traffic to; proxy
// protocols before WireGuard peers before socks/http relays). Writes its progress lines to the
// standard error stream; the overload collects them instead.
std::string ExtractServerAddress(const std::string& config);
std::string ExtractServerAddress(const std::string& config, std::vector<std::string>* lines);

// The "servers" array of the top-level "dns" object, when there is one.
std::optional<config_text::ValueSpan> FindDnsServersArray(std::string_view config);
// Up to four distinct quoted dotted quads of that array.
std::vector<std::string> ExtractDnsServers(const std::string& config);
// The DNS servers the tunnel uses: the first four of `dns_servers`, or the public fallback.
std::vector<std::string> GetTunnelDnsServers(const std::vector<std::string>& dns_servers);

// The host's IPv4 addresses in dotted form; a dotted quad is returned without a lookup.
// (Windows: uses Winsock name resolution.)
std::vector<std::string> ResolveServerIPv4(const std::string& host);
