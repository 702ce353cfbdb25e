// Finding the executable that represents an installed program from what its uninstall entry
// or package folder tells: the DisplayIcon text and the install folder.
#pragma once

#include <string>
#include <vector>

#include "installed_apps/scan/install_folder_walk.h"

namespace installed_apps {

// The executable the DisplayIcon names (the ".exe" beside a named ".ico" too), or empty.
std::wstring ResolveExeFromDisplayIcon(const std::wstring& display_icon);

// Folders that hold many vendors' programs, from this process's environment: Program Files
// (both), Common Files, the Windows and System32 folders, ProgramData, the profiles folder,
// the user's profile, desktop, downloads and application data folders.
std::vector<std::wstring> SharedInstallRoots();

// The existing candidate that best fits `hint`: the DisplayIcon's executable first, then
// those of the install folder (never walked when it is a shared root); the first of equal
// scores wins, and the program itself always beats installers, updaters and helpers. When the
// icon names such a helper, its folder and the folder above are searched too. Empty when
// nothing exists or every candidate is such a helper.
std::wstring PickBestExe(const std::wstring& display_icon, const std::wstring& install_location,
                         const std::wstring& hint);

bool FileExists(const std::wstring& path);

}  // namespace installed_apps
