#include "vpn_engine/injection/server_name_pin.h"

#include <optional>
#include <string_view>

#include "config_text/json_members.h"
#include "config_text/json_text.h"
#include "vpn_engine/dns_protection/netsh_text_rules.h"

namespace {

using config_text::FindMember;
using config_text::Splice;
using config_text::ValueSpan;

// Whether the object at `object` names `host` as a server of its "settings" (VLESS and VMess
// "vnext", Trojan and Shadowsocks "servers").
bool NamesServer(std::string_view text, size_t object, const std::string& host) {
  const auto settings = FindMember(text, object, "settings");
  if (!settings || text[settings->value.begin] != '{') return false;
  bool found = false;
  for (const char* list : {"vnext", "servers"}) {
    const auto servers = FindMember(text, settings->value.begin, list);
    if (!servers) continue;
    config_text::ForEachElement(text, servers->value.begin, [&](const ValueSpan& server) {
      if (text[server.begin] != '{') return true;
      const auto address = FindMember(text, server.begin, "address");
      if (address && config_text::StringContent(text, address->value) == std::string_view(host)) {
        found = true;
      }
      return !found;
    });
  }
  return found;
}

// The splice that makes the outbound at `object` resolve its server with the core's own DNS.
std::optional<Splice> ResolveWithOwnDns(std::string_view text, size_t object) {
  constexpr const char* kStrategy = "\"domainStrategy\": \"UseIPv4\"";
  const auto stream = FindMember(text, object, "streamSettings");
  if (!stream) {
    return Splice{object + 1, 0,
                  std::string("\"streamSettings\": {\"sockopt\": {") + kStrategy + "}},"};
  }
  if (text[stream->value.begin] != '{') return std::nullopt;
  const size_t stream_open = stream->value.begin;
  const auto sockopt = FindMember(text, stream_open, "sockopt");
  if (!sockopt) {
    const std::string comma = config_text::IsEmptyContainer(text, stream_open) ? "" : ",";
    return Splice{stream_open + 1, 0, std::string("\"sockopt\": {") + kStrategy + "}" + comma};
  }
  if (text[sockopt->value.begin] != '{') return std::nullopt;
  const size_t sockopt_open = sockopt->value.begin;
  if (const auto strategy = FindMember(text, sockopt_open, "domainStrategy")) {
    const auto value = config_text::StringContent(text, strategy->value);
    // Any strategy but "AsIs" already resolves with the core's own DNS.
    if (value && *value != "AsIs" && *value != "asis") return std::nullopt;
    return Splice{strategy->value.begin, strategy->value.end - strategy->value.begin,
                  "\"UseIPv4\""};
  }
  const std::string comma = config_text::IsEmptyContainer(text, sockopt_open) ? "" : ",";
  return Splice{sockopt_open + 1, 0, std::string(kStrategy) + comma};
}

}  // namespace

std::string PinServerName(const std::string& config, const std::string& host,
                          const std::vector<std::string>& addresses) {
  if (host.empty() || addresses.empty() || IsDottedIpv4Server(host) || IsIpv6ServerText(host) ||
      host.find_first_of("\"\\") != std::string::npos) {
    return config;
  }
  const std::string_view text(config);
  const auto dns = config_text::FindTopLevelMember(text, "dns");
  const auto outbounds = config_text::FindTopLevelMember(text, "outbounds");
  if (!dns || text[dns->value.begin] != '{' || !outbounds) return config;

  std::vector<Splice> splices;
  config_text::ForEachElement(text, outbounds->value.begin, [&](const ValueSpan& outbound) {
    if (text[outbound.begin] != '{' || !NamesServer(text, outbound.begin, host)) return true;
    if (auto splice = ResolveWithOwnDns(text, outbound.begin)) splices.push_back(*splice);
    return true;
  });
  if (splices.empty()) return config;

  std::string entry = "\"" + host + "\": [";
  for (size_t i = 0; i < addresses.size(); ++i) {
    entry += (i > 0 ? ", \"" : "\"") + addresses[i] + "\"";
  }
  entry += "]";
  const size_t dns_open = dns->value.begin;
  const auto hosts = FindMember(text, dns_open, "hosts");
  if (hosts && text[hosts->value.begin] == '{') {
    // The core reads the last of two equal keys, so a pin the user made stays theirs.
    const std::string comma = config_text::IsEmptyContainer(text, hosts->value.begin) ? "" : ",";
    splices.push_back({hosts->value.begin + 1, 0, entry + comma});
  } else if (!hosts) {
    const std::string comma = config_text::IsEmptyContainer(text, dns_open) ? "" : ",";
    splices.push_back({dns_open + 1, 0, "\"hosts\": {" + entry + "}" + comma});
  } else {
    return config;  // a "hosts" that is not an object: left as the user wrote it
  }
  return config_text::ApplySplices(text, std::move(splices));
}
