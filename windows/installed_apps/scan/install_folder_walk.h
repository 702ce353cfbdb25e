// The walk of a program's install folder for its executables, bounded in depth and count,
// and remembered across catalogue requests while the folders stay unchanged.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace installed_apps {

// Bounds of the install-folder walk: installers leave deep trees and thousands of files.
inline constexpr int kInstallFolderMaxDepth = 2;
inline constexpr size_t kMaxInstallFolderExes = 64;

// Appends the non-uninstaller executables of `folder` and, up to `max_depth` levels below, of
// its subfolders (not "$"-prefixed) to `out`, stopping at kMaxInstallFolderExes.
void CollectInstallLocationExes(const std::wstring& folder, int depth, int max_depth,
                                std::vector<std::wstring>& out);

}  // namespace installed_apps
