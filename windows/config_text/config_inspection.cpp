#include "config_text/config_inspection.h"

#include <algorithm>
#include <string_view>

#include "common/console_line.h"
#include "config_text/json_members.h"
#include "config_text/text_patterns.h"

namespace {

bool IsSocksTag(std::string_view tag) {
  return tag == "in_proxy" || tag == "socks-in" || tag == "socks";
}

constexpr SocksPattern kSocksPatterns[] = {SocksPattern::kTagged, SocksPattern::kProtocol};

// Decimal digits as the standard integer conversion reads them: leading zeros are harmless,
// a value past the int range is an error. Returns 0 for anything unusable as a port.
uint16_t ConvertLikeStoi(const std::string& digits) {
  uint64_t value = 0;
  for (char c : digits) {
    value = value * 10 + static_cast<uint64_t>(c - '0');
    if (value > 2147483647u) return 0;
  }
  return (value >= 1 && value <= 65535) ? static_cast<uint16_t>(value) : 0;
}

// The string value of the object's own member `key`, escapes kept; empty when absent or not a
// string.
std::string_view MemberString(std::string_view config, size_t object_open, std::string_view key) {
  const auto member = config_text::FindMember(config, object_open, key);
  if (!member) return {};
  return config_text::StringContent(config, member->value).value_or(std::string_view());
}

}  // namespace

void ForEachInbound(std::string_view config,
                    const std::function<bool(size_t object_open, const InboundFields&)>& visit) {
  const auto inbounds = config_text::FindTopLevelMember(config, "inbounds");
  if (!inbounds || config[inbounds->value.begin] != '[') return;
  config_text::ForEachElement(
      config, inbounds->value.begin, [&](const config_text::ValueSpan& item) {
        if (config[item.begin] != '{') return true;
        return visit(item.begin, InboundFields{MemberString(config, item.begin, "tag"),
                                               MemberString(config, item.begin, "protocol")});
      });
}

std::optional<PortLocation> InboundOwnPort(std::string_view config, size_t object_open) {
  const auto port = config_text::FindMember(config, object_open, "port");
  if (!port) return std::nullopt;
  size_t offset = port->value.begin;
  std::string_view digits = port->value.Of(config);
  if (const auto quoted = config_text::StringContent(config, port->value)) {
    offset += 1;
    digits = *quoted;
  }
  if (digits.empty() || !std::all_of(digits.begin(), digits.end(), config_text::IsDigit)) {
    return std::nullopt;
  }
  return PortLocation{offset, std::string(digits)};
}

std::optional<PortLocation> FindInboundPort(
    std::string_view config, const std::function<bool(const InboundFields&)>& accepts) {
  std::optional<PortLocation> found;
  ForEachInbound(config, [&](size_t object_open, const InboundFields& inbound) {
    if (accepts(inbound)) found = InboundOwnPort(config, object_open);
    return !found;
  });
  return found;
}

bool HasInboundProtocol(std::string_view config, std::string_view protocol) {
  bool found = false;
  ForEachInbound(config, [&](size_t, const InboundFields& inbound) {
    found = inbound.protocol == protocol;
    return !found;
  });
  return found;
}

std::optional<std::string> FindSocksPortText(const std::string& config, SocksPattern pattern) {
  const auto location = FindInboundPort(config, [pattern](const InboundFields& inbound) {
    return pattern == SocksPattern::kTagged ? IsSocksTag(inbound.tag) : inbound.protocol == "socks";
  });
  if (!location) return std::nullopt;
  return location->digits;
}

uint16_t ExtractSocksPort(const std::string& config) {
  for (SocksPattern pattern : kSocksPatterns) {
    if (const auto text = FindSocksPortText(config, pattern)) {
      const uint16_t port = ConvertLikeStoi(*text);
      return port != 0 ? port : kDefaultSocksPort;
    }
  }
  return kDefaultSocksPort;
}

std::optional<PortLocation> FindSocksInboundPortLocation(const std::string& config) {
  for (SocksPattern pattern : kSocksPatterns) {
    const auto location = FindInboundPort(config, [pattern](const InboundFields& inbound) {
      return pattern == SocksPattern::kTagged ? IsSocksTag(inbound.tag)
                                              : inbound.protocol == "socks";
    });
    uint16_t port = 0;
    if (location && ParsePortText(location->digits, &port)) return location;
  }
  return std::nullopt;
}

