#pragma once

#include <cstddef>
#include <cstdint>
#include <unordered_map>
#include <utility>
#include <vector>

#include "pictures/ChromeTexture.h"

namespace quorvel {

// A bounded table of plate textures that evicts in order of first insertion, but never a plate
// in use: one looked up, or drawn because it was asked for, since the current use began (a summon).
// While a use holds more plates than the bound the table grows past it; the plates of earlier uses
// leave as new ones arrive. Without this a frame that shows more plates than the bound keeps
// drawing a plate, evicting another it still shows and asking for that one again.
//
// Not thread-safe: its owner guards it with its own lock.
template <class Key>
class PlateTable {
 public:
  explicit PlateTable(size_t bound) : bound_(bound) {}

  // The stored plate, marked as in use by the current use.
  ChromeTextureRef find(const Key& key) {
    auto it = entries_.find(key);
    if (it == entries_.end()) return nullptr;
    it->second.usedIn = use_;
    return it->second.texture;
  }
  bool contains(const Key& key) const { return entries_.contains(key); }

  // Sets the plate (a replaced key keeps its place in the order), in use by the current use when
  // `inUse`, then evicts the oldest plates not in use while the table is over its bound; each
  // evicted key is handed to `evicted`.
  template <class Evicted>
  void store(const Key& key, ChromeTextureRef texture, bool inUse, Evicted&& evicted) {
    auto [it, inserted] = entries_.try_emplace(key);
    it->second.texture = std::move(texture);
    if (inUse) it->second.usedIn = use_;
    if (inserted) order_.push_back(key);
    size_t i = 0;
    while (entries_.size() > bound_ && i < order_.size()) {
      auto entry = entries_.find(order_[i]);
      if (entry != entries_.end() && entry->second.usedIn == use_) {
        ++i;
        continue;
      }
      Key gone = std::move(order_[i]);
      order_.erase(order_.begin() + static_cast<long>(i));
      entries_.erase(gone);
      evicted(gone);
    }
  }

  // A new use begins: the plates of earlier uses may be evicted again.
  void beginUse() { ++use_; }

  // Removes every plate keeping the storage.
  void clear() {
    entries_.clear();
    order_.clear();
  }
  size_t size() const { return entries_.size(); }
  const std::vector<Key>& order() const { return order_; }

 private:
  struct Entry {
    ChromeTextureRef texture;
    uint64_t usedIn = 0;
  };
  size_t bound_;
  uint64_t use_ = 1;
  std::unordered_map<Key, Entry> entries_;
  std::vector<Key> order_;
};

}  // namespace quorvel
