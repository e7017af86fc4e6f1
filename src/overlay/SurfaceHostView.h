#pragma once

#include <functional>
#include <optional>

#include "base/Geometry.h"

namespace quorvel {

// The overlay's drawing surface host: keeps the frame (points) and contents scale of the layer the
// scene renderer draws into in step with the content view's bounds and the window's backing scale,
// and reports every change so that the renderer resizes its drawable. Main thread only.
class SurfaceHostView {
 public:
  // Bounds of the view (it fills the content view).
  Size bounds;
  // Backing scale used while the view has no window (the summon screen's, 2 until configured).
  double fallbackScale = 2.0;
  // Called after the layer's frame or scale changed, never when both stayed the same.
  std::function<void()> onGeometryChange;

  // Brings the layer in step: `windowScale` is the window's backing scale, none without a window.
  void syncLayer(std::optional<double> windowScale);

  const Size& layerFrame() const { return layerFrame_; }
  double contentsScale() const { return contentsScale_; }

 private:
  Size layerFrame_;
  double contentsScale_ = 1.0;
};

}  // namespace quorvel
