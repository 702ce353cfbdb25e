#include "installed_apps/exe_locator.h"

#include <windows.h>

#include <climits>

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

void CollectInstallLocationExes(const std::wstring& folder, int depth, int max_depth,
                                std::vector<std::wstring>& out) {
  if (folder.empty() || depth > max_depth || out.size() >= kMaxInstallFolderExes) return;
  std::wstring prefix = folder;
  if (prefix.back() != L'\\') prefix += L'\\';
  ForEachFile(prefix + L"*.exe", [&](const WIN32_FIND_DATAW& data) {
    if (out.size() >= kMaxInstallFolderExes) return;
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return;
    std::wstring path = prefix + data.cFileName;
    if (!IsUninstallerExe(path)) out.push_back(std::move(path));
  });
  if (depth >= max_depth || out.size() >= kMaxInstallFolderExes) return;
  ForEachFile(prefix + L"*", [&](const WIN32_FIND_DATAW& data) {
    if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) return;
    if (!ShouldEnterInstallSubfolder(data.cFileName)) return;
    CollectInstallLocationExes(prefix + data.cFileName, depth + 1, max_depth, out);
  });
}

std::wstring PickBestExe(const std::wstring& display_icon, const std::wstring& install_location,
                         const std::wstring& hint) {
  std::vector<std::wstring> candidates;
  std::wstring from_icon = ResolveExeFromDisplayIcon(display_icon);
  if (!from_icon.empty()) candidates.push_back(std::move(from_icon));
  CollectInstallLocationExes(ExpandEnv(install_location), 0, kInstallFolderMaxDepth, candidates);

  std::wstring best;
  int best_score = INT_MIN;
  for (const std::wstring& candidate : candidates) {
    if (!FileExists(candidate)) continue;
    const int score = ScoreExeCandidate(candidate, hint);
    if (score > best_score) {
      best_score = score;
      best = candidate;
    }
  }
  return best;
}

}  // namespace installed_apps
