#include "scene/PictureFit.h"

#include <cmath>

namespace quorvel {

Float2 PictureFit::aspectScale(float cardAspect, float pictureAspect) {
  const auto valid = [](float v) { return std::isfinite(v) && v > 0; };
  if (!valid(cardAspect) || !valid(pictureAspect)) return {1, 1};
  const float r = pictureAspect / cardAspect;
  if (!std::isfinite(r) || std::fabs(r - 1) <= 0.005f) return {1, 1};
  if (r > 1) return {1, 1 / r};
  return {r, 1};
}

Float2 PictureFit::scaleForPicture(std::optional<Float2> textureSize, Float2 extentSize, Float2 cardSize) {
  if (!textureSize) return {1, 1};
  const auto valid = [](float v) { return std::isfinite(v) && v > 0; };
  if (!valid(cardSize.x) || !valid(cardSize.y)) return {1, 1};
  const float height = extentSize.y * textureSize->y;
  float pictureAspect = height != 0 ? (extentSize.x * textureSize->x) / height : 0.0f;
  if (!(pictureAspect > 0)) pictureAspect = 0;
  return aspectScale(cardSize.x / cardSize.y, pictureAspect);
}

}  // namespace quorvel
