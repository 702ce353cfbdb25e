// Applications installed from the Microsoft Store: a PowerShell listing of the user's
// packages, or the per-user package repository in the registry when that yields nothing.
#pragma once

#include <functional>
#include <string>

#include "installed_apps/rules/entry_table.h"
#include "installed_apps/scan/session_user.h"

namespace installed_apps {

// Runs the script file and returns its standard output (the listing itself goes to the file
// named by "ZELVORA_APPX_OUT").
using ScriptRunner = std::function<std::string(const std::wstring& script_path)>;

// Adds the Store applications of `user` to `table`. `run_script` defaults to running the
// system folder's Windows PowerShell; the script lists the packages of the user named by
// "ZELVORA_APPX_USER" (a SID), or of %USERNAME% when that is unset.
void ScanMicrosoftStorePackages(EntryTable& table, const ScriptRunner& run_script = {},
                                const UserHive& user = {});
// The PowerShell half alone; the table grows by what it accepted.
void ScanMicrosoftStorePackagesViaPowerShell(EntryTable& table, const ScriptRunner& run_script,
                                             const UserHive& user = {});
// The registry half alone.
void ScanStorePackageRepository(EntryTable& table, const UserHive& user = {});

// The executable the package manifest declares, else the best one in the package folder.
// Paths under WindowsApps count even when they cannot be read (the folder usually denies the
// user a listing).
std::wstring ResolveAppxExecutable(const std::wstring& location, const std::wstring& hint);
std::wstring ParseAppxManifestExecutable(const std::wstring& location);

// The whole file without a leading UTF-8 byte order mark; empty when it cannot be read or is
// implausibly large.
std::string ReadTextFileUtf8(const std::wstring& path);

}  // namespace installed_apps
