#include "vpn_engine/injection/routing_rules.h"

#include <map>

#include "config_text/json_members.h"
#include "config_text/json_text.h"
#include "config_text/text_patterns.h"

namespace {

std::string DirectRule(const std::string& kind, const std::string& value) {
  return "    {\n      \"type\": \"field\",\n      \"" + kind + "\": [\"" + value +
         "\"],\n      \"outboundTag\": \"direct\"\n    },\n";
}

std::string HostRule(const std::string& host) {
  return DirectRule(config_text::IsDottedQuad(host) ? "ip" : "domain", host);
}

// Browsers and messengers start helper processes whose traffic must bypass the tunnel too.
const std::map<std::string, std::vector<std::string>>& CompanionTable() {
  static const std::map<std::string, std::vector<std::string>> table = {
      {"firefox.exe", {"firefox.exe", "plugin-container.exe"}},
      {"msedge.exe", {"msedge.exe", "msedge_proxy.exe", "msedgewebview2.exe"}},
      {"chrome.exe", {"chrome.exe", "chrome_proxy.exe", "chrome_pwa_launcher.exe"}},
      {"brave.exe", {"brave.exe", "brave_proxy.exe"}},
      {"opera.exe", {"opera.exe"}},
      {"vivaldi.exe", {"vivaldi.exe"}},
      {"discord.exe", {"discord.exe", "discordptb.exe", "discordcanary.exe"}},
      {"steam.exe", {"steam.exe", "steamwebhelper.exe"}},
      {"whatsapp.exe", {"whatsapp.exe"}},
      {"telegram.exe", {"telegram.exe"}},
      {"spotify.exe", {"spotify.exe"}},
  };
  return table;
}

void Take(const std::string& name, TakenNames* taken, std::vector<std::string>* names) {
  if (taken->insert(name).second) names->push_back(name);
}

bool IsHelperExecutable(const std::string& lower) {
  return lower.compare(0, 5, "unins") == 0 || lower.find("uninstall") != std::string::npos ||
         lower == "setup.exe" || lower == "update.exe" ||
         lower.find("updater") != std::string::npos ||
         lower.find("crashpad") != std::string::npos ||
         lower.find("notification_helper") != std::string::npos;
}

}  // namespace

void CollectStoreAppExecutables(const std::string& entry, TakenNames* taken,
                                std::vector<std::string>* names, const ExeFolderLister& lister) {
  if (!lister) return;
  if (config_text::FindLiteral(entry, "\\windowsapps\\", 0, true) == std::string::npos) return;
  const size_t slash = entry.find_last_of("\\/");
  if (slash == std::string::npos) return;
  for (const std::string& file : lister(entry.substr(0, slash))) {
    const std::string lower = config_text::AsciiLowerCopy(file);
    if (taken->count(lower) != 0 || IsHelperExecutable(lower)) continue;
    Take(lower, taken, names);
  }
}

std::string BuildDirectRules(const std::vector<std::string>& hosts) {
  std::string rules;
  for (const std::string& host : hosts) {
    if (!host.empty()) rules += HostRule(host);
  }
  return rules;
}

std::string BuildProcessBypassRules(const std::vector<std::string>& blocked_apps,
                                    const ExeFolderLister& lister) {
  // A hashed set and one output buffer keep long bypass lists linear.
  TakenNames taken;
  taken.reserve(blocked_apps.size() * 2);
  std::vector<std::string> names;
  for (const std::string& entry : blocked_apps) {
    if (entry.empty()) continue;
    const size_t slash = entry.find_last_of("\\/");
    const std::string base = config_text::AsciiLowerCopy(
        slash == std::string::npos ? std::string_view(entry)
                                   : std::string_view(entry).substr(slash + 1));
    const auto row = CompanionTable().find(base);
    if (row != CompanionTable().end()) {
      for (const std::string& name : row->second) Take(name, &taken, &names);
    } else {
      Take(base, &taken, &names);
    }
    CollectStoreAppExecutables(entry, &taken, &names, lister);
  }
  constexpr std::string_view kHead = "    {\n      \"type\": \"field\",\n      \"process\": [\"";
  constexpr std::string_view kTail = "\"],\n      \"outboundTag\": \"direct\"\n    },\n";
  size_t size = 0;
  for (const std::string& name : names) size += kHead.size() + name.size() + kTail.size();
  std::string rules;
  rules.reserve(size);
  for (const std::string& name : names) {
    rules += kHead;
    rules += name;
    rules += kTail;
  }
  return rules;
}

