// Configuration texts for the tests and the benchmarks: configurations as users' applications
// send them, generated shapes of every combination, their mutations, and large texts with long
// gaps.
#pragma once

#include <cstdint>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace config_samples {

enum class Transport { kTcpTls, kReality, kWebSocket, kGrpc };

inline std::string StreamSettings(Transport transport) {
  switch (transport) {
    case Transport::kTcpTls:
      return R"("streamSettings": {"network": "tcp", "security": "tls", "tlsSettings": {"serverName": "vpn.example.net", "allowInsecure": false}})";
    case Transport::kReality:
      return R"("streamSettings": {"network": "tcp", "security": "reality", "realitySettings": {"serverName": "www.microsoft.com", "fingerprint": "chrome", "publicKey": "Zx3kB1vDm8kQ9y", "shortId": "6ba85179e30d4fc2"}})";
    case Transport::kWebSocket:
      return R"("streamSettings": {"network": "ws", "security": "tls", "wsSettings": {"path": "/ray", "headers": {"Host": "cdn.example.net"}}, "tlsSettings": {"allowInsecure": true}})";
    case Transport::kGrpc:
      return R"("streamSettings": {"network": "grpc", "security": "tls", "grpcSettings": {"serviceName": "tunnel", "multiMode": true}})";
  }
  return {};
}

// The "proxy" VLESS outbound to `server`:443, then the "direct" and "block" outbounds the
// engine's rules name.
inline std::string VlessOutbounds(const std::string& server = "vpn.example.net",
                                  Transport transport = Transport::kWebSocket) {
  return R"("outbounds": [
    {"tag": "proxy", "protocol": "vless", "settings": {"vnext": [{"address": ")" +
         server +
         R"(", "port": 443, "users": [{"id": "b831381d-6324-4d53-ad4f-8cda48b30811", "encryption": "none"}]}]}, )" +
         StreamSettings(transport) + R"(},
    {"tag": "direct", "protocol": "freedom"},
    {"tag": "block", "protocol": "blackhole"}
  ])";
}

// A configuration as a user's application sends it, with what the core reads in it.
struct UserConfig {
  const char* name;
  std::string text;
  std::vector<std::string> dns;  // the DNS section's IPv4 servers
  std::string server = "vpn.example.net";
};

