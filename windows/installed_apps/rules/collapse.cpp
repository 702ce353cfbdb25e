#include "installed_apps/rules/collapse.h"

#include <algorithm>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "installed_apps/rules/name_rules.h"
#include "installed_apps/rules/path_text.h"

namespace installed_apps {
namespace {

bool IsVersionTail(std::wstring_view tail) {
  if (tail.empty() || tail.find(L'.') == std::wstring_view::npos) return false;
  return std::all_of(tail.begin(), tail.end(), [](wchar_t c) {
    return c == L'+' || c == L'-' || c == L'.' || (c >= L'0' && c <= L'9');
  });
}

void RemoveKeys(EntryTable& table, const std::vector<std::wstring>& keys) {
  for (const std::wstring& key : keys) table.Erase(key);
}

}  // namespace

std::wstring NormalizeNameForCollapse(std::wstring_view name) {
  std::wstring text = TrimBlanks(ToLower(name));
  for (std::wstring_view suffix : {L"(64-bit)", L"(32-bit)", L"x64", L"x86", L"amd64"}) {
    if (EndsWith(text, suffix)) {
      text = TrimTrailingBlanks(std::wstring_view(text).substr(0, text.size() - suffix.size()));
    }
  }
  for (;;) {
    const size_t space = text.find_last_of(L' ');
    if (space == std::wstring::npos) break;
    if (!IsVersionTail(std::wstring_view(text).substr(space + 1))) break;
    text = TrimTrailingBlanks(std::wstring_view(text).substr(0, space));
  }
  return text;
}

int PreferenceScore(const Entry& entry) {
  int score = ScoreExeCandidate(entry.exe_path, entry.display_name);
  if (IsWindowsAppsPath(entry.exe_path)) score += 25;
  if (!entry.version.empty()) score += 3;
  if (entry.install_date != 0) score += 1;
  return score;
}

bool DisplayNamesCompatibleForBasenameMerge(const Entry& a, const Entry& b) {
  const std::wstring left = NormalizeNameForCollapse(a.display_name);
  const std::wstring right = NormalizeNameForCollapse(b.display_name);
  if (left.empty() || right.empty()) return false;
  if (left == right) return true;
  if (left.size() < 4 || right.size() < 4) return false;
  return StartsWith(left, right) || StartsWith(right, left);
}

void CollapseByDisplayName(EntryTable& table) {
  struct Winner {
    const EntryTable::Node* node;
    int score;
  };
  std::unordered_map<std::wstring, Winner> winners;
  for (const EntryTable::Node& node : table) {
    const std::wstring name = NormalizeNameForCollapse(node.second.display_name);
    if (name.empty()) continue;
    const int score = PreferenceScore(node.second);
    auto found = winners.find(name);
    if (found == winners.end()) {
      winners.emplace(name, Winner{&node, score});
      continue;
    }
    Winner& winner = found->second;
    if (score > winner.score ||
        (score == winner.score && DisplayNameQuality(node.second.display_name) >
                                      DisplayNameQuality(winner.node->second.display_name))) {
      winner = Winner{&node, score};
    }
  }
  std::unordered_set<const EntryTable::Node*> kept;
  for (const auto& [name, winner] : winners) kept.insert(winner.node);
  std::vector<std::wstring> removed;
  for (const EntryTable::Node& node : table) {
    if (kept.count(&node) == 0) removed.push_back(node.first);
  }
  RemoveKeys(table, removed);
}

void CollapseByExeBasename(EntryTable& table) {
  std::unordered_map<std::wstring, const EntryTable::Node*> winners;
  std::unordered_set<const EntryTable::Node*> removed;
  const auto merit = [](const Entry& e) {
    return PreferenceScore(e) + DisplayNameQuality(e.display_name);
  };
  for (const EntryTable::Node& node : table) {
    const std::wstring base = ToLower(Basename(node.second.exe_path));
    auto found = winners.find(base);
    if (found == winners.end()) {
      winners.emplace(base, &node);
      continue;
    }
    const EntryTable::Node* winner = found->second;
    // Different programs may ship an executable of the same name; only merge when the names
    // agree too.
    if (!DisplayNamesCompatibleForBasenameMerge(node.second, winner->second)) continue;
    if (merit(node.second) > merit(winner->second)) {
      removed.insert(winner);
      found->second = &node;
    } else {
      removed.insert(&node);
    }
  }
  std::vector<std::wstring> keys;
  for (const EntryTable::Node& node : table) {
    if (removed.count(&node) != 0) keys.push_back(node.first);
  }
  RemoveKeys(table, keys);
}

}  // namespace installed_apps
