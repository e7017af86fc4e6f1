#include "overlay/SurfaceHostView.h"

namespace quorvel {

void SurfaceHostView::syncLayer(std::optional<double> windowScale) {
  const double scale = windowScale ? *windowScale : fallbackScale;
  bool scaleChanged = false;
  if (scale > 0 && scale != contentsScale_) {
    contentsScale_ = scale;
    scaleChanged = true;
  }
  if (layerFrame_ != bounds) {
    layerFrame_ = bounds;
    if (onGeometryChange) onGeometryChange();
  } else if (scaleChanged && onGeometryChange) {
    onGeometryChange();
  }
}

}  // namespace quorvel
