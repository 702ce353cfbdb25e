// Which classic "Uninstall" registry entries describe a program the user would pick, and how
// their DisplayIcon text names a file. Pure decisions; the registry reads live elsewhere.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

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

// True when `folder` is a drive root or one of `shared_roots` (Program Files, the Windows
// folder, the user profile...): folders that hold many vendors' programs. A broken
// InstallLocation naming one must not be walked, or another product's executable (and with it
// that product's name) is taken. Letter case, "/" and trailing separators do not matter.
bool IsSharedInstallRoot(std::wstring_view folder, const std::vector<std::wstring>& shared_roots);

}  // namespace installed_apps
