#include "installed_apps/catalogue.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <optional>
#include <thread>

#include "common/com_apartment.h"
#include "common/text_encoding.h"
#include "installed_apps/file_facts/exe_version.h"
#include "installed_apps/file_facts/file_facts_cache.h"
#include "installed_apps/file_facts/icon_png.h"
#include "installed_apps/rules/collapse.h"
#include "installed_apps/rules/name_rules.h"
#include "installed_apps/rules/path_text.h"
#include "installed_apps/scan/uninstall_scan.h"
#include "tunnel_log/log_message.h"
#include "tunnel_log/tunnel_log.h"

namespace installed_apps {

namespace {

// Up to this many threads read versions and icons; the shell and GDI+ serve each thread on
// its own, and most of the time is spent waiting for files and the shell, not computing.
constexpr unsigned kMaxFactWorkers = 4;
// Below this many files a second thread costs more than it saves.
constexpr size_t kFilesPerExtraWorker = 16;

// Icons of 32 to 256 pixels make PNGs of a few KB; a few thousand programs fit well inside.
FileFactsCache& SharedFileFactsCache() {
  static FileFactsCache cache(4096, 32u * 1024 * 1024);
  return cache;
}

std::optional<FileStamp> StampOf(const std::wstring& path) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (path.empty() || !::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) {
    return std::nullopt;
  }
  FileStamp stamp;
  stamp.path = path;
  stamp.size = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  stamp.modified = (static_cast<uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) |
                   data.ftLastWriteTime.dwLowDateTime;
  return stamp;
}

struct Facts {
  Entry* entry;
  std::vector<uint8_t> icon;
};

// Fills the entry's missing version and its icon, from the cache when the file is unchanged.
// A stand-in extractor (tests) is always asked and never cached.
void GatherFacts(Facts& item, const IconExtractor& extract_icon) {
  Entry& entry = *item.entry;
  const std::optional<FileStamp> stamp = StampOf(entry.exe_path);
  FileFacts known;
  if (stamp) known = SharedFileFactsCache().Find(*stamp);
  if (entry.version.empty()) {
    if (known.version) {
      entry.version = *known.version;
    } else {
      entry.version = ReadExeFileVersion(entry.exe_path);
      if (stamp) SharedFileFactsCache().StoreVersion(*stamp, entry.version);
    }
  }
  if (extract_icon) {
    item.icon = extract_icon(entry.exe_path);
  } else if (known.icon) {
    item.icon = std::move(*known.icon);
  } else {
    item.icon = ExtractFileIconPng(entry.exe_path);
    if (stamp) SharedFileFactsCache().StoreIcon(*stamp, item.icon);
  }
}

void GatherAllFacts(std::vector<Facts>& items, const IconExtractor& extract_icon) {
  std::atomic<size_t> next{0};
  const auto work = [&]() {
    // One apartment for the whole run of this thread, not one per icon.
    zelvora::ScopedComApartment com(zelvora::ScopedComApartment::Threading::kSingle);
    for (size_t i = next++; i < items.size(); i = next++) {
      try {
        GatherFacts(items[i], extract_icon);
      } catch (...) {
        items[i].icon.clear();  // counted as an entry without an icon
      }
    }
  };
  const unsigned hardware = std::max(1u, std::thread::hardware_concurrency());
  const size_t wanted =
      std::min<size_t>({kMaxFactWorkers, hardware, 1 + items.size() / kFilesPerExtraWorker});
  std::vector<std::thread> helpers;
  for (size_t i = 1; i < wanted; ++i) {
    try {
      helpers.emplace_back(work);
    } catch (...) {
      break;  // fewer threads, same result
    }
  }
  work();
  for (std::thread& helper : helpers) helper.join();
}

}  // namespace

std::vector<AppInfo> BuildResult(EntryTable& table, const IconExtractor& extract_icon,
                                 size_t* skipped_no_icon) {
  if (!extract_icon) EnsureGdiplusStarted();  // once, before threads race to it
  std::vector<Facts> items;
  items.reserve(table.size());
  table.ForEachMutable([&](Entry& entry) { items.push_back(Facts{&entry, {}}); });
  GatherAllFacts(items, extract_icon);

  std::vector<AppInfo> apps;
  apps.reserve(items.size());
  size_t skipped = 0;
  for (Facts& item : items) {
    if (item.icon.empty()) {
      ++skipped;
      continue;
    }
    const Entry& entry = *item.entry;
    AppInfo app;
    app.name = WideToUtf8(entry.display_name);
    app.package_name = WideToUtf8(entry.exe_path);
    app.version_name = WideToUtf8(entry.version);
    app.installed_timestamp = static_cast<int32_t>(entry.install_date);
    app.icon = std::move(item.icon);
    apps.push_back(std::move(app));
  }
  TunnelLogWrite("[plugin] getInstalledApps: curated list=" + std::to_string(apps.size()) +
                 " skipped_no_version=0 skipped_no_icon=" + std::to_string(skipped));
  if (skipped_no_icon) *skipped_no_icon = skipped;
  return apps;
}

CatalogueResult RunCatalogue(const CatalogueHooks& hooks) {
  CatalogueResult result;
  const UserHive user =
      HiveOfUser(hooks.session_user_sid ? hooks.session_user_sid() : OtherSessionUserSid());
  if (!user.sid.empty())
    LogMessage("getInstalledApps: per-user programs of " + WideToUtf8(user.sid));
  EntryTable table;
  ScanUninstallHives(table, user);
  result.classic = table.size();
  ScanMicrosoftStorePackages(table, hooks.run_store_script, user);
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
