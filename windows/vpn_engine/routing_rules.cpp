#include "vpn_engine/routing_rules.h"

#include <map>

#include "vpn_engine/json_members.h"
#include "vpn_engine/json_text.h"
#include "vpn_engine/text_patterns.h"

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

void Take(const std::string& name, std::set<std::string>* taken, std::vector<std::string>* names) {
  if (taken->insert(name).second) names->push_back(name);
}

bool IsHelperExecutable(const std::string& lower) {
  return lower.compare(0, 5, "unins") == 0 || lower.find("uninstall") != std::string::npos ||
         lower == "setup.exe" || lower == "update.exe" ||
         lower.find("updater") != std::string::npos ||
         lower.find("crashpad") != std::string::npos ||
         lower.find("notification_helper") != std::string::npos;
}

// Inserts `block` after the '[' at `open`; an array that is still empty gets the block without
// its trailing comma, or the result would not be valid JSON.
void InsertIntoArray(std::string& text, size_t open, const std::string& lead, std::string block) {
  size_t next = open + 1;
  while (next < text.size() && config_text::IsJsonBlank(text[next])) ++next;
  if (next < text.size() && text[next] == ']') {
    const size_t comma = block.rfind(',');
    if (comma != std::string::npos) block.erase(comma, 1);
  }
  text.insert(open + 1, lead + block);
}

}  // namespace

void CollectStoreAppExecutables(const std::string& entry, std::set<std::string>* taken,
                                std::vector<std::string>* names, const ExeFolderLister& lister) {
  if (!lister) return;
  if (config_text::AsciiLowerCopy(entry).find("\\windowsapps\\") == std::string::npos) return;
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
  std::set<std::string> taken;
  std::vector<std::string> names;
  for (const std::string& entry : blocked_apps) {
    if (entry.empty()) continue;
    const size_t slash = entry.find_last_of("\\/");
    const std::string base =
        config_text::AsciiLowerCopy(slash == std::string::npos ? entry : entry.substr(slash + 1));
    const auto row = CompanionTable().find(base);
    if (row != CompanionTable().end()) {
      for (const std::string& name : row->second) Take(name, &taken, &names);
    } else {
      Take(base, &taken, &names);
    }
    CollectStoreAppExecutables(entry, &taken, &names, lister);
  }
  std::string rules;
  for (const std::string& name : names) {
    rules += "    {\n      \"type\": \"field\",\n      \"process\": [\"" + name +
             "\"],\n      \"outboundTag\": \"direct\"\n    },\n";
  }
  return rules;
}

bool InjectRoutingRules(std::string& config, const std::string& server_host,
                        const std::vector<std::string>& direct_hosts,
                        const std::vector<std::string>& blocked_apps,
                        const std::vector<std::string>& dns_servers,
                        const ExeFolderLister& lister) {
  if (server_host.empty() && direct_hosts.empty() && blocked_apps.empty()) return false;

  std::string dns_list;
  const std::vector<std::string> fallback = {"9.9.9.9", "149.112.112.112"};
  const std::vector<std::string>& dns = dns_servers.empty() ? fallback : dns_servers;
  for (size_t i = 0; i < dns.size() && i < 4; ++i) {
    if (i > 0) dns_list += ", ";
    dns_list += "\"" + dns[i] + "\"";
  }

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
  block += "    {\n      \"type\": \"field\",\n      \"ip\": [" + dns_list +
           "],\n      \"outboundTag\": \"direct\"\n    },\n    {\n      \"type\": \"field\",\n   "
           "   \"network\": \"tcp,udp\",\n      \"outboundTag\": \"proxy\"\n    },\n";
  std::string block_without_comma = block;
  block_without_comma.erase(block_without_comma.rfind(','), 1);

  const auto routing = config_text::FindTopLevelMember(config, "routing");
  if (!routing) {
    return config_text::InsertAfterFirstBrace(
        config, "\n\"routing\": {\n  \"domainStrategy\": \"IPIfNonMatch\",\n  \"rules\": [\n" +
                    block_without_comma + "  ]\n},");
  }
  const size_t object = routing->value.begin;
  if (config[object] != '{') return false;
  if (const auto rules = config_text::FindMember(config, object, "rules")) {
    if (config[rules->value.begin] != '[') return false;
    InsertIntoArray(config, rules->value.begin, "\n", block);
    return true;
  }
  // A routing object without rules ("routing": {} included) gets them as its first member.
  const std::string separator = config_text::IsEmptyContainer(config, object) ? "" : ",";
  config.insert(object + 1, "\n  \"rules\": [\n" + block_without_comma + "  ]" + separator);
  return true;
}
