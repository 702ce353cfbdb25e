// What the list needs from each executable (its version resource and its icon as PNG) is slow
// to read and the app asks for the whole list every time the user opens the picker. This cache
// keeps both per file, keyed by path, size and modification time, so an unchanged file is read
// once per process and a changed or replaced one is read again. Memory is bounded.
#pragma once

#include <cstddef>
#include <cstdint>
#include <list>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace installed_apps {

// Identifies one state of one file: the same path with another size or time is another file.
struct FileStamp {
  std::wstring path;  // compared without ASCII letter case
  uint64_t size = 0;
  uint64_t modified = 0;  // FILETIME ticks
};

struct FileFacts {
  std::optional<std::wstring> version;       // read when asked for
  std::optional<std::vector<uint8_t>> icon;  // PNG bytes, empty when the file has none
};

class FileFactsCache {
 public:
  // Bounds: entries, and bytes of icons and versions together.
  FileFactsCache(size_t max_entries, size_t max_bytes)
      : max_entries_(max_entries), max_bytes_(max_bytes) {}

  // The facts known for this state of the file (nothing when the file changed since).
  FileFacts Find(const FileStamp& stamp);
  // Adds what was learnt; the least recently used files go when a bound is passed.
  void StoreVersion(const FileStamp& stamp, std::wstring version);
  void StoreIcon(const FileStamp& stamp, std::vector<uint8_t> icon);

  size_t entries() const;
  size_t bytes() const;

 private:
  struct Slot {
    std::wstring key;
    uint64_t size;
    uint64_t modified;
    FileFacts facts;
  };
  using Order = std::list<Slot>;

  Slot& SlotFor(const FileStamp& stamp);  // under lock; fresh when absent or stale
  static size_t Weight(const Slot& slot);
  void Trim();  // under lock

  const size_t max_entries_;
  const size_t max_bytes_;
  mutable std::mutex mutex_;
  Order order_;  // most recently used first
  std::unordered_map<std::wstring, Order::iterator> index_;
  size_t bytes_ = 0;
};

}  // namespace installed_apps
