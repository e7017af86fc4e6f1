#include "windows/IdTable.h"

#include <bit>
#include <utility>

namespace quorvel {

IdTable::IdTable(size_t capacity) {
  if (capacity > 0) reserveSlots(std::bit_ceil(capacity * 2));
}

void IdTable::reserveSlots(size_t slots) {
  std::vector<Slot> old = std::exchange(slots_, std::vector<Slot>(slots));
  shift_ = 64 - static_cast<unsigned>(std::countr_zero(slots));
  for (const Slot& slot : old) {
    if (slot.used) slots_[slotOf(slot.id)] = slot;
  }
}

size_t IdTable::slotOf(uint32_t id) const {
  // Fibonacci hashing: the top bits of the product spread consecutive ids over the table.
  const size_t mask = slots_.size() - 1;
  size_t i = static_cast<size_t>((static_cast<uint64_t>(id) * 0x9E3779B97F4A7C15ull) >> shift_);
  while (slots_[i].used && slots_[i].id != id) i = (i + 1) & mask;
  return i;
}

bool IdTable::insert(uint32_t id, int64_t value) {
  // At most half full, so every probe ends at a free slot soon.
  if ((size_ + 1) * 2 > slots_.size()) reserveSlots(slots_.empty() ? 8 : slots_.size() * 2);
  Slot& slot = slots_[slotOf(id)];
  if (slot.used) return false;
  slot = Slot{id, true, value};
  ++size_;
  return true;
}

void IdTable::assign(uint32_t id, int64_t value) {
  if (!insert(id, value)) slots_[slotOf(id)].value = value;
}

std::optional<int64_t> IdTable::find(uint32_t id) const {
  if (size_ == 0) return std::nullopt;
  const Slot& slot = slots_[slotOf(id)];
  if (!slot.used) return std::nullopt;
  return slot.value;
}

int64_t IdTable::valueOr(uint32_t id, int64_t missing) const {
  if (size_ == 0) return missing;
  const Slot& slot = slots_[slotOf(id)];
  return slot.used ? slot.value : missing;
}

}  // namespace quorvel
