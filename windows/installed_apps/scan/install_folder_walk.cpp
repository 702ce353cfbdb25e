#include "installed_apps/scan/install_folder_walk.h"

#include <windows.h>

#include <cstdint>
#include <mutex>
#include <optional>
#include <unordered_map>

#include "common/unique_handle.h"
#include "installed_apps/rules/path_text.h"
#include "installed_apps/rules/uninstall_rules.h"

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

}  // namespace installed_apps
