#include "vpn_engine/injection/core_dns_hosts.h"

#include <algorithm>
#include <optional>
#include <string_view>

#include "config_text/config_inspection.h"
#include "config_text/json_members.h"
#include "vpn_engine/dns_protection/netsh_text_rules.h"

namespace {

struct Port53Host {
  std::string host;
  bool ipv6 = false;
};

// The host of one server address when the core sends plain DNS to it on port 53.
std::optional<Port53Host> HostOnPort53(std::string_view address, std::optional<uint32_t> port) {
  for (const std::string_view scheme : {"udp://", "tcp://", "tcp+local://", "udp+local://"}) {
    if (address.substr(0, scheme.size()) == scheme) {
      address.remove_prefix(scheme.size());
      break;
    }
  }
  if (address.find("://") != std::string_view::npos) return std::nullopt;  // DoH, QUIC...
  std::string_view host = address;
  if (!host.empty() && host.front() == '[') {  // [2001:db8::1]:53
    const size_t close = host.find(']');
    if (close == std::string_view::npos) return std::nullopt;
    const std::string_view rest = host.substr(close + 1);
    host = host.substr(1, close - 1);
    if (!rest.empty()) {
      if (rest != ":53") return std::nullopt;
    }
  } else if (std::count(host.begin(), host.end(), ':') == 1) {  // 8.8.8.8:53
    const size_t colon = host.find(':');
    if (host.substr(colon + 1) != "53") return std::nullopt;
    host = host.substr(0, colon);
  }
  if (port && *port != 53) return std::nullopt;
  if (IsDottedIpv4Server(host)) return Port53Host{std::string(host), false};
  if (IsIpv6ServerText(host)) return Port53Host{std::string(host), true};
  return std::nullopt;
}

std::optional<uint32_t> NumberValue(std::string_view text, const config_text::ValueSpan& value) {
  uint32_t number = 0;
  const std::string_view digits = value.Of(text);
  if (digits.empty() || digits.size() > 5) return std::nullopt;
  for (const char c : digits) {
    if (c < '0' || c > '9') return std::nullopt;
    number = number * 10 + static_cast<uint32_t>(c - '0');
  }
  return number;
}

std::vector<Port53Host> Port53Hosts(const std::string& config) {
  std::vector<Port53Host> hosts;
  const auto servers = FindDnsServersArray(config);
  if (!servers) return hosts;
  const std::string_view text(config);
  config_text::ForEachElement(text, servers->begin, [&](const config_text::ValueSpan& element) {
    std::optional<std::string_view> address;
    std::optional<uint32_t> port;
    if (text[element.begin] == '{') {
      if (const auto member = config_text::FindMember(text, element.begin, "address")) {
        address = config_text::StringContent(text, member->value);
      }
      if (const auto member = config_text::FindMember(text, element.begin, "port")) {
        port = NumberValue(text, member->value);
        if (!port) port = 0;  // not a plain number: not port 53
      }
    } else {
      address = config_text::StringContent(text, element);
    }
    if (address) {
      if (auto host = HostOnPort53(*address, port)) {
        const bool known = std::any_of(hosts.begin(), hosts.end(),
                                       [&](const Port53Host& h) { return h.host == host->host; });
        if (!known) hosts.push_back(std::move(*host));
      }
    }
    return true;
  });
  return hosts;
}

}  // namespace

std::vector<std::string> CoreDnsPort53Hosts(const std::string& config) {
  std::vector<std::string> hosts;
  for (const Port53Host& host : Port53Hosts(config)) {
    if (!host.ipv6) hosts.push_back(host.host);
  }
  return hosts;
}
