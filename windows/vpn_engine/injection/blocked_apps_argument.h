// Takes the bypass list out of a start or restart call's argument map for EmbedBlockedAppsMeta.
#pragma once

#include <flutter/encodable_value.h>

#include <string>

#include "config_text/config_meta.h"

// Null map: no arguments. Otherwise "blocked_apps" when it is a list, with its string
// elements in order (other element types are left out).
BlockedAppsArgument BlockedAppsArgumentFromMap(const flutter::EncodableMap* arguments);

// EmbedBlockedAppsMeta for the plug-in's method calls.
std::string EmbedBlockedAppsMeta(const std::string& config, const flutter::EncodableMap* arguments);
