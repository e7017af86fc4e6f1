#include "scene/LayoutEngine.h"

#include <cmath>

namespace quorvel {

float LayoutEngine::shade(int, int, int, double) const { return 1.0f; }

std::optional<int> LayoutEngine::neighbour(int index, int, uint8_t direction, int) const {
  return defaultNeighbour(index, direction);
}

std::optional<int> LayoutEngine::defaultNeighbour(int index, uint8_t direction) {
  switch (direction) {
    case left: return index - 1;
    case right: return index + 1;
    default: return std::nullopt;
  }
}

float LayoutEngine::validSpacing(float spacing) {
  return std::isfinite(spacing) && spacing > 0 ? spacing : 1.0f;
}

}  // namespace quorvel
