#include "windows/SummonCards.h"

namespace quorvel {

int SummonCards::positionOf(uint32_t id) const {
  for (size_t i = 0; i < order_.size(); ++i) {
    if (order_[i]->id == id) return static_cast<int>(i);
  }
  return -1;
}

std::vector<WindowCard> SummonCards::copies() const {
  std::vector<WindowCard> out;
  out.reserve(order_.size());
  for (const WindowCard* card : order_) out.push_back(*card);
  return out;
}

}  // namespace quorvel
