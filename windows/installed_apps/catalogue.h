// The installed-apps list: classic uninstall entries and Store packages, merged, with
// versions and PNG icons.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "installed_apps/app_info.h"
#include "installed_apps/rules/entry_table.h"
#include "installed_apps/scan/store_scan.h"

namespace installed_apps {

using IconExtractor = std::function<std::vector<uint8_t>(const std::wstring& path)>;

// Replaceable steps, so tests can stand in for PowerShell and the shell.
struct CatalogueHooks {
  ScriptRunner run_store_script;  // default: PowerShell
  IconExtractor extract_icon;     // default: ExtractFileIconPng, cached per unchanged file
  // The session user's SID when it is not the account the app runs as; default:
  // OtherSessionUserSid.
  std::function<std::wstring()> session_user_sid;
};

struct CatalogueResult {
  std::vector<AppInfo> apps;
  size_t classic = 0;
  size_t store = 0;
  size_t collapsed = 0;
  size_t skipped_no_icon = 0;
};

// The list in table order; entries without a version get the executable's own, entries
// without an icon are left out and counted. A stand-in extractor is always asked and what it
// answers never cached.
std::vector<AppInfo> BuildResult(EntryTable& table, const IconExtractor& extract_icon = {},
                                 size_t* skipped_no_icon = nullptr);

// Everything "getInstalledApps" answers, with its log lines.
CatalogueResult RunCatalogue(const CatalogueHooks& hooks = {});

// One executable for "getAppInfo": its file name as the name, no version, and the icon when
// wanted and available.
AppInfo BuildAppInfoMap(const std::wstring& path, bool with_icon);

}  // namespace installed_apps
