#include "installed_apps/scan/uninstall_scan.h"

#include <algorithm>
#include <cstdint>
#include <mutex>
#include <unordered_map>
#include <utility>

#include "common/unique_handle.h"
#include "installed_apps/rules/path_text.h"
#include "installed_apps/rules/uninstall_rules.h"
#include "installed_apps/scan/exe_locator.h"
#include "installed_apps/scan/registry_values.h"

namespace installed_apps {
namespace {

UninstallRecord ReadUninstallRecord(HKEY key) {
  UninstallRecord r;
  r.display_name = ReadRegistryString(key, L"DisplayName");
  r.install_location = ReadRegistryString(key, L"InstallLocation");
  r.display_icon = ReadRegistryString(key, L"DisplayIcon");
  r.display_version = ReadRegistryString(key, L"DisplayVersion");
  r.parent_display_name = ReadRegistryString(key, L"ParentDisplayName");
  r.release_type = ReadRegistryString(key, L"ReleaseType");
  r.system_component = ReadRegistryDword(key, L"SystemComponent");
  r.install_date = ReadRegistryDword(key, L"InstallDate");
  r.no_modify = ReadRegistryDword(key, L"NoModify");
  r.no_repair = ReadRegistryDword(key, L"NoRepair");
  return r;
}

// Uninstall entries remembered across catalogue requests by their key's last-write time, which
// changes whenever a value of the key is set or deleted: one query per entry instead of ten.
class RecordMemory {
 public:
  UninstallRecord Read(HKEY key, const std::wstring& id) {
    FILETIME written{};
    if (::RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                           nullptr, nullptr, nullptr, &written) != ERROR_SUCCESS) {
      return ReadUninstallRecord(key);
    }
    const uint64_t stamp =
        (static_cast<uint64_t>(written.dwHighDateTime) << 32) | written.dwLowDateTime;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      auto found = records_.find(id);
      if (found != records_.end() && found->second.first == stamp) return found->second.second;
    }
    UninstallRecord record = ReadUninstallRecord(key);
    std::lock_guard<std::mutex> lock(mutex_);
    if (records_.size() >= kMaxRecords) records_.clear();  // bounded; start afresh
    records_[id] = {stamp, record};
    return record;
  }

 private:
  static constexpr size_t kMaxRecords = 8192;
  std::mutex mutex_;
  std::unordered_map<std::wstring, std::pair<uint64_t, UninstallRecord>> records_;
};

RecordMemory& RememberedRecords() {
  static RecordMemory memory;
  return memory;
}

}  // namespace

std::vector<std::wstring> EnumerateSubkeyNames(HKEY key) {
  std::vector<std::wstring> names;
  DWORD count = 0;
  DWORD longest = 0;
  if (::RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &count, &longest, nullptr, nullptr,
                         nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
    return names;
  }
  // Key names are at most 255 units; a longer reported maximum is not trusted.
  std::wstring buffer(std::max<DWORD>(longest, 255) + 1, L'\0');
  names.reserve(count);
  for (DWORD index = 0; index < count; ++index) {
    DWORD length = static_cast<DWORD>(buffer.size());
    const LSTATUS status =
        ::RegEnumKeyExW(key, index, buffer.data(), &length, nullptr, nullptr, nullptr, nullptr);
    if (status == ERROR_NO_MORE_ITEMS) break;
    if (status != ERROR_SUCCESS) continue;
    names.emplace_back(buffer.data(), length);
  }
  return names;
}

void ScanUninstallHive(HKEY root, const wchar_t* subkey, EntryTable& table) {
  // Which hive and view the entries come from is part of their identity.
  const std::wstring hive_id =
      std::to_wstring(reinterpret_cast<uintptr_t>(root)) + L"\\" + ToLower(subkey) + L"\\";
  HKEY raw = nullptr;
  if (::RegOpenKeyExW(root, subkey, 0, KEY_READ, &raw) != ERROR_SUCCESS) return;
  UniqueRegKey hive(raw);
  for (const std::wstring& name : EnumerateSubkeyNames(hive.get())) {
    HKEY raw_entry = nullptr;
    if (::RegOpenKeyExW(hive.get(), name.c_str(), 0, KEY_READ, &raw_entry) != ERROR_SUCCESS) {
      continue;
    }
    UninstallRecord record;
    {
      UniqueRegKey entry_key(raw_entry);
      record = RememberedRecords().Read(entry_key.get(), hive_id + ToLower(name));
    }
    if (ShouldSkipUninstallRecord(record)) continue;
    std::wstring exe =
        PickBestExe(record.display_icon, record.install_location, record.display_name);
    if (exe.empty() || IsUninstallerExe(exe)) continue;
    UpsertEntry(table, Entry{std::move(record.display_name), std::move(exe),
                             std::move(record.display_version), record.install_date});
  }
}

void ScanUninstallHives(EntryTable& table, const UserHive& user) {
  ScanUninstallHive(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall",
                    table);
  ScanUninstallHive(HKEY_LOCAL_MACHINE,
                    L"SOFTWARE\\WOW6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall", table);
  ScanUninstallHive(user.root,
                    user.Path(L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall").c_str(),
                    table);
}

}  // namespace installed_apps
