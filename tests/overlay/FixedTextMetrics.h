#pragma once

#include <string_view>
#include <vector>

#include "base/TextServices.h"
#include "overlay/OverlayTextMetrics.h"

namespace quorvel {

// Text metrics for tests: every user-perceived character advances `advance` points, a line is
// `lineHeight` tall, and the font's measures are fixed fractions of its size.
class FixedTextMetrics final : public OverlayTextMetrics {
 public:
  double advance = 8;
  double lineHeight = 17;

  Size measure(std::string_view text, const OverlayFont&) override {
    if (text.empty()) return {0, 0};
    return {advance * static_cast<double>(TextServices::graphemeCount(text)), lineHeight};
  }
  OverlayFontMetrics fontMetrics(const OverlayFont& font) override {
    return {font.size * 0.7, font.size * 0.95, -font.size * 0.25, font.size * 0.95};
  }
  std::vector<double> caretOffsets(std::string_view text, const OverlayFont&) override {
    std::vector<double> out{0.0};
    const size_t count = TextServices::graphemeCount(text);
    for (size_t i = 1; i <= count; ++i) out.push_back(advance * static_cast<double>(i));
    return out;
  }
};

}  // namespace quorvel
