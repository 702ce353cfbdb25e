// Which classic "Uninstall" registry entries describe a program the user would pick, and how
// their DisplayIcon text names a file. Pure decisions; the registry reads live elsewhere.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace installed_apps {

// The values of one Uninstall subkey that the decision needs (absent strings are empty,
// absent DWORDs 0).
struct UninstallRecord {
  std::wstring display_name;
  std::wstring install_location;
  std::wstring display_icon;
  std::wstring display_version;
  std::wstring parent_display_name;
  std::wstring release_type;
  uint32_t system_component = 0;
  uint32_t install_date = 0;
  uint32_t no_modify = 0;
  uint32_t no_repair = 0;
};

// True for unnamed entries, system components, child entries (updates of another product),
// updates, hotfixes and service packs, and entries that give no hint of where the program is.
bool ShouldSkipUninstallRecord(const UninstallRecord& record);

// Turns an (already environment-expanded) DisplayIcon text into a path: drops the icon index
// after the last comma and one pair of surrounding double quotes.
std::wstring StripIconIndexAndQuotes(std::wstring_view icon);

// Folders an install-location walk enters: not "." or "..", and not "$"-prefixed (installer
// backup and patch caches hold old copies of the executables).
bool ShouldEnterInstallSubfolder(std::wstring_view name);

}  // namespace installed_apps
