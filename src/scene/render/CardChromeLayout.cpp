// The chrome row of a card: which badges it carries and where the icon, status glyph, count badge
// and title plate sit along its top edge.
#include <algorithm>
#include <cmath>
#include <tuple>
#include <utility>

#include "scene/render/CardRenderer.h"

namespace quorvel {

CardChromeRow::Row CardRenderer::layoutRow(float cardWidth, float chromeScale, float point, bool icon, bool glyph,
                                           std::optional<float> countAspect, std::optional<float> titleAspect) {
  auto place = [&](float scale) {
    CardChromeRow::Row row;
    row.marks = CardChromeRow::marks(cardWidth, scale, point);
    const CardChromeRow::Marks& m = row.marks;
    float x = m.gap;
    if (icon) {
      row.icon = x + m.iconSide / 2;
      x += m.iconSide + m.gap;
    }
    if (glyph) {
      row.glyph = x + m.glyphSide / 2;
      x += m.glyphSide + m.gap;
    }
    if (countAspect) {
      const float w = m.countHeight * *countAspect;
      row.count = x + w / 2;
      x += w + m.gap;
    }
    return std::pair{row, x};
  };
  auto [row, end] = place(chromeScale);
  if (end > cardWidth && end > 0 && cardWidth > 0) std::tie(row, end) = place(chromeScale * cardWidth / end);
  if (titleAspect && *titleAspect > 0 && std::isfinite(*titleAspect)) {
    // A title plate half as high as the count badge, in the room the marks leave on the row: from
    // the end of the last mark (and its gap) to a gap before the card's right edge. It sits centred
    // on the card when it fits there, else as near the middle as the room lets it; a title wider
    // than the room is drawn smaller, whole, never under a mark.
    const float left = end, right = cardWidth - row.marks.gap;
    const float room = std::min(right - left, cardWidth * 0.9f);
    if (room > 0) {
      CardChromeRow::Title title;
      title.height = row.marks.countHeight * 0.5f;
      title.width = std::min(title.height * *titleAspect, room);
      if (title.width < title.height * *titleAspect) title.height = title.width / *titleAspect;
      title.centre = std::clamp(cardWidth / 2, left + title.width / 2, right - title.width / 2);
      row.title = title;
    }
  }
  return row;
}

CardRenderer::CardChrome CardRenderer::chromeRow(const CardSnapshot& card, bool showIcons, BadgeAnchor iconAnchor,
                                                 bool showStatusBadges, int pileMembers, float point,
                                                 float chromeScale, Float2 size,
                                                 std::optional<float> titleAspect) const {
  CardChrome chrome;
  if (showStatusBadges && providers_.status) chrome.glyph = providers_.status(card.status);
  if (providers_.count) {
    if (pileMembers >= 2) chrome.count = providers_.count(std::min(pileMembers, 1000));
    else if (card.tabsOutOfReach > 0) chrome.count = providers_.count(-std::min(card.tabsOutOfReach, 999));
  }
  std::optional<float> countAspect;
  if (chrome.count && chrome.count->width() >= 1 && chrome.count->height() >= 1)
    countAspect = static_cast<float>(chrome.count->width()) / static_cast<float>(chrome.count->height());
  chrome.row = layoutRow(size.x, chromeScale, point, showIcons && iconAnchor == BadgeAnchor::topLeft,
                         chrome.glyph != nullptr, countAspect, titleAspect);
  return chrome;
}

}  // namespace quorvel
