#include "vpn_engine/config_inspection.h"

#include <algorithm>
#include <iostream>
#include <string_view>

#include "vpn_engine/text_patterns.h"

using config_text::GapSearch;
using config_text::kNone;
using config_text::Piece;
using config_text::ValueKind;

namespace {

const Piece kPortDigits{"\"port\"", ValueKind::kDigits};
const Piece kSocksProtocol{"\"protocol\"", ValueKind::kQuotedOneOf, {"socks"}};

std::optional<config_text::GapMatch> FirstSocksMatch(std::string_view config,
                                                     SocksPattern pattern) {
  switch (pattern) {
    case SocksPattern::kTagged: {
      const Piece tag{"\"tag\"", ValueKind::kQuotedOneOf, {"in_proxy", "socks-in", "socks"}};
      return config_text::FirstGapMatch(config, tag, kNone, kPortDigits,
                                        GapSearch::CaptureFrom::kTail);
    }
    case SocksPattern::kProtocol:
      return config_text::FirstGapMatch(config, kSocksProtocol, 500, kPortDigits,
                                        GapSearch::CaptureFrom::kTail);
    case SocksPattern::kReverse:
      return config_text::FirstGapMatch(config, kPortDigits, 300, kSocksProtocol,
                                        GapSearch::CaptureFrom::kAnchor);
  }
  return std::nullopt;
}

constexpr SocksPattern kSocksPatterns[] = {SocksPattern::kTagged, SocksPattern::kProtocol,
                                           SocksPattern::kReverse};

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

std::optional<std::string> FindSocksPortText(const std::string& config, SocksPattern pattern) {
  const auto match = FirstSocksMatch(config, pattern);
  if (!match) return std::nullopt;
  return std::string(match->Capture(config));
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

uint16_t FindSocksInboundPort(const std::string& config) {
  for (SocksPattern pattern : kSocksPatterns) {
    uint16_t port = 0;
    if (const auto text = FindSocksPortText(config, pattern)) {
      if (ParsePortText(*text, &port)) return port;
    }
  }
  return kDefaultSocksPort;
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
  for (const Pattern& pattern : patterns) {
    GapSearch search(config, pattern.anchor, pattern.max_gap, pattern.tail,
                     GapSearch::CaptureFrom::kTail);
    while (const auto match = search.Next()) {
      const std::string raw(match->Capture(config));
      const std::string host = NormalizeServerHost(raw);
      const std::string lower = config_text::AsciiLowerCopy(host);
      const bool rejected =
          host.empty() || std::any_of(std::begin(kNotServers), std::end(kNotServers),
                                      [&lower](const char* bad) { return lower == bad; });
      if (rejected) {
        lines->push_back("VPN Service: Skipping non-server address candidate: " + raw);
        continue;
      }
      lines->push_back("VPN Service: Extracted server address: " + host);
      return host;
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

std::vector<std::string> ExtractDnsServers(const std::string& config) {
  const size_t dns = config_text::FindLiteral(config, "\"dns\"", 0, false);
  if (dns == std::string::npos) return {};
  const size_t servers = config_text::FindLiteral(config, "\"servers\"", dns, false);
  if (servers == std::string::npos || servers - dns > 2000) return {};
  const size_t open = config.find('[', servers);
  if (open == std::string::npos || open - servers > 64) return {};
  const size_t close = config_text::FindArrayEnd(config, open);
  if (close == kNone) return {};

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
