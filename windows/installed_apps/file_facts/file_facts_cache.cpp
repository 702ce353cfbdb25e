#include "installed_apps/file_facts/file_facts_cache.h"

#include "installed_apps/rules/path_text.h"

namespace installed_apps {

size_t FileFactsCache::Weight(const Slot& slot) {
  size_t weight = slot.key.size() * sizeof(wchar_t) + sizeof(Slot);
  if (slot.facts.version) weight += slot.facts.version->size() * sizeof(wchar_t);
  if (slot.facts.icon) weight += slot.facts.icon->size();
  return weight;
}

FileFactsCache::Slot& FileFactsCache::SlotFor(const FileStamp& stamp) {
  const std::wstring key = ToLower(stamp.path);
  auto found = index_.find(key);
  if (found != index_.end()) {
    Slot& slot = *found->second;
    bytes_ -= Weight(slot);
    if (slot.size != stamp.size || slot.modified != stamp.modified) {
      slot = Slot{key, stamp.size, stamp.modified, {}};
    }
    order_.splice(order_.begin(), order_, found->second);
    bytes_ += Weight(order_.front());
    return order_.front();
  }
  order_.push_front(Slot{key, stamp.size, stamp.modified, {}});
  index_.emplace(key, order_.begin());
  bytes_ += Weight(order_.front());
  return order_.front();
}

void FileFactsCache::Trim() {
  // The newest slot always stays, even when it alone passes the byte bound.
  while (order_.size() > 1 && (order_.size() > max_entries_ || bytes_ > max_bytes_)) {
    bytes_ -= Weight(order_.back());
    index_.erase(order_.back().key);
    order_.pop_back();
  }
}

FileFacts FileFactsCache::Find(const FileStamp& stamp) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto found = index_.find(ToLower(stamp.path));
  if (found == index_.end()) return {};
  const Slot& slot = *found->second;
  if (slot.size != stamp.size || slot.modified != stamp.modified) return {};
  order_.splice(order_.begin(), order_, found->second);
  return slot.facts;
}

void FileFactsCache::StoreVersion(const FileStamp& stamp, std::wstring version) {
  std::lock_guard<std::mutex> lock(mutex_);
  Slot& slot = SlotFor(stamp);
  bytes_ -= Weight(slot);
  slot.facts.version = std::move(version);
  bytes_ += Weight(slot);
  Trim();
}

void FileFactsCache::StoreIcon(const FileStamp& stamp, std::vector<uint8_t> icon) {
  std::lock_guard<std::mutex> lock(mutex_);
  Slot& slot = SlotFor(stamp);
  bytes_ -= Weight(slot);
  slot.facts.icon = std::move(icon);
  bytes_ += Weight(slot);
  Trim();
}

size_t FileFactsCache::entries() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return order_.size();
}

size_t FileFactsCache::bytes() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return bytes_;
}

}  // namespace installed_apps
