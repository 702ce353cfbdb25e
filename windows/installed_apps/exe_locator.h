// Finding the executable that represents an installed program from what its uninstall entry
// or package folder tells: the DisplayIcon text and the install folder.
#pragma once

#include <string>
#include <vector>

namespace installed_apps {

// Bounds of the install-folder walk: installers leave deep trees and thousands of files.
inline constexpr int kInstallFolderMaxDepth = 2;
inline constexpr size_t kMaxInstallFolderExes = 64;

// The executable the DisplayIcon names (the ".exe" beside a named ".ico" too), or empty.
std::wstring ResolveExeFromDisplayIcon(const std::wstring& display_icon);

// Appends the non-uninstaller executables of `folder` and, up to `max_depth` levels below, of
// its subfolders (not "$"-prefixed) to `out`, stopping at kMaxInstallFolderExes.
void CollectInstallLocationExes(const std::wstring& folder, int depth, int max_depth,
                                std::vector<std::wstring>& out);

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