// Each has a shape real configurations have and a text search can misread. Every one is plain
// core configuration (no TUN inbound, no geo data files, no Reality) so a real core can judge
// what the injection makes of it; every SOCKS inbound listens on 10808.
inline const std::vector<UserConfig>& UserConfigs() {
  static const std::vector<UserConfig> configs = {
      {"inbounds written port-first",
       R"({
  "log": {"loglevel": "warning"},
  "inbounds": [
    {"port": 10808, "listen": "127.0.0.1", "protocol": "socks", "settings": {"udp": true}, "tag": "socks-in"},
    {"port": 10809, "listen": "127.0.0.1", "protocol": "http", "tag": "http-in"}
  ],
  )" + VlessOutbounds() +
           R"(,
  "dns": {"servers": ["1.1.1.1", "8.8.8.8"]},
  "routing": {"domainStrategy": "AsIs", "rules": [{"type": "field", "ip": ["192.168.0.0/16"], "outboundTag": "direct"}]}
})",
       {"1.1.1.1", "8.8.8.8"}},
      {"local DNS proxy on port 53 and no api section",
       R"({
  "log": {"loglevel": "warning"},
  "dns": {"servers": [{"address": "127.0.0.1", "port": 53, "domains": ["domain:corp.example"]}, "1.1.1.1"], "queryStrategy": "UseIPv4"},
  "inbounds": [
    {"tag": "socks", "port": 10808, "listen": "127.0.0.1", "protocol": "socks", "settings": {"udp": true}},
    {"tag": "http", "port": 10809, "listen": "127.0.0.1", "protocol": "http"}
  ],
  )" + VlessOutbounds() +
           R"(,
  "routing": {"rules": [{"type": "field", "domain": ["domain:corp.example"], "outboundTag": "direct"}]}
})",
       {"127.0.0.1", "1.1.1.1"}},
      {"dns outbound ahead of the DNS section",
       R"({
  "inbounds": [{"tag": "socks", "port": 10808, "listen": "127.0.0.1", "protocol": "socks"}],
  "outbounds": [
    {"tag": "dns-out", "protocol": "dns"},
    {"tag": "proxy", "protocol": "trojan", "settings": {"servers": [{"address": "203.0.113.7", "port": 443, "password": "correct horse"}]},
     "streamSettings": {"network": "tcp", "security": "tls", "tlsSettings": {"serverName": "trojan.example.net"}}},
    {"tag": "direct", "protocol": "freedom"}
  ],
  "dns": {"servers": ["9.9.9.9", "1.0.0.1"]},
  "routing": {"rules": [{"type": "field", "port": "53", "outboundTag": "dns-out"}]}
})",
       {"9.9.9.9", "1.0.0.1"},
       "203.0.113.7"},
      {"routing object without rules",
       R"({
  "inbounds": [{"tag": "socks", "port": 10808, "listen": "127.0.0.1", "protocol": "socks"}],
  )" + VlessOutbounds() +
           R"(,
  "routing": {"domainStrategy": "IPIfNonMatch"}
})",
       {}},
      {"empty DNS server list and routing object",
       R"({
  "log": {"loglevel": "warning"},
  "dns": {"servers": [], "queryStrategy": "UseIP"},
  "inbounds": [{"tag": "socks", "port": 10808, "listen": "127.0.0.1", "protocol": "socks", "settings": {"udp": true}}],
  )" + VlessOutbounds() +
           R"(,
  "routing": {}
})",
       {}},
      {"local relay first in the server list",
       R"({
  "inbounds": [{"tag": "socks", "port": 10808, "listen": "127.0.0.1", "protocol": "socks"}],
  "outbounds": [
    {"tag": "proxy", "protocol": "vless", "settings": {"vnext": [
      {"address": "127.0.0.1", "port": 10900, "users": [{"id": "b831381d-6324-4d53-ad4f-8cda48b30811", "encryption": "none"}]},
      {"address": "edge.example.net", "port": 443, "users": [{"id": "b831381d-6324-4d53-ad4f-8cda48b30811", "encryption": "none"}]}]},
     "streamSettings": {"network": "tcp", "security": "tls", "tlsSettings": {"serverName": "edge.example.net"}}},
    {"tag": "direct", "protocol": "freedom"}
  ],
  "dns": {"servers": ["1.1.1.1"]}
})",
       {"1.1.1.1"},
       "edge.example.net"},
      {"metadata lists with empty entries",
       R"({
  "zelvoraMeta": {"panelHost": "panel.example.org", "bypassSubnets": ["192.168.0.0/16", "", "10.1.0.0/16"], "directDomains": ["intranet.example.org", "", "git.example.org"], "shareProxyPorts": [1080]},
  "inbounds": [{"tag": "socks", "port": 10808, "listen": "127.0.0.1", "protocol": "socks"}],
  )" + VlessOutbounds() +
           R"(,
  "dns": {"servers": ["1.1.1.1", "8.8.8.8"]}
})",
       {"1.1.1.1", "8.8.8.8"}},
      {"outbound settings before protocol, quoted ports, a DNS server object",
       R"({
  "log": {"loglevel": "warning"},
  "dns": {"servers": [{"address": "8.8.8.8", "port": 53}, "1.1.1.1"]},
  "inbounds": [
    {"tag": "socks", "port": "10808", "listen": "127.0.0.1", "protocol": "socks", "settings": {"udp": true}},
    {"tag": "http", "port": "10809", "listen": "127.0.0.1", "protocol": "http"}
  ],
  "outbounds": [
    {"tag": "proxy", "settings": {"vnext": [{"address": "first.example.com", "port": 443, "users": [{"id": "b831381d-6324-4d53-ad4f-8cda48b30811", "encryption": "none"}]}]},
     "protocol": "vless", "streamSettings": {"network": "ws", "security": "tls", "tlsSettings": {"serverName": "first.example.com"}}},
    {"tag": "backup", "settings": {"vnext": [{"address": "second.example.com", "port": 443, "users": [{"id": "b831381d-6324-4d53-ad4f-8cda48b30811", "encryption": "none"}]}]},
     "protocol": "vless", "streamSettings": {"network": "ws", "security": "tls", "tlsSettings": {"serverName": "second.example.com"}}},
    {"tag": "direct", "protocol": "freedom"}
  ]
})",
       {"8.8.8.8", "1.1.1.1"},
       "first.example.com"},
  };
  return configs;
}

