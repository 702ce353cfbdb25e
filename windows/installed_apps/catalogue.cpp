#include "installed_apps/catalogue.h"

#include "common/text_encoding.h"
#include "installed_apps/collapse.h"
#include "installed_apps/exe_version.h"
#include "installed_apps/icon_png.h"
#include "installed_apps/name_rules.h"
#include "installed_apps/path_text.h"
#include "installed_apps/uninstall_scan.h"
#include "tunnel_log/log_message.h"
#include "tunnel_log/tunnel_log.h"

namespace installed_apps {

std::vector<AppInfo> BuildResult(EntryTable& table, const IconExtractor& extract_icon,
                                 size_t* skipped_no_icon) {
  std::vector<AppInfo> apps;
  apps.reserve(table.size());
  size_t skipped = 0;
  table.ForEachMutable([&](Entry& entry) {
    if (entry.version.empty()) entry.version = ReadExeFileVersion(entry.exe_path);
    std::vector<uint8_t> icon =
        extract_icon ? extract_icon(entry.exe_path) : ExtractFileIconPng(entry.exe_path);
    if (icon.empty()) {
      ++skipped;
      return;
    }
    AppInfo app;
    app.name = WideToUtf8(entry.display_name);
    app.package_name = WideToUtf8(entry.exe_path);
    app.version_name = WideToUtf8(entry.version);
    app.installed_timestamp = static_cast<int32_t>(entry.install_date);
    app.icon = std::move(icon);
    apps.push_back(std::move(app));
  });
  TunnelLogWrite("[plugin] getInstalledApps: curated list=" + std::to_string(apps.size()) +
                 " skipped_no_version=0 skipped_no_icon=" + std::to_string(skipped));
  if (skipped_no_icon) *skipped_no_icon = skipped;
  return apps;
}

CatalogueResult RunCatalogue(const CatalogueHooks& hooks) {
  CatalogueResult result;
  EntryTable table;
  ScanUninstallHives(table);
  result.classic = table.size();
  ScanMicrosoftStorePackages(table, hooks.run_store_script);
  const size_t scanned = table.size();
  result.store = scanned - result.classic;
  CollapseByDisplayName(table);
  CollapseByExeBasename(table);
  result.collapsed = scanned - table.size();
  result.apps = BuildResult(table, hooks.extract_icon, &result.skipped_no_icon);
  LogMessage("getInstalledApps: found " + std::to_string(result.apps.size()) + " apps (classic=" +
             std::to_string(result.classic) + " store=" + std::to_string(result.store) +
             " collapsed=" + std::to_string(result.collapsed) + ")");
  return result;
}

AppInfo BuildAppInfoMap(const std::wstring& path, bool with_icon) {
  AppInfo app;
  app.name = WideToUtf8(TitleCaseExeName(Basename(path)));
  app.package_name = WideToUtf8(path);
  if (with_icon) {
    std::vector<uint8_t> icon = ExtractFileIconPng(path);
    if (!icon.empty()) app.icon = std::move(icon);
  }
  return app;
}

}  // namespace installed_apps
