// Small text and path helpers shared by every catalogue rule. Paths and names are UTF-16;
// comparisons fold only ASCII A-Z, the way the registry and file names are matched elsewhere
// in the catalogue, so results never depend on the user's locale.
#pragma once

#include <string>
#include <string_view>

namespace installed_apps {

// Text after the last '\' or '/'; the whole text when there is none.
std::wstring Basename(std::wstring_view path);
// Folds A-Z to a-z and leaves every other code unit alone.
std::wstring ToLower(std::wstring_view text);

bool StartsWith(std::wstring_view text, std::wstring_view prefix);
bool EndsWith(std::wstring_view text, std::wstring_view suffix);
bool Contains(std::wstring_view text, std::wstring_view needle);

// Removes spaces and tabs at the end (and at the start for TrimBlanks).
std::wstring TrimTrailingBlanks(std::wstring_view text);
std::wstring TrimBlanks(std::wstring_view text);

// Non-empty and ends with ".exe" in any letter case.
bool IsValidAppExePath(std::wstring_view path);
// Lies somewhere below a "\WindowsApps\" folder (Store packages).
bool IsWindowsAppsPath(std::wstring_view path);
// Lies below the Windows folders that hold system packages.
bool IsSystemAppxPath(std::wstring_view path);
// Uninstallers, setup and update programs never represent the application; an empty path
// counts as one so callers can treat "nothing" and "wrong thing" alike.
bool IsUninstallerExe(std::wstring_view path);

}  // namespace installed_apps
