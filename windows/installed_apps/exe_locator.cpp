#include "installed_apps/exe_locator.h"

#include <windows.h>

#include <climits>
#include <cstdint>
#include <mutex>
#include <optional>
#include <unordered_map>

#include "common/unique_handle.h"
#include "installed_apps/name_rules.h"
#include "installed_apps/path_text.h"
#include "installed_apps/registry_values.h"
#include "installed_apps/uninstall_rules.h"

namespace installed_apps {
namespace {

// Calls `fn` for every entry that matches `pattern`.
template <typename Fn>
void ForEachFile(const std::wstring& pattern, Fn&& fn) {
  WIN32_FIND_DATAW data{};
  UniqueFindHandle search(::FindFirstFileW(pattern.c_str(), &data));
  if (!search) return;
  do {
    fn(data);
  } while (::FindNextFileW(search.get(), &data));
}

}  // namespace

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

namespace {

// A folder's last-write time; nothing when it is not a folder.
std::optional<uint64_t> FolderStamp(const std::wstring& folder) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!::GetFileAttributesExW(folder.c_str(), GetFileExInfoStandard, &data) ||
      !(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
    return std::nullopt;
  }
  return (static_cast<uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) |
         data.ftLastWriteTime.dwLowDateTime;
}

struct VisitedFolder {
  std::wstring path;
  uint64_t stamp;
};

void Walk(const std::wstring& folder, int depth, int max_depth, std::vector<std::wstring>& out,
          std::vector<VisitedFolder>& visited) {
  if (folder.empty() || depth > max_depth || out.size() >= kMaxInstallFolderExes) return;
  std::wstring prefix = folder;
  if (prefix.back() != L'\\') prefix += L'\\';
  // Taken before the listing, so a change made while it runs shows next time.
  const std::optional<uint64_t> stamp = FolderStamp(prefix);
  if (!stamp) return;
  visited.push_back({prefix, *stamp});
  // One listing serves both the folder's programs and its subfolders: under Wine every
  // listing is a round trip to the server, and the walk runs for every installed program.
  std::vector<std::wstring> subfolders;
  ForEachFile(prefix + L"*", [&](const WIN32_FIND_DATAW& data) {
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      if (depth < max_depth && ShouldEnterInstallSubfolder(data.cFileName)) {
        subfolders.emplace_back(data.cFileName);
      }
      return;
    }
    if (out.size() >= kMaxInstallFolderExes) return;
    std::wstring path = prefix + data.cFileName;
    if (IsValidAppExePath(path) && !IsUninstallerExe(path)) out.push_back(std::move(path));
  });
  for (const std::wstring& name : subfolders) {
    if (out.size() >= kMaxInstallFolderExes) return;
    Walk(prefix + name, depth + 1, max_depth, out, visited);
  }
}

// Walks remembered across catalogue requests. Listing folders is the slow part of the scan,
// and the same folders are walked on every request. A folder's last-write time changes
// whenever an entry is added to, removed from or renamed in it, so a walk whose folders all
// kept their times finds the same files again and can be replayed.
class WalkMemory {
 public:
  bool Replay(const std::wstring& key, std::vector<std::wstring>& out) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto found = walks_.find(key);
    if (found == walks_.end()) return false;
    for (const VisitedFolder& folder : found->second.folders) {
      const std::optional<uint64_t> stamp = FolderStamp(folder.path);
      if (!stamp || *stamp != folder.stamp) {
        walks_.erase(found);
        return false;
      }
    }
    out.insert(out.end(), found->second.exes.begin(), found->second.exes.end());
    return true;
  }

  void Remember(const std::wstring& key, std::vector<VisitedFolder> folders,
                std::vector<std::wstring> exes) {
    std::lock_guard<std::mutex> lock(mutex_);
    // Bounded: a machine has a few hundred programs; past the bound start afresh.
    if (walks_.size() >= kMaxWalks) walks_.clear();
    walks_[key] = Remembered{std::move(folders), std::move(exes)};
  }

 private:
  static constexpr size_t kMaxWalks = 4096;
  struct Remembered {
    std::vector<VisitedFolder> folders;
    std::vector<std::wstring> exes;
  };
  std::mutex mutex_;
  std::unordered_map<std::wstring, Remembered> walks_;
};

WalkMemory& RememberedWalks() {
  static WalkMemory memory;
  return memory;
}

}  // namespace

void CollectInstallLocationExes(const std::wstring& folder, int depth, int max_depth,
                                std::vector<std::wstring>& out) {
  if (folder.empty() || depth > max_depth || out.size() >= kMaxInstallFolderExes) return;
  // The same folder walked with another depth or room left gives another result.
  const std::wstring key = ToLower(folder) + L"|" + std::to_wstring(depth) + L"|" +
                           std::to_wstring(max_depth) + L"|" + std::to_wstring(out.size());
  if (RememberedWalks().Replay(key, out)) return;
  const size_t before = out.size();
  std::vector<VisitedFolder> visited;
  Walk(folder, depth, max_depth, out, visited);
  if (!visited.empty()) {
    RememberedWalks().Remember(
        key, std::move(visited),
        std::vector<std::wstring>(out.begin() + static_cast<std::ptrdiff_t>(before), out.end()));
  }
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
  const bool icon_is_auxiliary = !from_icon.empty() && IsAuxiliaryExe(from_icon);
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
  // among equals the higher score wins, and the first of equal scores.
  std::wstring best;
  bool best_is_auxiliary = true;
  int best_score = INT_MIN;
  for (const std::wstring& candidate : candidates) {
    const bool auxiliary = IsAuxiliaryExe(candidate);
    const int score = ScoreExeCandidate(candidate, hint);
    if (best.empty() || (best_is_auxiliary && !auxiliary) ||
        (auxiliary == best_is_auxiliary && score > best_score)) {
      best = candidate;
      best_is_auxiliary = auxiliary;
      best_score = score;
    }
  }
  // Only installers, updaters, services and helpers: a runtime, a redistributable or a
  // driver package, nothing the user runs.
  if (best_is_auxiliary) return std::wstring();
  return best;
}

}  // namespace installed_apps