struct Shape {
  Transport transport = Transport::kTcpTls;
  bool inbounds_first = true;
  bool dns = true, routing = true, api = false, policy = false, stats = false;
  int meta_position = 0;  // 0 none, 1 first, 2 middle, 3 last
  std::string server = "vpn.example.net";
};

inline std::string Build(const Shape& shape) {
  const std::string inbounds =
      "\"inbounds\": [\n    {\"tag\": \"socks\", \"port\": 10808, \"listen\": \"127.0.0.1\", "
      "\"protocol\": \"socks\", \"settings\": {\"udp\": true}},\n"
      "    {\"tag\": \"http\", \"port\": 10809, \"listen\": \"[::1]\", \"protocol\": \"http\"}\n  "
      "]";
  const std::string meta =
      "\"zelvoraMeta\": {\"panelHost\": \"panel.example.org\", \"bypassSubnets\": "
      "[\"192.168.0.0/16\", \"10.1.0.0/16\"], \"directDomains\": [\"intranet.example.org\", "
      "\"bad host\"], \"shareProxyPorts\": [1080, 0, 70000, \"8080\"]}";
  std::vector<std::string> members = {"\"log\": {\"loglevel\": \"warning\"}"};
  if (shape.meta_position == 1) members.insert(members.begin(), meta);
  if (shape.inbounds_first) members.push_back(inbounds);
  members.push_back(VlessOutbounds(shape.server, shape.transport));
  if (!shape.inbounds_first) members.push_back(inbounds);
  if (shape.meta_position == 2) members.push_back(meta);
  if (shape.dns) {
    members.push_back(
        "\"dns\": {\"servers\": [\"1.1.1.1\", {\"address\": \"8.8.8.8\", \"domains\": "
        "[\"geosite:google\"]}, \"https://dns.google/dns-query\", \"localhost\"]}");
  }
  if (shape.routing) {
    members.push_back(
        "\"routing\": {\"domainStrategy\": \"AsIs\", \"rules\": [{\"type\": \"field\", "
        "\"domain\": [\"geosite:private\"], \"outboundTag\": \"direct\"}]}");
  }
  if (shape.api) {
    members.push_back("\"api\": {\"tag\": \"api\", \"services\": [\"StatsService\"]}");
  }
  if (shape.policy) members.push_back("\"policy\": {\"levels\": {\"0\": {\"handshake\": 4}}}");
  if (shape.stats) members.push_back("\"stats\": {}");
  if (shape.meta_position == 3) members.push_back(meta);
  std::string text = "{\n  ";
  for (size_t i = 0; i < members.size(); ++i) text += (i ? ",\n  " : "") + members[i];
  return text + "\n}\n";
}

// Every combination of the shape's choices.
inline std::vector<std::string> RealisticConfigs() {
  std::vector<std::string> configs;
  for (int transport = 0; transport < 4; ++transport) {
    for (int bits = 0; bits < 64; ++bits) {
      Shape shape;
      shape.transport = static_cast<Transport>(transport);
      shape.inbounds_first = bits & 1;
      shape.dns = bits & 2;
      shape.routing = bits & 4;
      shape.api = bits & 8;
      shape.policy = bits & 16;
      shape.stats = bits & 32;
      shape.meta_position = (bits + transport) % 4;
      shape.server = (bits % 3 == 0) ? "203.0.113.7" : "vpn.example.net";
      configs.push_back(Build(shape));
    }
  }
  return configs;
}

