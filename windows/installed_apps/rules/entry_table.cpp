#include "installed_apps/rules/entry_table.h"

#include "installed_apps/rules/name_rules.h"
#include "installed_apps/rules/path_text.h"

namespace installed_apps {

Entry* EntryTable::Find(const std::wstring& key) {
  auto found = index_.find(key);
  return found == index_.end() ? nullptr : &found->second->second;
}

bool EntryTable::Insert(const std::wstring& key, Entry entry) {
  if (index_.count(key) != 0) return false;
  nodes_.emplace_back(key, std::move(entry));
  index_.emplace(key, std::prev(nodes_.end()));
  return true;
}

void EntryTable::Erase(const std::wstring& key) {
  auto found = index_.find(key);
  if (found == index_.end()) return;
  nodes_.erase(found->second);
  index_.erase(found);
}

void UpsertEntry(EntryTable& table, Entry entry) {
  if (entry.exe_path.empty()) return;
  entry.display_name =
      SanitizeDisplayName(entry.display_name, TitleCaseExeName(Basename(entry.exe_path)));
  if (entry.display_name.empty() || IsZelvoraEntry(entry.display_name, entry.exe_path) ||
      IsJunkInstalledApp(entry.display_name, entry.exe_path)) {
    return;
  }
  const std::wstring key = ToLower(entry.exe_path);
  Entry* stored = table.Find(key);
  if (stored == nullptr) {
    table.Insert(key, std::move(entry));
    return;
  }
  if (DisplayNameQuality(entry.display_name) > DisplayNameQuality(stored->display_name)) {
    stored->display_name = std::move(entry.display_name);
  }
  if (stored->version.empty() && !entry.version.empty()) stored->version = std::move(entry.version);
  if (stored->install_date == 0 && entry.install_date != 0) {
    stored->install_date = entry.install_date;
  }
}

}  // namespace installed_apps
