#pragma once

#include <optional>
#include <utility>

#include "scene/SceneMath.h"

namespace quorvel {

// How large the marks of a card's chrome row are (application icon, status glyph, count badge and
// the close and minimize discs), in pixels, for a card of a given width on screen; and the anchor
// of the card corner the discs are placed from. Shared by the card renderer, the action hit test
// and the desktops overview. Pure functions: any thread.
class CardChromeRow {
 public:
  struct Marks {
    float iconSide = 0;
    float glyphSide = 0;
    float countHeight = 0;
    float gap = 0;
    float discPointScale = 0;  // pixels per point of the discs
    float discSide = 0;
    float discStep = 0;
    float discHitRadiusPoints = 0;
    bool operator==(const Marks&) const = default;
  };
  struct Title {
    float centre = 0;
    float width = 0;
    float height = 0;
    bool operator==(const Title&) const = default;
  };
  // The laid-out row: where each mark sits along the row (none = not shown).
  struct Row {
    Marks marks;
    std::optional<float> icon;
    std::optional<float> glyph;
    std::optional<float> count;
    std::optional<Title> title;
    bool operator==(const Row&) const = default;
  };

  // Marks for a card `cardWidthPixels` wide: the 78-point icon shrinks to 30 % of the card width,
  // the 26-point disc to 20 %; a chrome scale below 0.1 counts as 0.1.
  static Marks marks(float cardWidthPixels, float chromeScale, float pixelsPerPoint);

  // (corner, inset point): corner = centre + (right + up) / 2, the card's upper right corner for
  // its width and height vectors; the inset point lies `inset` back along the width vector.
  static std::pair<Float3, Float3> cornerAnchor(Float3 right, Float3 up, Float3 centre, float inset);
};

}  // namespace quorvel
