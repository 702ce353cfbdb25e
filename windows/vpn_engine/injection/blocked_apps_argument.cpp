#include "vpn_engine/injection/blocked_apps_argument.h"

BlockedAppsArgument BlockedAppsArgumentFromMap(const flutter::EncodableMap* arguments) {
  BlockedAppsArgument argument;
  if (arguments == nullptr) return argument;
  argument.has_arguments = true;
  const auto entry = arguments->find(flutter::EncodableValue(std::string("blocked_apps")));
  if (entry == arguments->end()) return argument;
  const auto* list = std::get_if<flutter::EncodableList>(&entry->second);
  if (list == nullptr) return argument;
  argument.has_list = true;
  for (const flutter::EncodableValue& element : *list) {
    if (const auto* text = std::get_if<std::string>(&element)) argument.items.push_back(*text);
  }
  return argument;
}

std::string EmbedBlockedAppsMeta(const std::string& config,
                                 const flutter::EncodableMap* arguments) {
  return EmbedBlockedAppsMeta(config, BlockedAppsArgumentFromMap(arguments));
}
