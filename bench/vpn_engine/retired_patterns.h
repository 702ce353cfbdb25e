// The patterns the engine once read the SOCKS port, the server address and the DNS servers
// with, evaluated with std::regex: the benchmark's timing reference for the object readers
// that replaced them (their answers differ by design; the readers' tests judge those).
#pragma once

#include <algorithm>
#include <cstdint>
#include <exception>
#include <optional>
#include <regex>
#include <string>
#include <vector>

#include "config_text/config_inspection.h"
#include "config_text/json_text.h"
#include "support/regex_reference.h"

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

inline std::vector<std::string> ExtractDnsServers(const std::string& config) {
  static const std::regex item(R"re("(\d{1,3}\.\d{1,3}\.\d{1,3}\.\d{1,3})")re");
  const size_t dns = config.find("\"dns\"");
  if (dns == std::string::npos) return {};
  const size_t servers = config.find("\"servers\"", dns);
  if (servers == std::string::npos || servers - dns > 2000) return {};
  const size_t open = config.find('[', servers);
  if (open == std::string::npos || open - servers > 64) return {};
  const size_t close = config_text::FindMatchingCloser(config, open);
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

}  // namespace regex_reference
