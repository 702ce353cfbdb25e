// Configuration texts for tests, the fuzzer and the benchmark: realistic Xray configurations in
// many shapes, random token soups and mutations, and large texts with long gaps.
#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace config_samples {

enum class Transport { kTcpTls, kReality, kWebSocket, kGrpc };

struct Shape {
  Transport transport = Transport::kTcpTls;
  bool inbounds_first = true;
  bool dns = true, routing = true, api = false, policy = false, stats = false;
  int meta_position = 0;  // 0 none, 1 first, 2 middle, 3 last
  std::string server = "vpn.example.net";
  int socks_port = 10808;
};

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

inline std::string Build(const Shape& shape) {
  const std::string inbounds =
      "\"inbounds\": [\n    {\"tag\": \"socks\", \"port\": " + std::to_string(shape.socks_port) +
      ", \"listen\": \"127.0.0.1\", \"protocol\": \"socks\", \"settings\": {\"udp\": true}},\n"
      "    {\"tag\": \"http\", \"port\": 10809, \"listen\": \"[::1]\", \"protocol\": \"http\"}\n  "
      "]";
  const std::string outbounds =
      "\"outbounds\": [\n    {\"tag\": \"proxy\", \"protocol\": \"vless\", \"settings\": "
      "{\"vnext\": [{\"address\": \"" +
      shape.server +
      "\", \"port\": 443, \"users\": [{\"id\": \"b831381d-6324-4d53-ad4f-8cda48b30811\", "
      "\"encryption\": \"none\", \"flow\": \"xtls-rprx-vision\"}]}]}, " +
      StreamSettings(shape.transport) +
      "},\n    {\"tag\": \"direct\", \"protocol\": \"freedom\"},\n    {\"tag\": \"block\", "
      "\"protocol\": \"blackhole\"}\n  ]";
  const std::string meta =
      "\"zelvoraMeta\": {\"panelHost\": \"panel.example.org\", \"bypassSubnets\": "
      "[\"192.168.0.0/16\", \"10.1.0.0/16\"], \"directDomains\": [\"intranet.example.org\", "
      "\"bad host\"], \"shareProxyPorts\": [1080, 0, 70000, \"8080\"]}";
  std::vector<std::string> members;
  members.push_back("\"log\": {\"loglevel\": \"warning\"}");
  if (shape.meta_position == 1) members.insert(members.begin(), meta);
  if (shape.inbounds_first) members.push_back(inbounds);
  members.push_back(outbounds);
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

// Pieces that the patterns care about, so random texts hit their corners often.
inline const std::vector<std::string>& Tokens() {
  static const std::vector<std::string> tokens = {"\"tag\"",
                                                  "\"port\"",
                                                  "\"protocol\"",
                                                  "\"socks\"",
                                                  "\"socks-in\"",
                                                  "\"in_proxy\"",
                                                  "\"api\"",
                                                  "\"address\"",
                                                  "\"endpoint\"",
                                                  "\"vnext\"",
                                                  "\"outbounds\"",
                                                  "\"servers\"",
                                                  "\"vless\"",
                                                  "\"wireguard\"",
                                                  "\"dns\"",
                                                  "\"listen\"",
                                                  "\"[::1]\"",
                                                  "\"allowInsecure\"",
                                                  "\"ALLOWINSECURE\"",
                                                  "true",
                                                  "FALSE",
                                                  "1",
                                                  "0",
                                                  "10",
                                                  ":",
                                                  " ",
                                                  "\n",
                                                  "\t",
                                                  ",",
                                                  "[",
                                                  "]",
                                                  "{",
                                                  "}",
                                                  "\"",
                                                  "\\",
                                                  "1080",
                                                  "65535",
                                                  "99999",
                                                  "000080",
                                                  "1.2.3.4",
                                                  "\"8.8.8.8\"",
                                                  "127.0.0.1",
                                                  "localhost",
                                                  "https://",
                                                  "/path",
                                                  "[2001:db8::1]:443",
                                                  ":443",
                                                  "a",
                                                  "Xray ",
                                                  "1.8.24",
                                                  "\"__zelvora_blocked_apps\"",
                                                  "\"zelvoraMeta\"",
                                                  "\"panelHost\"",
                                                  "\"PANELHOST\"",
                                                  "\"bypassSubnets\"",
                                                  "\"directDomains\"",
                                                  "\"shareProxyPorts\"",
                                                  "\"chrome.exe\"",
                                                  "\"C:\\\\a b\\\\x(1).exe\"",
                                                  "123456",
                                                  "\v",
                                                  "\f",
                                                  "\r",
                                                  "\"\"",
                                                  "\"tun\"",
                                                  "\"rules\"",
                                                  "\"routing\"",
                                                  "\"inbounds\"",
                                                  "dokodemo-door",
                                                  "\xC3\xA9",
                                                  "x"};
  return tokens;
}

inline std::string RandomTokens(std::mt19937& rng, size_t count) {
  std::uniform_int_distribution<size_t> pick(0, Tokens().size() - 1);
  std::string text;
  for (size_t i = 0; i < count; ++i) text += Tokens()[pick(rng)];
  return text;
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
         users +
         "]}, \"port\": 10808, \"listen\": \"127.0.0.1\"}\n  ],\n  \"outbounds\": [\n    "
         "{\"tag\": \"proxy\", \"protocol\": \"vless\", \"settings\": {\"vnext\": [{\"address\": "
         "\"vpn.example.net\", \"port\": 443, \"users\": [{\"id\": \"b831381d-6324\", "
         "\"encryption\": \"none\"}]}]}, \"streamSettings\": {\"network\": \"tcp\", \"security\": "
         "\"tls\", \"tlsSettings\": {\"allowInsecure\": true}}},\n    {\"tag\": \"direct\", "
         "\"protocol\": \"freedom\"}\n  ],\n  \"dns\": {\"servers\": [\"1.1.1.1\", \"8.8.8.8\"]},\n"
         "  \"routing\": {\"rules\": [{\"type\": \"field\", \"domain\": [" +
         domains +
         "], \"outboundTag\": \"direct\"}]},\n  \"zelvoraMeta\": {\"panelHost\": "
         "\"panel.example.org\", \"bypassSubnets\": [" +
         subnets + "], \"directDomains\": [\"a.example.org\"], \"shareProxyPorts\": [1080]}\n}\n";
}

}  // namespace config_samples
