// The classic program list: the "Uninstall" keys that installers write.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "installed_apps/rules/entry_table.h"
#include "installed_apps/scan/session_user.h"

namespace installed_apps {

// Adds every acceptable program below `root`\`subkey` to `table`.
void ScanUninstallHive(HKEY root, const wchar_t* subkey, EntryTable& table);

// The three hives in their fixed order: machine (64-bit), machine (32-bit programs), and the
// per-user programs of `user`.
void ScanUninstallHives(EntryTable& table, const UserHive& user = {});

// Names of the subkeys of `key`, in index order; subkeys that vanish or change while the list
// is read are skipped.
std::vector<std::wstring> EnumerateSubkeyNames(HKEY key);

}  // namespace installed_apps
