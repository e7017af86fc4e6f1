#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace quorvel {

// A table from 32-bit ids (window numbers, card ids) to a 64-bit value, kept in one flat block with
// open addressing: one allocation for the table, none per entry. Sized up front for the ids the
// caller means to add; adding more than that grows it (one more allocation each time it doubles).
// A plain value, for one thread at a time.
class IdTable {
 public:
  IdTable() = default;
  // Room for `capacity` ids without growing.
  explicit IdTable(size_t capacity);

  // Adds `id` with `value` when absent and returns true; a present id keeps its value (false).
  bool insert(uint32_t id, int64_t value);
  // Sets the value of `id`, adding it when absent.
  void assign(uint32_t id, int64_t value);

  std::optional<int64_t> find(uint32_t id) const;
  int64_t valueOr(uint32_t id, int64_t missing) const;
  bool contains(uint32_t id) const { return find(id).has_value(); }
  size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }

 private:
  struct Slot {
    uint32_t id = 0;
    bool used = false;
    int64_t value = 0;
  };

  // The slot holding `id`, or the free slot where it belongs; the table must have a free slot.
  size_t slotOf(uint32_t id) const;
  void reserveSlots(size_t slots);

  std::vector<Slot> slots_;
  unsigned shift_ = 64;
  size_t size_ = 0;
};

}  // namespace quorvel
