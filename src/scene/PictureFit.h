#pragma once

#include <optional>

#include "scene/SceneMath.h"

namespace quorvel {

// How a window picture is scaled inside a card of another aspect so that its own aspect survives:
// the picture scale the card shader applies. Pure functions: any thread.
class PictureFit {
 public:
  // (1, 1) when either aspect is not finite or not above 0, or they differ by at most 0.5 %;
  // a wider picture (r = picture / card > 1) gives (1, 1 / r), a narrower one (r, 1).
  static Float2 aspectScale(float cardAspect, float pictureAspect);

  // A picture's scale for a card: `textureSize` the texture's pixel size (none without a texture),
  // `extent` the unit rectangle of the texture that holds the window (origin, size). (1, 1) without
  // a texture or unless the card's width and height are finite and above 0; a picture aspect that
  // is not positive reads as 0 (and so leaves the scale at (1, 1)).
  static Float2 scaleForPicture(std::optional<Float2> textureSize, Float2 extentSize, Float2 cardSize);
};

}  // namespace quorvel
