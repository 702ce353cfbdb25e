#include "vpn_engine/config_injection.h"

#include <iostream>
#include <string_view>

#include "tunnel_log/tunnel_log.h"
#include "vpn_engine/config_inspection.h"
#include "vpn_engine/json_text.h"
#include "vpn_engine/text_patterns.h"

using config_text::kNone;
using config_text::Piece;
using config_text::ValueKind;

std::string ListenOnIpv4Loopback(const std::string& config) {
  config_text::PieceFinder finder(config, Piece{"\"listen\"", ValueKind::kQuotedOneOf, {"[::1]"}});
  std::string out;
  size_t copied = 0;
  while (const auto match = finder.FindFrom(copied)) {
    out.append(config, copied, match->begin - copied);
    out += "\"listen\": \"127.0.0.1\"";
    copied = match->end;
  }
  if (copied == 0) return config;
  out.append(config, copied, std::string::npos);
  return out;
}

std::optional<ApiPortLocation> FindApiInboundPort(const std::string& config) {
  const Piece api_tag{"\"tag\"", ValueKind::kQuotedOneOf, {"api"}};
  const Piece port{"\"port\"", ValueKind::kDigits};
  const auto api = config_text::FirstGapMatch(config, api_tag, 400, port,
                                              config_text::GapSearch::CaptureFrom::kTail);
  if (!api) return std::nullopt;
  return ApiPortLocation{api->capture_begin, std::string(api->Capture(config))};
}

namespace {

// The configuration keeps its own DNS block when it names at least something in "servers".
bool HasOwnDnsServers(const std::string& config) {
  const size_t dns = config_text::FindLiteral(config, "\"dns\"", 0, false);
  if (dns == std::string::npos) return false;
  const size_t servers = config_text::FindLiteral(config, "\"servers\"", dns, false);
  if (servers == std::string::npos || servers - dns >= 2000) return false;
  const size_t open = config.find('[', servers);
  if (open == std::string::npos || open - servers >= 64) return false;
  const size_t close = config_text::FindArrayEnd(config, open);
  if (close == kNone) return false;
  for (size_t i = open + 1; i < close; ++i) {
    if (!config_text::IsJsonBlank(config[i])) return true;
  }
  return false;
}

// Inserts `item` (which ends with a comma) first in the array opened at `open`; into an empty
// array it goes without that comma so the result stays valid JSON.
void InsertFirstInArray(std::string& text, size_t open, std::string item) {
  size_t next = open + 1;
  while (next < text.size() && config_text::IsJsonBlank(text[next])) ++next;
  if (next < text.size() && text[next] == ']' && !item.empty() && item.back() == ',') {
    item.pop_back();
  }
  text.insert(open + 1, item);
}

const char kApiInbound[] =
    "\n    {\n      \"tag\": \"api\",\n      \"port\": 10086,\n      \"listen\": "
    "\"127.0.0.1\",\n      \"protocol\": \"dokodemo-door\",\n      \"settings\": { \"address\": "
    "\"127.0.0.1\" }\n    },";

// Replaces the first `"port": <old>` (or `"port":<old>`) not followed by a further digit.
void ReplaceFirstPortValue(std::string& config, uint16_t old_port, uint16_t new_port) {
  const std::string old_text = std::to_string(old_port);
  for (const char* prefix : {"\"port\": ", "\"port\":"}) {
    const std::string needle = prefix + old_text;
    for (size_t pos = config_text::FindLiteral(config, needle, 0, false); pos != std::string::npos;
         pos = config_text::FindLiteral(config, needle, pos + 1, false)) {
      const size_t after = pos + needle.size();
      // "port": 10807 must not be taken for port 1080.
      if (after < config.size() && config_text::IsDigit(config[after])) continue;
      config.replace(pos, needle.size(), prefix + std::to_string(new_port));
      return;
    }
  }
}

}  // namespace

std::string FormatJsonStringArray(const std::vector<std::string>& items) {
  std::string array = "[";
  for (size_t i = 0; i < items.size() && i < 4; ++i) {
    if (i > 0) array += ',';
    array += "\"" + items[i] + "\"";
  }
  return array + "]";
}

