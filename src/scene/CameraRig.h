#pragma once

#include <optional>

#include "scene/CardPose.h"
#include "scene/LayoutBlend.h"
#include "scene/ViewportRect.h"

namespace quorvel {

struct SceneProbe;
struct SceneFrame;

// The camera of one frame or query: view and projection matrices (50° vertical field of view,
// near 0.1, far 100, depth mapped to [0, 1]) and the camera frame, built from the layout blend, the
// card and place counts and the viewport. The renderer draws with it, pointer picking and the
// action hit test project with it, and it places a window's on-screen rectangle in the scene for
// the fly-in and fly-out. A pure value: any thread. Degenerate inputs (an empty scene, a zero-sized
// viewport, eye on target) still give finite matrices.
struct CameraRig {
  Float4x4 view;
  Float4x4 viewProjection;
  Float3 eye;    // after the vertical shift
  Float3 right;  // camera axes (unit)
  Float3 up;
  Float3 back;  // from target to eye
  float focusDepth = 1;
  float halfWidth = 0;  // of the view at the focus depth
  float halfHeight = 0;
  float yaw = 0;
  float pitch = 0;

  // What the camera frames: cards, places (piles, or cards without piles) and the extra room piles
  // need at the ends.
  struct Configuration {
    int cards = 0;
    int places = 0;
    float extra = 0;
    bool operator==(const Configuration&) const = default;
  };

  // The rig of a configuration; while a re-formation runs (reformBlend < 1) and `previous` differs,
  // eye, target and depth are blended from the previous configuration's by reformBlend.
  static CameraRig make(const LayoutBlend& layout, Configuration current, std::optional<Configuration> previous,
                        float reformBlend, float viewWidth, float viewHeight);
  // The rig pointer queries use: cards = the probe's live cards.
  static CameraRig fromProbe(const SceneProbe& probe, float viewWidth, float viewHeight);
  // The rig the draw uses: cards = the live count, or the count re-formed from (at least 1).
  static CameraRig fromFrame(const SceneFrame& frame, float viewWidth, float viewHeight);

  // Both y components lowered by shift × |eye − target|.
  static void shiftCamera(Float3& eye, Float3& target, float shift);

  // The pose that covers exactly `rect` of the view, facing the camera at the focus depth.
  CardPose poseForScreenRect(const ViewportRect& rect) const;
  // The view-space z of a world point (negative in front of the camera).
  float viewDepth(Float3 position) const;
};

}  // namespace quorvel