uint16_t FindSocksInboundPort(const std::string& config) {
  uint16_t port = kDefaultSocksPort;
  if (const auto location = FindSocksInboundPortLocation(config)) {
    ParsePortText(location->digits, &port);
  }
  return port;
}

SocksPortDetection DetectEngineSocksPort(const std::string& config) {
  SocksPortDetection detection;
  for (SocksPattern pattern : kSocksPatterns) {
    if (const auto text = FindSocksPortText(config, pattern)) {
      detection.pattern = pattern;
      uint16_t port = 0;
      if (ParsePortText(*text, &port)) detection.port = port;
      break;
    }
  }
  return detection;
}

bool ParsePortText(const std::string& text, uint16_t* port) {
  if (text.empty() || text.size() > 5) return false;
  uint32_t value = 0;
  for (char c : text) {
    if (!config_text::IsDigit(c)) return false;
    value = value * 10 + static_cast<uint32_t>(c - '0');
    if (value > 65535) return false;
  }
  if (value == 0) return false;
  *port = static_cast<uint16_t>(value);
  return true;
}

std::string NormalizeServerHost(std::string candidate) {
  const auto is_blank = [](char c) { return c == ' ' || c == '\t'; };
  size_t first = 0;
  while (first < candidate.size() && is_blank(candidate[first])) ++first;
  size_t last = candidate.size();
  while (last > first && is_blank(candidate[last - 1])) --last;
  std::string host = candidate.substr(first, last - first);
  if (host.empty()) return {};

  const std::string lower = config_text::AsciiLowerCopy(host);
  if (lower.compare(0, 8, "https://") == 0) {
    host.erase(0, 8);
  } else if (lower.compare(0, 7, "http://") == 0) {
    host.erase(0, 7);
  }
  const size_t slash = host.find('/');
  if (slash != std::string::npos) host.erase(slash);
  if (host.empty()) return {};

  if (host.size() >= 3 && host[0] == '[') {
    const size_t close = host.find(']');
    if (close != std::string::npos) return host.substr(1, close - 1);
  }
  const size_t colon = host.find(':');
  if (colon != std::string::npos && colon != 0 && colon + 1 < host.size() &&
      host.find(':', colon + 1) == std::string::npos &&
      std::all_of(host.begin() + colon + 1, host.end(), config_text::IsDigit)) {
    return host.substr(0, colon);
  }
  return host;
}

namespace {

// The kinds of outbound that name a server to connect to, in the order they are looked at.
enum class ServerKind { kProxy, kWireguard, kRelay };

std::optional<ServerKind> ServerKindOf(std::string_view protocol) {
  for (std::string_view proxy : {"vless", "vmess", "trojan", "shadowsocks", "hysteria"}) {
    if (protocol == proxy) return ServerKind::kProxy;
  }
  if (protocol == "wireguard") return ServerKind::kWireguard;
  if (protocol == "socks" || protocol == "http") return ServerKind::kRelay;
  return std::nullopt;
}

// Calls `take` with each server string of one outbound's "settings" object, in order: the
// address of every "vnext" and "servers" entry and the flat "address" (WireGuard: the
// "endpoint" of every peer). `take` returns true to stop.
template <typename Take>
bool ForEachServerString(std::string_view config, size_t settings, ServerKind kind, Take take) {
  bool taken = false;
  const auto each_entry = [&](std::string_view list, std::string_view key) {
    const auto array = config_text::FindMember(config, settings, list);
    if (!array || config[array->value.begin] != '[') return;
    config_text::ForEachElement(
        config, array->value.begin, [&](const config_text::ValueSpan& entry) {
          if (config[entry.begin] == '{') {
            if (const auto value = config_text::FindMember(config, entry.begin, key)) {
              if (const auto text = config_text::StringContent(config, value->value))
                taken = take(*text);
            }
          }
          return !taken;
        });
  };
  if (kind == ServerKind::kWireguard) {
    each_entry("peers", "endpoint");
    return taken;
  }
  for (std::string_view list : {"vnext", "servers"}) {
    if (!taken) each_entry(list, "address");
  }
  if (!taken) {
    if (const auto flat = config_text::FindMember(config, settings, "address")) {
      if (const auto text = config_text::StringContent(config, flat->value)) taken = take(*text);
    }
  }
  return taken;
}

}  // namespace

