#include "installed_apps/scan/exe_locator.h"

#include <windows.h>

#include <climits>
#include <tuple>

#include "installed_apps/rules/name_rules.h"
#include "installed_apps/rules/path_text.h"
#include "installed_apps/rules/uninstall_rules.h"
#include "installed_apps/scan/registry_values.h"

namespace installed_apps {

bool FileExists(const std::wstring& path) {
  return !path.empty() && ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::wstring ResolveExeFromDisplayIcon(const std::wstring& display_icon) {
  const std::wstring path = StripIconIndexAndQuotes(ExpandEnv(display_icon));
  if (path.empty()) return std::wstring();
  const std::wstring lower = ToLower(path);
  if (FileExists(path) && !IsUninstallerExe(path) && EndsWith(lower, L".exe")) return path;
  if (EndsWith(lower, L".ico")) {
    const std::wstring exe = path.substr(0, path.size() - 4) + L".exe";
    if (FileExists(exe) && !IsUninstallerExe(exe)) return exe;
  }
  return std::wstring();
}

std::vector<std::wstring> SharedInstallRoots() {
  static constexpr const wchar_t* kVariables[] = {
      L"ProgramFiles",
      L"ProgramFiles(x86)",
      L"ProgramW6432",
      L"CommonProgramFiles",
      L"CommonProgramFiles(x86)",
      L"CommonProgramW6432",
      L"SystemRoot",
      L"windir",
      L"ProgramData",
      L"ALLUSERSPROFILE",
      L"PUBLIC",
      L"USERPROFILE",
      L"APPDATA",
      L"LOCALAPPDATA",
  };
  std::vector<std::wstring> roots;
  for (const wchar_t* variable : kVariables) {
    wchar_t value[MAX_PATH + 1] = {};
    const DWORD length = ::GetEnvironmentVariableW(variable, value, MAX_PATH + 1);
    if (length == 0 || length > MAX_PATH) continue;
    std::wstring root(value, length);
    roots.push_back(root);
    if (std::wstring_view(variable) == L"SystemRoot") roots.push_back(root + L"\\System32");
    if (std::wstring_view(variable) == L"LOCALAPPDATA") roots.push_back(root + L"\\Programs");
    if (std::wstring_view(variable) == L"USERPROFILE") {
      // The folder of all profiles, and the user's desktop and downloads.
      const size_t slash = root.find_last_of(L"\\/");
      if (slash != std::wstring::npos) roots.push_back(root.substr(0, slash));
      roots.push_back(root + L"\\Desktop");
      roots.push_back(root + L"\\Downloads");
    }
  }
  return roots;
}

std::wstring PickBestExe(const std::wstring& display_icon, const std::wstring& install_location,
                         const std::wstring& hint) {
  const std::vector<std::wstring> shared_roots = SharedInstallRoots();
  // Every candidate exists when it is collected: the icon's is checked, the rest were listed.
  std::vector<std::wstring> candidates;
  std::wstring from_icon = ResolveExeFromDisplayIcon(display_icon);
  const bool icon_is_auxiliary = !from_icon.empty() && IsAuxiliaryExe(from_icon, hint);
  if (!from_icon.empty()) candidates.push_back(from_icon);
  const std::wstring location = ExpandEnv(install_location);
  if (!location.empty() && !IsSharedInstallRoot(location, shared_roots)) {
    CollectInstallLocationExes(location, 0, kInstallFolderMaxDepth, candidates);
  }
  if (icon_is_auxiliary) {
    // The icon of many per-user installs is their installer, kept beside or one folder below
    // the program ("OneDrive\\24.1\\OneDriveSetup.exe" next to "OneDrive\\OneDrive.exe"). These
    // come last, so the install folder's programs win ties.
    const size_t slash = from_icon.find_last_of(L"\\/");
    const std::wstring folder = slash == std::wstring::npos ? L"" : from_icon.substr(0, slash);
    const size_t parent_slash = folder.find_last_of(L"\\/");
    const std::wstring parent =
        parent_slash == std::wstring::npos ? std::wstring() : folder.substr(0, parent_slash);
    for (const std::wstring& nearby : {folder, parent}) {
      if (!nearby.empty() && !IsSharedInstallRoot(nearby, shared_roots)) {
        CollectInstallLocationExes(nearby, 0, 0, candidates);
      }
    }
  }

  // The program itself beats anything that merely comes with it, whatever the names say;
  // then a file the program's name mentions beats one it does not (a suite's tools, a
  // locator beside an installer); among equals the higher score wins, then the file name
  // made most of the program's name ("vs_installer" over "vs_installershell"), then the first.
  struct Rank {
    bool program;
    bool named;
    int score;
    int name_share;  // letters of name words minus the file name's other letters
    bool operator>(const Rank& other) const {
      return std::tie(program, named, score, name_share) >
             std::tie(other.program, other.named, other.score, other.name_share);
    }
  };
  const auto rank_of = [&](const std::wstring& candidate) {
    const size_t letters = NameLettersInExeName(candidate, hint);
    const int stem = static_cast<int>(Basename(candidate).size()) - 4;  // without ".exe"
    return Rank{!IsAuxiliaryExe(candidate, hint), letters > 0, ScoreExeCandidate(candidate, hint),
                2 * static_cast<int>(letters) - stem};
  };
  std::wstring best;
  Rank best_rank{false, false, INT_MIN, INT_MIN};
  for (const std::wstring& candidate : candidates) {
    const Rank rank = rank_of(candidate);
    if (best.empty() || rank > best_rank) {
      best = candidate;
      best_rank = rank;
    }
  }
  const bool best_is_auxiliary = !best_rank.program;
  // Only installers, updaters, services and helpers: a runtime, a redistributable or a
  // driver package, nothing the user runs.
  if (best_is_auxiliary) return std::wstring();
  return best;
}

}  // namespace installed_apps
