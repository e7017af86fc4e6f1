#include "pictures/CardLabel.h"

#include "base/TextServices.h"

namespace quorvel {

namespace {

void mix(size_t& seed, size_t value) { seed ^= value + 0x9e3779b97f4a7c15ULL + (seed << 6) + (seed >> 2); }

}  // namespace

size_t CardLabel::hashValue() const {
  size_t seed = std::hash<std::string>{}(appName);
  mix(seed, static_cast<size_t>(state));
  mix(seed, spaceNumber ? std::hash<int>{}(*spaceNumber) * 2 + 1 : 0);
  mix(seed, isPrivate ? 1 : 0);
  mix(seed, tabTitle ? std::hash<std::string>{}(*tabTitle) * 2 + 1 : 0);
  return seed;
}

std::string clipped(std::string_view title, std::string_view fallback) {
  std::string text = TextServices::trimmed(title);
  if (text.empty()) text = TextServices::trimmed(fallback);
  const size_t count = TextServices::graphemeCount(text);
  if (count <= 40) return text;
  const std::string head = TextServices::prefixGraphemes(text, 20);
  // The last 19 clusters: everything after the first count − 19.
  const std::string skipped = TextServices::prefixGraphemes(text, count - 19);
  return head + "\u2026" + text.substr(skipped.size());
}

}  // namespace quorvel
