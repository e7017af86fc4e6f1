#include "scene/CardChromeRow.h"

#include <algorithm>
#include <cmath>

namespace quorvel {

CardChromeRow::Marks CardChromeRow::marks(float cardWidthPixels, float chromeScale, float pixelsPerPoint) {
  const float w = std::isfinite(cardWidthPixels) ? cardWidthPixels : 0.0f;
  const float p = std::isfinite(pixelsPerPoint) ? pixelsPerPoint : 0.0f;
  const float k = std::isfinite(chromeScale) ? std::max(chromeScale, 0.1f) : 1.0f;

  float iconUnit = p * k;
  const float iconRoom = 0.3f * w * k, iconWanted = 78 * p * k;
  if (iconRoom < iconWanted && iconWanted > 0) iconUnit *= iconRoom / iconWanted;
  float discUnit = p * k;
  const float discRoom = 0.2f * w * k, discWanted = 26 * p * k;
  if (discRoom < discWanted && discWanted > 0) discUnit *= discRoom / discWanted;

  Marks m;
  m.iconSide = 78 * iconUnit;
  m.glyphSide = 68 * iconUnit;
  m.countHeight = 68 * iconUnit;
  m.gap = 10 * iconUnit;
  m.discPointScale = discUnit;
  m.discSide = 26 * discUnit;
  m.discStep = 32 * discUnit;
  m.discHitRadiusPoints = p > 0 ? 16 * discUnit / p : 16.0f;
  return m;
}

std::pair<Float3, Float3> CardChromeRow::cornerAnchor(Float3 right, Float3 up, Float3 centre, float inset) {
  const Float3 corner = centre + (right + up) * 0.5f;
  return {corner, corner - normalizeOrZero(right) * inset};
}

}  // namespace quorvel
