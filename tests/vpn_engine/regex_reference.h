// The configuration-text questions answered the slow way: each pattern evaluated with
// std::regex (ECMAScript), exactly as written. Where production code still answers by these
// patterns (metadata cut-out, allowInsecure, listen fix, version) it must give the same
// answers (a bare allowInsecure value counts whole: the lookahead after it); the SOCKS port,
// server address, DNS and shared-port readers now read the object a value belongs to, and the
// patterns of the first three stay here only as the benchmark's timing reference.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <regex>
#include <string>
#include <vector>

#include "config_text/config_inspection.h"
#include "config_text/config_meta.h"
#include "config_text/json_text.h"

namespace regex_reference {

inline const std::regex& SocksRegex(int index) {
  static const std::regex patterns[] = {
      std::regex(R"re("tag"\s*:\s*"(?:in_proxy|socks-in|socks)"[\s\S]*?"port"\s*:\s*(\d+))re"),
      std::regex(R"re("protocol"\s*:\s*"socks"[\s\S]{0,500}?"port"\s*:\s*(\d+))re"),
      std::regex(R"re("port"\s*:\s*(\d+)[\s\S]{0,300}?"protocol"\s*:\s*"socks")re"),
  };
  return patterns[index];
}

inline std::optional<std::string> SocksCapture(const std::string& config, int index) {
  std::smatch match;
  if (!std::regex_search(config, match, SocksRegex(index))) return std::nullopt;
  return match[1].str();
}

inline uint16_t ExtractSocksPort(const std::string& config) {
  try {
    for (int i = 0; i < 3; ++i) {
      if (const auto text = SocksCapture(config, i)) {
        const int value = std::stoi(*text);
        return (value >= 1 && value <= 65535) ? static_cast<uint16_t>(value) : 10807;
      }
    }
  } catch (const std::exception&) {
  }
  return 10807;
}

inline uint16_t FindSocksInboundPort(const std::string& config) {
  for (int i = 0; i < 3; ++i) {
    uint16_t port = 0;
    if (const auto text = SocksCapture(config, i)) {
      if (ParsePortText(*text, &port)) return port;
    }
  }
  return 10807;
}

inline std::string ExtractServerAddress(const std::string& config,
                                        std::vector<std::string>* lines) {
  static const std::regex patterns[] = {
      std::regex(
          R"re("protocol"\s*:\s*"(?:vless|vmess|trojan|shadowsocks|hysteria)"[\s\S]{0,1000}?"address"\s*:\s*"([^"]+)")re"),
      std::regex(R"re("vnext"[\s\S]{0,1000}?"address"\s*:\s*"([^"]+)")re"),
      std::regex(R"re("protocol"\s*:\s*"wireguard"[\s\S]{0,2000}?"endpoint"\s*:\s*"([^"]+)")re"),
      std::regex(R"re("outbounds"[\s\S]{0,2000}?"address"\s*:\s*"([^"]+)")re"),
      std::regex(R"re("servers"[\s\S]{0,1000}?"address"\s*:\s*"([^"]+)")re"),
  };
  for (const std::regex& pattern : patterns) {
    for (std::sregex_iterator it(config.begin(), config.end(), pattern), end; it != end; ++it) {
      const std::string raw = (*it)[1].str();
      const std::string host = NormalizeServerHost(raw);
      const std::string lower = config_text::AsciiLowerCopy(host);
      if (host.empty() || lower == "127.0.0.1" || lower == "localhost" || lower == "::1" ||
          lower == "http" || lower == "https" || lower == "0.0.0.0") {
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

inline bool IsDottedQuad(const std::string& text) {
  static const std::regex pattern(R"re(^\d{1,3}\.\d{1,3}\.\d{1,3}\.\d{1,3}$)re");
  return std::regex_search(text, pattern);
}

inline std::vector<std::string> ExtractDnsServers(const std::string& config) {
  static const std::regex item(R"re("(\d{1,3}\.\d{1,3}\.\d{1,3}\.\d{1,3})")re");
  const size_t dns = config.find("\"dns\"");
  if (dns == std::string::npos) return {};
  const size_t servers = config.find("\"servers\"", dns);
  if (servers == std::string::npos || servers - dns > 2000) return {};
  const size_t open = config.find('[', servers);
  if (open == std::string::npos || open - servers > 64) return {};
  const size_t close = config_text::FindArrayEnd(config, open);
  if (close == std::string::npos) return {};
  const std::string slice = config.substr(open, close - open + 1);
  std::vector<std::string> found;
  for (std::sregex_iterator it(slice.begin(), slice.end(), item), end; it != end; ++it) {
    const std::string address = (*it)[1].str();
    if (std::find(found.begin(), found.end(), address) == found.end()) found.push_back(address);
    if (found.size() == 4) break;
  }
  return found;
}

inline std::vector<std::string> QuotedItems(const std::string& content) {
  static const std::regex item(R"delim("([^"]+)")delim");
  std::vector<std::string> items;
  for (std::sregex_iterator it(content.begin(), content.end(), item), end; it != end; ++it) {
    items.push_back((*it)[1].str());
  }
  return items;
}

inline std::optional<std::string> IcaseCapture(const std::string& text, const char* re) {
  // Compiled once per pattern: compiling is the slow part of std::regex.
  static std::map<const char*, std::regex> compiled;
  auto it = compiled.find(re);
  if (it == compiled.end()) {
    it = compiled.emplace(re, std::regex(re, std::regex::ECMAScript | std::regex::icase)).first;
  }
  std::smatch match;
  if (!std::regex_search(text, match, it->second)) {
    return std::nullopt;
  }
  return match[1].str();
}

inline ConfigMeta ExtractConfigMeta(std::string& config) {
  ConfigMeta meta;
  size_t key = config.find("\"__zelvora_blocked_apps\"");
  if (key != std::string::npos) {
    if (const auto content =
            IcaseCapture(config, R"re("__zelvora_blocked_apps"\s*:\s*\[([^\]]*)\])re")) {
      for (const std::string& item : QuotedItems(*content)) {
        if (item.size() > 253) continue;
        const size_t slash = item.find_last_of("\\/");
        const std::string base = slash == std::string::npos ? item : item.substr(slash + 1);
        bool ok = !base.empty();
        for (char c : base) {
          ok = ok && (c == ' ' || c == '-' || c == '.' || c == '_' || (c >= '0' && c <= '9') ||
                      (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'));
        }
        if (ok) meta.blockedApps.push_back(item);
      }
    }
    RemoveJsonMember(config, key);
  }
  key = config.find("\"zelvoraMeta\"");
  if (key != std::string::npos) {
    if (const auto host = IcaseCapture(config, R"delim("panelHost"\s*:\s*"([^"]+)")delim")) {
      if (IsValidHostToken(*host)) meta.panelHost = *host;
    }
    if (const auto content = IcaseCapture(config, R"re("bypassSubnets"\s*:\s*\[([^\]]*)\])re")) {
      meta.bypassSubnets = QuotedItems(*content);
    }
    if (const auto content = IcaseCapture(config, R"re("directDomains"\s*:\s*\[([^\]]*)\])re")) {
      for (const std::string& item : QuotedItems(*content)) {
        if (IsValidHostToken(item)) meta.directDomains.push_back(item);
      }
    }
    RemoveJsonMember(config, key);
  }
  return meta;
}

inline std::string StripAllowInsecure(const std::string& config) {
  const auto flags = std::regex::ECMAScript | std::regex::icase;
  static const std::regex patterns[] = {
      std::regex(R"re(,\s*"allowInsecure"\s*:\s*(true|false|1|0)(?=[\s,}\]]|$))re", flags),
      std::regex(R"re("allowInsecure"\s*:\s*(true|false|1|0)(?=[\s,}\]]|$)\s*,)re", flags),
      std::regex(R"re("allowInsecure"\s*:\s*(true|false|1|0)(?=[\s,}\]]|$))re", flags),
  };
  std::string text = config;
  for (const std::regex& pattern : patterns) text = std::regex_replace(text, pattern, "");
  return text;
}

inline std::string ListenOnIpv4Loopback(const std::string& config) {
  static const std::regex pattern(R"re("listen"\s*:\s*"\[::1\]")re");
  return std::regex_replace(config, pattern, "\"listen\": \"127.0.0.1\"");
}

inline std::string CoreVersion(const std::string& output) {
  static const std::regex pattern(R"re(Xray\s+(\d+\.\d+\.\d+))re");
  std::smatch match;
  if (!std::regex_search(output, match, pattern)) return {};
  return match[1].str();
}

}  // namespace regex_reference
