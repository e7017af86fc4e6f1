#pragma once

#include <algorithm>
#include <cstddef>
#include <optional>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

namespace quorvel {

// A dictionary that remembers the order in which its keys were first inserted and drops the oldest
// keys once it holds more than `limit`. Replacing the value of a key keeps the key's age. A plain
// value with no lock: its owner guards it.
template <class Key, class Value>
class CappedStore {
 public:
  explicit CappedStore(size_t limit) : limit_(limit) {}

  // Sets the key's value; a new key becomes the youngest. Then drops the oldest keys while more
  // than `limit` remain.
  void insert(Value value, const Key& key) {
    auto [it, inserted] = entries_.insert_or_assign(key, std::move(value));
    if (inserted) order_.push_back(key);
    while (order_.size() > limit_) {
      entries_.erase(order_.front());
      order_.erase(order_.begin());
    }
  }

  // Removes the key and hands its value back; none when the key was not there.
  std::optional<Value> removeValue(const Key& key) {
    auto it = entries_.find(key);
    if (it == entries_.end()) return std::nullopt;
    std::optional<Value> removed(std::move(it->second));
    entries_.erase(it);
    order_.erase(std::find(order_.begin(), order_.end(), key));
    return removed;
  }

  // Keeps only the keys in `keys`, in their relative order.
  void retainOnly(const std::unordered_set<Key>& keys) {
    if (entries_.empty()) return;
    std::erase_if(entries_, [&](const auto& entry) { return !keys.contains(entry.first); });
    std::erase_if(order_, [&](const Key& key) { return !entries_.contains(key); });
  }

  // Empties the store, keeping its allocated room.
  void removeAll() {
    entries_.clear();
    order_.clear();
  }

  // The value of a key, or null.
  const Value* find(const Key& key) const {
    auto it = entries_.find(key);
    return it == entries_.end() ? nullptr : &it->second;
  }
  bool contains(const Key& key) const { return entries_.contains(key); }
  size_t size() const { return entries_.size(); }
  bool empty() const { return entries_.empty(); }
  size_t limit() const { return limit_; }
  // Every key, oldest insertion first.
  const std::vector<Key>& order() const { return order_; }

 private:
  size_t limit_;
  std::unordered_map<Key, Value> entries_;
  std::vector<Key> order_;
};

}  // namespace quorvel