std::string ExtractServerAddress(const std::string& config, std::vector<std::string>* lines) {
  static const char* const kNotServers[] = {"127.0.0.1", "localhost", "::1",
                                            "http",      "https",     "0.0.0.0"};
  // A list may name a local relay first ("127.0.0.1") and the real server next: a rejected
  // candidate lets the next one be tried.
  std::string host;
  const auto accept = [lines, &host](std::string_view raw) {
    std::string normalized = NormalizeServerHost(std::string(raw));
    const std::string lower = config_text::AsciiLowerCopy(normalized);
    const bool rejected =
        normalized.empty() || std::any_of(std::begin(kNotServers), std::end(kNotServers),
                                          [&lower](const char* bad) { return lower == bad; });
    if (rejected) {
      lines->push_back("VPN Service: Skipping non-server address candidate: " + std::string(raw));
      return false;
    }
    lines->push_back("VPN Service: Extracted server address: " + normalized);
    host = std::move(normalized);
    return true;
  };

  // The outbounds with their settings, the one tagged "proxy" first: the injected rules send
  // all traffic there, so its server is the one that must stay reachable outside the tunnel.
  struct Outbound {
    size_t settings;
    ServerKind kind;
  };
  std::vector<Outbound> outbounds;
  bool proxy_tagged = false;
  const auto list = config_text::FindTopLevelMember(config, "outbounds");
  if (list && config[list->value.begin] == '[') {
    config_text::ForEachElement(config, list->value.begin, [&](const config_text::ValueSpan& item) {
      if (config[item.begin] != '{') return true;
      const auto kind = ServerKindOf(MemberString(config, item.begin, "protocol"));
      const auto settings = config_text::FindMember(config, item.begin, "settings");
      if (!kind || !settings || config[settings->value.begin] != '{') return true;
      const Outbound outbound{settings->value.begin, *kind};
      if (!proxy_tagged && MemberString(config, item.begin, "tag") == "proxy") {
        proxy_tagged = true;
        outbounds.insert(outbounds.begin(), outbound);
      } else {
        outbounds.push_back(outbound);
      }
      return true;
    });
  }
  // After it, proxy protocols, then WireGuard peers, then socks/http relays, each in order.
  const auto rest = outbounds.begin() + (proxy_tagged ? 1 : 0);
  std::stable_sort(rest, outbounds.end(), [](const Outbound& a, const Outbound& b) {
    return static_cast<int>(a.kind) < static_cast<int>(b.kind);
  });
  for (const Outbound& outbound : outbounds) {
    if (ForEachServerString(config, outbound.settings, outbound.kind, accept)) return host;
  }
  lines->push_back(
      "VPN Service: Could not extract server address. Dumping first 500 chars of config:");
  lines->push_back(config.substr(0, 500));
  return {};
}

std::string ExtractServerAddress(const std::string& config) {
  std::vector<std::string> lines;
  std::string host = ExtractServerAddress(config, &lines);
  for (const std::string& line : lines) ConsoleLine(line);
  return host;
}

std::optional<config_text::ValueSpan> FindDnsServersArray(std::string_view config) {
  // Only the top-level "dns" section names the servers; an outbound's "protocol": "dns" or a
  // "servers" list of some other object must not be read as them.
  const auto dns = config_text::FindTopLevelMember(config, "dns");
  if (!dns || config[dns->value.begin] != '{') return std::nullopt;
  const auto servers = config_text::FindMember(config, dns->value.begin, "servers");
  if (!servers || config[servers->value.begin] != '[') return std::nullopt;
  return servers->value;
}

std::vector<std::string> ExtractDnsServers(const std::string& config) {
  const auto servers = FindDnsServersArray(config);
  if (!servers) return {};
  const size_t open = servers->begin;
  const size_t close = servers->end - 1;
  const std::string_view slice = std::string_view(config).substr(open, close - open + 1);
  std::vector<std::string> found;
  size_t from = 0;
  while (found.size() < 4) {
    const auto address = config_text::NextQuotedDottedQuad(slice, &from);
    if (!address) break;
    if (std::find(found.begin(), found.end(), *address) == found.end()) {
      found.emplace_back(*address);
    }
  }
  return found;
}

std::vector<std::string> GetTunnelDnsServers(const std::vector<std::string>& dns_servers) {
  if (dns_servers.empty()) return {"9.9.9.9", "149.112.112.112"};
  const size_t count = std::min<size_t>(dns_servers.size(), 4);
  return {dns_servers.begin(), dns_servers.begin() + static_cast<std::ptrdiff_t>(count)};
}
