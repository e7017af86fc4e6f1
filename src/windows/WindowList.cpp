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