std::optional<RoutingPlan> PlanRoutingRules(const std::string& config,
                                            const std::string& server_host,
                                            const std::vector<std::string>& direct_hosts,
                                            const std::vector<std::string>& blocked_apps,
                                            const ExeFolderLister& lister) {
  if (server_host.empty() && direct_hosts.empty() && blocked_apps.empty()) return std::nullopt;

  std::string block =
      "    {\n      \"type\": \"field\",\n      \"inboundTag\": [\"api\"],\n      "
      "\"outboundTag\": \"api\"\n    },\n";
  if (!server_host.empty()) block += HostRule(server_host);
  block += BuildDirectRules(direct_hosts);
  if (!blocked_apps.empty()) {
    block +=
        "    {\n      \"type\": \"field\",\n      \"process\": [\"self/\", \"xray/\", "
        "\"zel_vora/\", \"zelvora_tunnel_service/\"],\n      \"outboundTag\": \"direct\"\n    },\n";
    block += BuildProcessBypassRules(blocked_apps, lister);
  }
  // Everything else, the tunnel's DNS servers included, goes through the proxy: a name query
  // that came through the tunnel never leaves the machine in cleartext.
  block +=
      "    {\n      \"type\": \"field\",\n      \"network\": \"tcp,udp\",\n      "
      "\"outboundTag\": \"proxy\"\n    },\n";
  // The block ends with a comma; where nothing follows it, the comma goes (erased in place: it
  // stands near the end, so nothing long moves).
  const auto drop_last_comma = [&block]() { block.erase(block.rfind(','), 1); };

  const auto routing = config_text::FindTopLevelMember(config, "routing");
  if (!routing) {
    const size_t brace = config.find('{');
    if (brace == std::string::npos) return std::nullopt;
    drop_last_comma();
    return RoutingPlan{
        true,
        {brace + 1, 0,
         "\n\"routing\": {\n  \"domainStrategy\": \"IPIfNonMatch\",\n  \"rules\": [\n" + block +
             "  ]\n},"}};
  }
  const size_t object = routing->value.begin;
  if (config[object] != '{') return std::nullopt;
  if (const auto rules = config_text::FindMember(config, object, "rules")) {
    const size_t open = rules->value.begin;
    if (config[open] != '[') return std::nullopt;
    // An array that is still empty gets the block without its trailing comma.
    if (config_text::IsEmptyContainer(config, open)) drop_last_comma();
    block.insert(block.begin(), '\n');
    return RoutingPlan{false, {open + 1, 0, std::move(block)}};
  }
  // A routing object without rules ("routing": {} included) gets them as its first member.
  const std::string separator = config_text::IsEmptyContainer(config, object) ? "" : ",";
  drop_last_comma();
  return RoutingPlan{false, {object + 1, 0, "\n  \"rules\": [\n" + block + "  ]" + separator}};
}

bool InjectRoutingRules(std::string& config, const std::string& server_host,
                        const std::vector<std::string>& direct_hosts,
                        const std::vector<std::string>& blocked_apps,
                        const ExeFolderLister& lister) {
  const auto plan = PlanRoutingRules(config, server_host, direct_hosts, blocked_apps, lister);
  if (!plan) return false;
  if (plan->new_top_member) {
    config_text::InsertAfterFirstBrace(config, plan->splice.insert);
  } else {
    config.insert(plan->splice.pos, plan->splice.insert);
  }
  return true;
}
