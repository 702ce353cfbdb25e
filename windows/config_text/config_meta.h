// The plug-in's own metadata inside the configuration text: the per-application bypass list
// ("__zelvora_blocked_apps") and the application's "zelvoraMeta" object. Xray must never see
// either member, so they are read and cut out before the text goes anywhere else.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct ConfigMeta {
  std::string panelHost;
  std::vector<std::string> bypassSubnets;
  std::vector<std::string> blockedApps;  // as written between the quotes, JSON escapes kept
  std::vector<std::string> directDomains;
  std::vector<uint32_t> shareProxyPorts;
};

// Reads both metadata members and removes them from `config`.
ConfigMeta ExtractConfigMeta(std::string& config);

// 1 to 253 bytes of ASCII letters, digits, '*', '-', '.', ':' and '_'.
bool IsValidHostToken(const std::string& token);

// Removes the member whose key starts at `key_pos`, together with one separating comma, so the
// surrounding object stays valid JSON. Leaves the text alone when the member cannot be
// delimited.
void RemoveJsonMember(std::string& text, size_t key_pos);

// The bypass list of a start or restart call, already taken out of the call's arguments:
// null when the call had no argument map, otherwise the string items of its "blocked_apps"
// list (other element types dropped by the adapter).
struct BlockedAppsArgument {
  bool has_arguments = false;
  bool has_list = false;  // "blocked_apps" present and a list
  std::vector<std::string> items;
};

// Puts the bypass list first in the top-level object as "__zelvora_blocked_apps".
std::string EmbedBlockedAppsMeta(const std::string& config, const BlockedAppsArgument& argument);
