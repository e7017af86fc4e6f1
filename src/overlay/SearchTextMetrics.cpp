#include "overlay/SearchTextMetrics.h"

#include <cmath>

namespace quorvel {

SearchTextMetrics::SearchTextMetrics(std::string shown, const OverlayFont& font, OverlayTextMetrics& metrics)
    : text(std::move(shown)) {
  if (text.empty()) return;
  boundaries = metrics.caretOffsets(text, font);
  if (boundaries.empty()) boundaries = {0.0};
  boundaries.front() = 0.0;
}

int SearchTextMetrics::caretIndex(double x) const {
  if (boundaries.empty()) return 0;
  if (!(x > boundaries.front())) return 0;
  const int last = static_cast<int>(boundaries.size()) - 1;
  if (x >= boundaries.back()) return last;
  int best = 0;
  double bestDistance = std::fabs(boundaries[0] - x);
  for (int i = 1; i <= last; ++i) {
    const double distance = std::fabs(boundaries[static_cast<size_t>(i)] - x);
    if (distance < bestDistance) {
      best = i;
      bestDistance = distance;
    }
  }
  return best;
}

}  // namespace quorvel
