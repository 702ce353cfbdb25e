// The catalogue's working set: one Entry per executable, in the order the scans found them.
#pragma once

#include <cstdint>
#include <list>
#include <string>
#include <unordered_map>
#include <utility>

namespace installed_apps {

struct Entry {
  std::wstring display_name;
  std::wstring exe_path;  // handed back by the application as the process to bypass
  std::wstring version;
  uint32_t install_date = 0;  // the registry's DWORD InstallDate, 0 when not recorded
};

// Entries keyed by the ASCII-lower-cased executable path. Iteration follows insertion order,
// so the list the user sees keeps the scans' order (hives first, then Store packages).
class EntryTable {
 public:
  using Node = std::pair<std::wstring, Entry>;  // key, entry
  using const_iterator = std::list<Node>::const_iterator;

  size_t size() const { return nodes_.size(); }
  bool empty() const { return nodes_.empty(); }
  const_iterator begin() const { return nodes_.begin(); }
  const_iterator end() const { return nodes_.end(); }

  Entry* Find(const std::wstring& key);
  // Appends when the key is new; returns false (and changes nothing) when it exists.
  bool Insert(const std::wstring& key, Entry entry);
  void Erase(const std::wstring& key);
  // Gives write access to every entry in order (versions are filled in late).
  template <typename Fn>
  void ForEachMutable(Fn&& fn) {
    for (Node& node : nodes_) fn(node.second);
  }

 private:
  std::list<Node> nodes_;
  std::unordered_map<std::wstring, std::list<Node>::iterator> index_;
};

// The one way into the table: cleans the name (falling back to the executable's file name),
// drops the plug-in's own app and junk, and merges an executable seen twice, keeping the
// better name and filling a missing version or install date.
void UpsertEntry(EntryTable& table, Entry entry);

}  // namespace installed_apps