std::string InjectTunInbound(const std::string& config, const std::vector<std::string>& dns) {
  if (config_text::FindLiteral(config, "\"protocol\":\"tun\"", 0, false) != std::string::npos ||
      config_text::FindLiteral(config, "\"protocol\": \"tun\"", 0, false) != std::string::npos) {
    return config;
  }
  std::string dns_items;
  if (dns.empty()) {
    dns_items = "\"9.9.9.9\",\"149.112.112.112\"";
  } else {
    const std::string array = FormatJsonStringArray(dns);
    dns_items = array.substr(1, array.size() - 2);
  }
  const std::string inbound =
      "    {\n      \"tag\": \"tun-in\",\n      \"protocol\": \"tun\",\n      \"settings\": {\n  "
      "      \"name\": \"Zelvora\",\n        \"desc\": \"Zelvora\",\n        \"mtu\": 1500,\n      "
      "  \"gateway\": [\"10.0.85.1/24\"],\n        \"dns\": [" +
      dns_items +
      "],\n        \"autoSystemRoutingTable\": [\"0.0.0.0/0\", \"::/0\"],\n        "
      "\"autoOutboundsInterface\": \"auto\"\n      },\n      \"sniffing\": {\n        "
      "\"enabled\": true,\n        \"destOverride\": [\"http\", \"tls\", \"quic\"]\n      }\n    "
      "},";
  const size_t inbounds = config_text::FindLiteral(config, "\"inbounds\"", 0, false);
  if (inbounds == std::string::npos) return config;
  const size_t open = config.find('[', inbounds);
  if (open == std::string::npos) return config;
  std::string result = config;
  InsertFirstInArray(result, open, "\n" + inbound);
  return result;
}

std::string InjectVpnConfig(const VpnInjectionInputs& inputs, std::vector<std::string>* dns_servers,
                            const std::string& config, const ExeFolderLister& lister) {
  *dns_servers = ExtractDnsServers(config);
  const std::vector<std::string> tunnel_dns = GetTunnelDnsServers(*dns_servers);
  const std::string server_host = ExtractServerAddress(config);

  std::string text = ListenOnIpv4Loopback(config);
  if (config_text::FindLiteral(text, "\"stats\"", 0, false) == std::string::npos) {
    config_text::InsertAfterFirstBrace(text, "\n\"stats\": {},");
  }
  if (config_text::FindLiteral(text, "\"policy\"", 0, false) == std::string::npos) {
    config_text::InsertAfterFirstBrace(
        text,
        "\n\"policy\": { \"system\": { \"statsOutboundUplink\": true, \"statsOutboundDownlink\": "
        "true } },");
  }
  if (config_text::FindLiteral(text, "\"api\"", 0, false) == std::string::npos) {
    config_text::InsertAfterFirstBrace(
        text, "\n\"api\": { \"tag\": \"api\", \"services\": [\"StatsService\"] },");
  }
  const bool keep_dns = HasOwnDnsServers(text);
  if (!keep_dns) {
    config_text::InsertAfterFirstBrace(
        text, "\n\"dns\":{\"servers\":" + FormatJsonStringArray(tunnel_dns) +
                  ",\"queryStrategy\":\"UseIPv4\"},");
  }
  std::string joined;
  for (size_t i = 0; i < tunnel_dns.size(); ++i) joined += (i > 0 ? "/" : "") + tunnel_dns[i];
  TunnelLogWrite(
      "OS DNS=" + joined +
      (keep_dns ? "; Xray DNS kept from Flutter/server" : "; Xray DNS injected as OS list"));

  std::vector<std::string> direct_hosts;
  if (!inputs.panelHost.empty()) direct_hosts.push_back(inputs.panelHost);
  direct_hosts.insert(direct_hosts.end(), inputs.directDomains.begin(), inputs.directDomains.end());
  if (InjectRoutingRules(text, server_host, direct_hosts, inputs.blockedApps, tunnel_dns, lister)) {
    std::cerr << "VPN Service: Added routing rules - VPN server (" << server_host
              << ") + app panel -> direct, all other -> proxy" << std::endl;
    if (!inputs.blockedApps.empty()) {
      TunnelLogWrite("Xray process bypass rules: " + std::to_string(inputs.blockedApps.size()));
    }
    TunnelLogWrite("Xray routing rules injected (api/stats + bypass)");
  } else {
    TunnelLogWrite("WARNING: failed to inject Xray routing rules (stats will be 0)");
  }

  if (!inputs.blockedApps.empty()) {
    text = InjectTunInbound(text, tunnel_dns);
    TunnelLogWrite("split-tunnel: Xray native TUN inbound injected (per-process bypass)");
  }

  const size_t inbounds = config_text::FindLiteral(text, "\"inbounds\"", 0, false);
  if (inbounds != std::string::npos &&
      config_text::FindLiteral(text, "dokodemo-door", 0, false) == std::string::npos) {
    const size_t open = text.find('[', inbounds);
    if (open != std::string::npos) InsertFirstInArray(text, open, kApiInbound);
  }
  return text;
}

