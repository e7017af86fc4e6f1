#include "pictures/CaptureStamp.h"

#include <cmath>

#include "windows/Hasher.h"

namespace quorvel {
namespace {

// Truncated toward zero; 0 when the value has no 64-bit integer form (infinite, NaN, enormous).
int64_t wholePoints(double value) {
  if (!std::isfinite(value)) return 0;
  const double t = std::trunc(value);
  if (t < -9.2233720368547758e18 || t >= 9.2233720368547758e18) return 0;
  return static_cast<int64_t>(t);
}

}  // namespace

CaptureStamp CaptureStamp::fingerprint(const WindowCard& card,
                                       const std::unordered_map<uint32_t, uint32_t>& shownTabs,
                                       const std::unordered_map<uint32_t, int64_t>& visits) {
  Hasher hasher;
  hasher.combine(wholePoints(card.frame.x));
  hasher.combine(wholePoints(card.frame.y));
  hasher.combine(wholePoints(card.frame.width));
  hasher.combine(wholePoints(card.frame.height));
  hasher.combine(std::string_view(card.title));
  hasher.combine(static_cast<int64_t>(card.state));
  hasher.combine(card.blursPicture);
  if (auto it = shownTabs.find(card.id); it != shownTabs.end()) {
    hasher.combine(true);
    hasher.combine(it->second);
  } else {
    hasher.combine(false);
  }
  CaptureStamp stamp;
  stamp.key = static_cast<int64_t>(hasher.finalize());
  if (auto it = visits.find(card.id); it != visits.end()) stamp.visit = it->second;
  return stamp;
}

}  // namespace quorvel