// Pieces that the patterns care about, so mutations hit their corners often.
inline const std::vector<std::string>& Tokens() {
  static const std::vector<std::string> tokens = [] {
    std::vector<std::string> list = {" ",  "\n", "\t",    "\v",
                                     "\f", "\r", "Xray ", "\"C:\\\\a b\\\\x(1).exe\""};
    std::istringstream words(R"("tag" "port" "protocol" "socks" "socks-in" "in_proxy" "api"
        "address" "endpoint" "vnext" "outbounds" "servers" "vless" "wireguard" "dns" "listen"
        "[::1]" "allowInsecure" "ALLOWINSECURE" true FALSE 1 0 10 : , [ ] { } " \ 1080 65535
        99999 000080 1.2.3.4 "8.8.8.8" 127.0.0.1 localhost https:// /path [2001:db8::1]:443 :443
        a 1.8.24 "__zelvora_blocked_apps" "zelvoraMeta" "panelHost" "PANELHOST" "bypassSubnets"
        "directDomains" "shareProxyPorts" "chrome.exe" 123456 "" "tun" "rules" "routing"
        "inbounds" dokodemo-door é x)");
    for (std::string word; words >> word;) list.push_back(word);
    return list;
  }();
  return tokens;
}

// Small edits: insert, delete or replace a token or a byte.
inline std::string Mutate(std::string text, std::mt19937& rng, int edits) {
  std::uniform_int_distribution<size_t> pick(0, Tokens().size() - 1);
  for (int i = 0; i < edits; ++i) {
    const size_t pos = text.empty() ? 0 : rng() % (text.size() + 1);
    switch (rng() % 4) {
      case 0:
        text.insert(pos, Tokens()[pick(rng)]);
        break;
      case 1:
        if (pos < text.size()) text.erase(pos, 1 + rng() % 8);
        break;
      case 2:
        if (pos < text.size()) text[pos] = static_cast<char>(rng());
        break;
      default:
        text.insert(pos, std::string(rng() % 40, " x\n"[rng() % 3]));
        break;
    }
  }
  return text;
}

// A configuration of about `size` bytes whose long parts are where patterns wait: a huge
// bypass list, a SOCKS inbound whose "port" comes after a long settings block, long routing
// lists, and meta arrays of every kind.
inline std::string LargeConfig(size_t size) {
  const size_t share = size / 4;
  std::string apps, users, domains, subnets;
  for (int i = 0; apps.size() < share; ++i) {
    apps += (i ? "," : "") + std::string("\"C:\\\\Program Files\\\\App") + std::to_string(i) +
            "\\\\app" + std::to_string(i) + ".exe\"";
  }
  for (int i = 0; users.size() < share; ++i) {
    users += (i ? ", " : "") + std::string("{\"user\": \"u") + std::to_string(i) +
             "\", \"pass\": \"secret-" + std::to_string(i) + "\"}";
  }
  for (int i = 0; domains.size() < share; ++i) {
    domains +=
        (i ? ", " : "") + std::string("\"domain:site") + std::to_string(i) + ".example.com\"";
  }
  for (int i = 0; subnets.size() < share; ++i) {
    subnets += (i ? ", " : "") + std::string("\"10.") + std::to_string(i % 250) + "." +
               std::to_string(i / 250 % 250) + ".0/24\"";
  }
  return "{\n  \"__zelvora_blocked_apps\": [" + apps +
         "],\n  \"log\": {\"loglevel\": \"warning\"},\n  \"inbounds\": [\n    {\"tag\": \"socks\", "
         "\"protocol\": \"socks\", \"settings\": {\"auth\": \"password\", \"accounts\": [" +
         users + "]}, \"port\": 10808, \"listen\": \"127.0.0.1\"}\n  ],\n  " +
         VlessOutbounds("vpn.example.net", Transport::kTcpTls) +
         ",\n  \"dns\": {\"servers\": [\"1.1.1.1\", \"8.8.8.8\"]},\n"
         "  \"routing\": {\"rules\": [{\"type\": \"field\", \"domain\": [" +
         domains +
         "], \"outboundTag\": \"direct\"}]},\n  \"zelvoraMeta\": {\"panelHost\": "
         "\"panel.example.org\", \"bypassSubnets\": [" +
         subnets + "], \"directDomains\": [\"a.example.org\"], \"shareProxyPorts\": [1080]}\n}\n";
}

}  // namespace config_samples
