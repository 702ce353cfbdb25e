#include "vpn_engine/config_inspection.h"

#include <algorithm>
#include <iostream>
#include <string_view>

#include "vpn_engine/json_members.h"
#include "vpn_engine/text_patterns.h"

using config_text::GapSearch;
using config_text::kNone;
using config_text::Piece;
using config_text::ValueKind;

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

}  // namespace

std::optional<PortLocation> FindInboundPort(
    std::string_view config, const std::function<bool(const InboundFields&)>& accepts) {
  const auto inbounds = config_text::FindTopLevelMember(config, "inbounds");
  if (!inbounds || config[inbounds->value.begin] != '[') return std::nullopt;
  std::optional<PortLocation> found;
  config_text::ForEachElement(
      config, inbounds->value.begin, [&](const config_text::ValueSpan& item) {
        if (config[item.begin] != '{') return true;
        const auto member_text = [&](std::string_view key) -> std::string_view {
          const auto member = config_text::FindMember(config, item.begin, key);
          if (!member) return {};
          return config_text::StringContent(config, member->value).value_or(std::string_view());
        };
        if (!accepts(InboundFields{member_text("tag"), member_text("protocol")})) return true;
        const auto port = config_text::FindMember(config, item.begin, "port");
        if (!port) return true;
        const std::string_view digits = port->value.Of(config);
        if (digits.empty() || !std::all_of(digits.begin(), digits.end(), config_text::IsDigit)) {
          return true;
        }
        found = PortLocation{port->value.begin, std::string(digits)};
        return false;
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

std::string ExtractServerAddress(const std::string& config, std::vector<std::string>* lines) {
  const Piece address{"\"address\"", ValueKind::kQuotedText};
  const Piece endpoint{"\"endpoint\"", ValueKind::kQuotedText};
  struct Pattern {
    Piece anchor;
    size_t max_gap;
    const Piece& tail;
  };
  const Pattern patterns[] = {
      {{"\"protocol\"",
        ValueKind::kQuotedOneOf,
        {"vless", "vmess", "trojan", "shadowsocks", "hysteria"}},
       1000,
       address},
      {{"\"vnext\""}, 1000, address},
      {{"\"protocol\"", ValueKind::kQuotedOneOf, {"wireguard"}}, 2000, endpoint},
      {{"\"outbounds\""}, 2000, address},
      {{"\"servers\""}, 1000, address},
  };
  static const char* const kNotServers[] = {"127.0.0.1", "localhost", "::1",
                                            "http",      "https",     "0.0.0.0"};
  const auto accept = [lines](const std::string& raw) -> std::optional<std::string> {
    std::string host = NormalizeServerHost(raw);
    const std::string lower = config_text::AsciiLowerCopy(host);
    const bool rejected =
        host.empty() || std::any_of(std::begin(kNotServers), std::end(kNotServers),
                                    [&lower](const char* bad) { return lower == bad; });
    if (rejected) {
      lines->push_back("VPN Service: Skipping non-server address candidate: " + raw);
      return std::nullopt;
    }
    lines->push_back("VPN Service: Extracted server address: " + host);
    return host;
  };
  for (const Pattern& pattern : patterns) {
    GapSearch search(config, pattern.anchor, pattern.max_gap, pattern.tail,
                     GapSearch::CaptureFrom::kTail);
    config_text::PieceFinder later_tails(config, pattern.tail);
    while (const auto match = search.Next()) {
      if (auto host = accept(std::string(match->Capture(config)))) return *host;
      // A server list may name a local relay first ("127.0.0.1") and the real server next:
      // the further addresses within the same anchor's reach are candidates too.
      for (auto tail = later_tails.FindFrom(match->end);
           tail && tail->begin - match->anchor_end <= pattern.max_gap;
           tail = later_tails.FindFrom(tail->end)) {
        const std::string raw =
            config.substr(tail->capture_begin, tail->capture_end - tail->capture_begin);
        if (auto host = accept(raw)) return *host;
      }
    }
  }
  lines->push_back(
      "VPN Service: Could not extract server address. Dumping first 500 chars of config:");
  lines->push_back(config.substr(0, 500));
  return {};
}

std::string ExtractServerAddress(const std::string& config) {
  std::vector<std::string> lines;
  std::string host = ExtractServerAddress(config, &lines);
  for (const std::string& line : lines) std::cerr << line << '\n';
  std::cerr.flush();
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
