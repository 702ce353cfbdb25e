// Routing rules the engine puts in front of the configuration's own: the API route, the proxy
// server, the panel and chosen hosts, the bypassed applications and the tunnel's DNS servers go
// direct; everything else goes to the "proxy" outbound.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "config_text/json_text.h"

// Lists the names of the regular "*.exe" files of a folder (UTF-8 path in, UTF-8 names out).
// The Windows side gives the real folder listing; tests give a fake.
using ExeFolderLister = std::function<std::vector<std::string>(const std::string& folder)>;

// Adds the other executables of a Store application's folder (`entry` under \WindowsApps\),
// lower-cased, skipping names already taken and uninstallers, setup/update programs, updaters,
// crash handlers and notification helpers.
// Lower-case executable names already given a rule.
using TakenNames = std::unordered_set<std::string>;

void CollectStoreAppExecutables(const std::string& entry, TakenNames* taken,
                                std::vector<std::string>* names, const ExeFolderLister& lister);

// One "direct" rule per non-empty host: "ip" for a dotted quad, else "domain".
std::string BuildDirectRules(const std::vector<std::string>& hosts);
// One "direct" process rule per executable name derived from the bypass list.
std::string BuildProcessBypassRules(const std::vector<std::string>& blocked_apps,
                                    const ExeFolderLister& lister);

// Where the rule block goes: a new top-level "routing" member (to go just after the top
// object's '{'; `splice.pos` is that place) or a splice into the configuration's own routing
// object. Nothing when there is nothing to route or no place to put it.
struct RoutingPlan {
  bool new_top_member = false;
  config_text::Splice splice;
};
std::optional<RoutingPlan> PlanRoutingRules(const std::string& config,
                                            const std::string& server_host,
                                            const std::vector<std::string>& direct_hosts,
                                            const std::vector<std::string>& blocked_apps,
                                            const ExeFolderLister& lister);

// Inserts the rule block into `config`; false (text unchanged) when there is nothing to route
// or no place to put it.
bool InjectRoutingRules(std::string& config, const std::string& server_host,
                        const std::vector<std::string>& direct_hosts,
                        const std::vector<std::string>& blocked_apps,
                        const ExeFolderLister& lister);