std::string RemapBusyPorts(std::string config, const LoopbackPortProbe& ports) {
  const uint16_t socks_port = FindSocksInboundPort(config);
  if (!ports.is_free(socks_port)) {
    const uint16_t new_port = ports.find_free();
    if (new_port == 0) {
      TunnelLogWrite("ERROR: SOCKS port " + std::to_string(socks_port) +
                     " is in use and no free loopback port was found");
      return config;
    }
    ReplaceFirstPortValue(config, socks_port, new_port);
    TunnelLogWrite("WARNING: SOCKS port " + std::to_string(socks_port) +
                   " busy (another app?) \xE2\x80\x94 remapped to " + std::to_string(new_port));
  }

  const auto api = FindApiInboundPort(config);
  uint16_t api_port = 0;
  if (api && ParsePortText(api->digits, &api_port) && !ports.is_free(api_port)) {
    const uint16_t new_port = ports.find_free();
    if (new_port != 0) {
      config.replace(api->offset, api->digits.size(), std::to_string(new_port));
      TunnelLogWrite("WARNING: API port " + std::to_string(api_port) +
                     " busy \xE2\x80\x94 remapped to " + std::to_string(new_port));
    }
  }
  return config;
}

std::string StripAllowInsecure(const std::string& config) {
  const Piece member{"\"allowInsecure\"", ValueKind::kBareOneOf, {"true", "false", "1", "0"}, true};

  // `,\s*"allowInsecure"\s*:\s*(true|false|1|0)`: the match starts at the comma before the key.
  const auto strip_with_leading_comma = [&member](const std::string& text) {
    config_text::PieceFinder finder(text, member);
    std::string out;
    size_t copied = 0;
    size_t search = 0;
    while (const auto match = finder.FindFrom(search)) {
      search = match->begin + 1;
      size_t comma = match->begin;
      while (comma > copied && config_text::IsPatternSpace(text[comma - 1])) --comma;
      if (comma == copied || text[comma - 1] != ',') continue;
      --comma;
      out.append(text, copied, comma - copied);
      copied = match->end;
      search = copied;
    }
    out.append(text, copied, std::string::npos);
    return out;
  };
  // `"allowInsecure"\s*:\s*(true|false|1|0)` with an optional `\s*,` required after it.
  const auto strip = [&member](const std::string& text, bool trailing_comma) {
    config_text::PieceFinder finder(text, member);
    std::string out;
    size_t copied = 0;
    size_t search = 0;
    while (const auto match = finder.FindFrom(search)) {
      size_t end = match->end;
      if (trailing_comma) {
        end = config_text::SkipPatternSpaces(text, end);
        if (end >= text.size() || text[end] != ',') {
          search = match->begin + 1;
          continue;
        }
        ++end;
      }
      out.append(text, copied, match->begin - copied);
      copied = end;
      search = end;
    }
    out.append(text, copied, std::string::npos);
    return out;
  };
  return strip(strip(strip_with_leading_comma(config), true), false);
}
