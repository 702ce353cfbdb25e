// Configurations as users' applications send them, each with a shape that real configurations
// have and that a text search can misread: inbounds written port-first, a local DNS proxy on
// port 53, a "dns" outbound ahead of the DNS section, empty routing and DNS objects, a server
// list that names a local relay first, metadata lists with empty entries, outbounds that list
// "settings" before "protocol", ports written as strings. Every one is plain
// core configuration (no TUN inbound, no geo data files, no Reality) so a real core can judge
// what the injection makes of it.
#pragma once

#include <string>
#include <vector>

namespace user_configs {

struct UserConfig {
  const char* name;
  std::string text;
};

// The outbound every configuration below uses unless it says otherwise: VLESS on 443 over
// WebSocket with TLS, plus the "direct" and "block" outbounds the injected rules name.
inline std::string VlessOutbounds(const std::string& server = "vpn.example.net") {
  return R"("outbounds": [
    {"tag": "proxy", "protocol": "vless", "settings": {"vnext": [{"address": ")" +
         server + R"(", "port": 443, "users": [{"id": "b831381d-6324-4d53-ad4f-8cda48b30811", "encryption": "none"}]}]},
     "streamSettings": {"network": "ws", "security": "tls", "wsSettings": {"path": "/ray", "headers": {"Host": "cdn.example.net"}}, "tlsSettings": {"serverName": "cdn.example.net", "allowInsecure": false}}},
    {"tag": "direct", "protocol": "freedom"},
    {"tag": "block", "protocol": "blackhole"}
  ])";
}

inline const std::vector<UserConfig>& All() {
  static const std::vector<UserConfig> configs = {
      {"inbounds written port-first",
       R"({
  "log": {"loglevel": "warning"},
  "inbounds": [
    {"port": 10808, "listen": "127.0.0.1", "protocol": "socks", "settings": {"udp": true}, "tag": "socks-in"},
    {"port": 10809, "listen": "127.0.0.1", "protocol": "http", "tag": "http-in"}
  ],
  )" + VlessOutbounds() + R"(,
  "dns": {"servers": ["1.1.1.1", "8.8.8.8"]},
  "routing": {"domainStrategy": "AsIs", "rules": [{"type": "field", "ip": ["192.168.0.0/16"], "outboundTag": "direct"}]}
})"},
      {"local DNS proxy on port 53 and no api section",
       R"({
  "log": {"loglevel": "warning"},
  "dns": {"servers": [{"address": "127.0.0.1", "port": 53, "domains": ["domain:corp.example"]}, "1.1.1.1"], "queryStrategy": "UseIPv4"},
  "inbounds": [
    {"tag": "socks", "port": 10808, "listen": "127.0.0.1", "protocol": "socks", "settings": {"udp": true}},
    {"tag": "http", "port": 10809, "listen": "127.0.0.1", "protocol": "http"}
  ],
  )" + VlessOutbounds() + R"(,
  "routing": {"rules": [{"type": "field", "domain": ["domain:corp.example"], "outboundTag": "direct"}]}
})"},
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
})"},
      {"empty routing object",
       R"({
  "inbounds": [{"tag": "socks", "port": 10808, "listen": "127.0.0.1", "protocol": "socks"}],
  )" + VlessOutbounds() + R"(,
  "dns": {"servers": ["1.1.1.1"]},
  "routing": {}
})"},
      {"routing object without rules",
       R"({
  "inbounds": [{"tag": "socks", "port": 10808, "listen": "127.0.0.1", "protocol": "socks"}],
  )" + VlessOutbounds() + R"(,
  "routing": {"domainStrategy": "IPIfNonMatch"}
})"},
      {"empty DNS server list",
       R"({
  "log": {"loglevel": "warning"},
  "dns": {"servers": [], "queryStrategy": "UseIP"},
  "inbounds": [{"tag": "socks", "port": 10808, "listen": "127.0.0.1", "protocol": "socks", "settings": {"udp": true}}],
  )" + VlessOutbounds() + R"(,
  "routing": {"rules": []}
})"},
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
})"},
      {"metadata lists with empty entries",
       R"({
  "zelvoraMeta": {"panelHost": "panel.example.org", "bypassSubnets": ["192.168.0.0/16", "", "10.1.0.0/16"], "directDomains": ["intranet.example.org", "", "git.example.org"], "shareProxyPorts": [1080]},
  "inbounds": [{"tag": "socks", "port": 10808, "listen": "127.0.0.1", "protocol": "socks"}],
  )" + VlessOutbounds() + R"(,
  "dns": {"servers": ["1.1.1.1", "8.8.8.8"]}
})"},
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
})"},
      {"minimal object",
       R"({
  "inbounds": [{"tag": "socks", "port": 10808, "listen": "127.0.0.1", "protocol": "socks"}],
  )" + VlessOutbounds() + R"(
})"},
  };
  return configs;
}

}  // namespace user_configs
