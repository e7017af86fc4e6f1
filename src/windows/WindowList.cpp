#include "windows/WindowList.h"

#include "platform/WindowServer.h"

namespace quorvel {

std::unordered_map<uint32_t, int> WindowList::zOrderByWindowID() const {
  std::unordered_map<uint32_t, int> order;
  const auto entries = server_.onScreenWindows();
  if (!entries) return order;
  int position = 0;
  for (const WindowListEntry& entry : *entries) {
    if (entry.number) order[*entry.number] = position;
    ++position;
  }
  return order;
}

IdTable WindowList::stackingPositions() const {
  const auto numbers = server_.onScreenWindowNumbers();
  if (!numbers) return IdTable();
  IdTable order(numbers->size());
  for (size_t position = 0; position < numbers->size(); ++position) {
    if ((*numbers)[position] != 0) order.assign((*numbers)[position], static_cast<int64_t>(position));
  }
  return order;
}

std::vector<Rect> WindowList::activeDisplayBounds() const {
  std::vector<Rect> bounds;
  const auto displays = server_.activeDisplays();
  if (!displays) return bounds;
  for (uint32_t display : *displays) {
    // A display that went away between the two calls has no bounds and is left out.
    if (auto frame = server_.displayBounds(display)) bounds.push_back(*frame);
  }
  return bounds;
}

}  // namespace quorvel
