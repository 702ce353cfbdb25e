#include "vpn_engine/injection/config_injection.h"

#include <string_view>

#include "common/console_line.h"
#include "config_text/config_inspection.h"
#include "config_text/json_text.h"
#include "config_text/text_patterns.h"
#include "tunnel_log/tunnel_log.h"

using config_text::kNone;
using config_text::Piece;
using config_text::ValueKind;

namespace {

// The configuration keeps its own DNS block when its "servers" name at least something.
bool HasOwnDnsServers(const std::string& config) {
  const auto servers = FindDnsServersArray(config);
  return servers && !config_text::IsEmptyContainer(config, servers->begin);
}

// Gives the tunnel's servers to the configuration's DNS: amends an existing top-level "dns"
// member in place (the core reads the last member of a name, so a second "dns" in front of an
// empty one would be ignored), or, when there is none, returns the member to add at the top.
std::string PlanTunnelDns(const std::string& text, const std::vector<std::string>& tunnel_dns,
                          std::vector<config_text::Splice>* splices) {
  const std::string servers = FormatJsonStringArray(tunnel_dns);
  const std::string block = "{\"servers\":" + servers + ",\"queryStrategy\":\"UseIPv4\"}";
  const auto dns = config_text::FindTopLevelMember(text, "dns");
  if (!dns) return "\n\"dns\":" + block + ",";
  const size_t open = dns->value.begin;
  if (text[open] != '{') {
    splices->push_back({open, dns->value.end - open, block});
    return {};
  }
  std::string first_members;
  if (const auto own = config_text::FindMember(text, open, "servers")) {
    splices->push_back({own->value.begin, own->value.end - own->value.begin, servers});
  } else {
    first_members = "\"servers\":" + servers + ",";
  }
  if (!config_text::FindMember(text, open, "queryStrategy")) {
    first_members += "\"queryStrategy\":\"UseIPv4\",";
  }
  if (!first_members.empty()) {
    if (config_text::IsEmptyContainer(text, open)) first_members.pop_back();
    splices->push_back({open + 1, 0, first_members});
  }
  return {};
}

const char kApiInbound[] =
    "\n    {\n      \"tag\": \"api\",\n      \"port\": 10086,\n      \"listen\": "
    "\"127.0.0.1\",\n      \"protocol\": \"dokodemo-door\",\n      \"settings\": { \"address\": "
    "\"127.0.0.1\" }\n    },";

// A TUN inbound the configuration brings itself, however its members are spaced.
bool HasTunInbound(const std::string& config) { return HasInboundProtocol(config, "tun"); }

// Xray's own TUN inbound, ending with its separating comma.
std::string TunInboundText(const std::vector<std::string>& dns) {
  std::string dns_items;
  if (dns.empty()) {
    dns_items = "\"9.9.9.9\",\"149.112.112.112\"";
  } else {
    const std::string array = FormatJsonStringArray(dns);
    dns_items = array.substr(1, array.size() - 2);
  }
  return "    {\n"
         "      \"tag\": \"tun-in\",\n"
         "      \"protocol\": \"tun\",\n"
         "      \"settings\": {\n"
         "        \"name\": \"Zelvora\",\n"
         "        \"desc\": \"Zelvora\",\n"
         "        \"mtu\": 1500,\n"
         "        \"gateway\": [\"10.0.85.1/24\"],\n"
         "        \"dns\": [" +
         dns_items +
         "],\n"
         "        \"autoSystemRoutingTable\": [\"0.0.0.0/0\", \"::/0\"],\n"
         "        \"autoOutboundsInterface\": \"auto\"\n"
         "      },\n"
         "      \"sniffing\": {\n"
         "        \"enabled\": true,\n"
         "        \"destOverride\": [\"http\", \"tls\", \"quic\"]\n"
         "      }\n"
         "    },";
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

std::string InjectVpnConfig(const VpnInjectionInputs& inputs, std::vector<std::string>* dns_servers,
                            const std::string& config, const ExeFolderLister& lister) {
  *dns_servers = ExtractDnsServers(config);
  const std::vector<std::string> tunnel_dns = GetTunnelDnsServers(*dns_servers);
  const std::string server_host = ExtractServerAddress(config);

  // Every step decides on the application's text and records its change as a splice; the
  // changes never touch what a later step looks at, and applying them all at once costs one
  // copy of the text instead of one shift of it per insertion.
  std::vector<config_text::Splice> splices = ListenOnIpv4LoopbackSplices(config);
  // Members for the top of the object, in the order they are decided; each later one ends up
  // in front of the earlier ones.
  std::vector<std::string> top_members;
  if (config_text::FindLiteral(config, "\"stats\"", 0, false) == std::string::npos) {
    top_members.push_back("\n\"stats\": {},");
  }
  if (config_text::FindLiteral(config, "\"policy\"", 0, false) == std::string::npos) {
    top_members.push_back(
        "\n\"policy\": { \"system\": { \"statsOutboundUplink\": true, \"statsOutboundDownlink\": "
        "true } },");
  }
  if (config_text::FindLiteral(config, "\"api\"", 0, false) == std::string::npos) {
    top_members.push_back("\n\"api\": { \"tag\": \"api\", \"services\": [\"StatsService\"] },");
  }
  const bool keep_dns = HasOwnDnsServers(config);
  if (!keep_dns) {
    std::string dns_member = PlanTunnelDns(config, tunnel_dns, &splices);
    if (!dns_member.empty()) top_members.push_back(std::move(dns_member));
  }
  std::string joined;
  for (size_t i = 0; i < tunnel_dns.size(); ++i) joined += (i > 0 ? "/" : "") + tunnel_dns[i];
  TunnelLogWrite(
      "OS DNS=" + joined +
      (keep_dns ? "; Xray DNS kept from Flutter/server" : "; Xray DNS injected as OS list"));

  std::vector<std::string> direct_hosts;
  if (!inputs.panelHost.empty()) direct_hosts.push_back(inputs.panelHost);
  direct_hosts.insert(direct_hosts.end(), inputs.directDomains.begin(), inputs.directDomains.end());
  if (auto routing =
          PlanRoutingRules(config, server_host, direct_hosts, inputs.blockedApps, lister)) {
    if (routing->new_top_member) {
      top_members.push_back(std::move(routing->splice.insert));
    } else {
      splices.push_back(std::move(routing->splice));
    }
    ConsoleLine("VPN Service: Added routing rules - VPN server (" + server_host +
                ") + app panel -> direct, all other -> proxy");
    if (!inputs.blockedApps.empty()) {
      TunnelLogWrite("Xray process bypass rules: " + std::to_string(inputs.blockedApps.size()));
    }
    TunnelLogWrite("Xray routing rules injected (api/stats + bypass)");
  } else {
    TunnelLogWrite("WARNING: failed to inject Xray routing rules (stats will be 0)");
  }

  // The API inbound goes first in "inbounds", ahead of the TUN inbound.
  std::string first_inbounds;
  const size_t inbounds = config_text::FindLiteral(config, "\"inbounds\"", 0, false);
  const size_t inbounds_open =
      inbounds == std::string::npos ? std::string::npos : config.find('[', inbounds);
  if (inbounds_open != std::string::npos &&
      config_text::FindLiteral(config, "dokodemo-door", 0, false) == std::string::npos) {
    first_inbounds += kApiInbound;
  }
  if (!inputs.blockedApps.empty()) {
    if (inbounds_open != std::string::npos && !HasTunInbound(config)) {
      first_inbounds += "\n" + TunInboundText(tunnel_dns);
    }
    TunnelLogWrite("split-tunnel: Xray native TUN inbound injected (per-process bypass)");
  }
  if (!first_inbounds.empty()) {
    // Into an empty array the last item goes without its separating comma.
    if (config_text::IsEmptyContainer(config, inbounds_open)) first_inbounds.pop_back();
    splices.push_back({inbounds_open + 1, 0, std::move(first_inbounds)});
  }

  const size_t brace = config.find('{');
  if (brace != std::string::npos && !top_members.empty()) {
    std::string top;
    for (auto member = top_members.rbegin(); member != top_members.rend(); ++member) top += *member;
    if (config_text::IsEmptyContainer(config, brace)) top.pop_back();
    splices.push_back({brace + 1, 0, std::move(top)});
  }
  return config_text::ApplySplices(config, std::move(splices));
}
