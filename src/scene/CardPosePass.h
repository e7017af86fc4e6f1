#pragma once

#include <optional>

#include "scene/CameraRig.h"
#include "scene/CardSnapshot.h"
#include "scene/LayoutBlend.h"
#include "scene/PileLook.h"
#include "scene/SceneTypes.h"

namespace quorvel {

// Where a card is on a given frame: the one routine that the draw, the action hit test and pointer
// picking share. It combines the re-formation from an old slot to a new one, the pile fan, the
// highlight of the focused or pointed card, and the flight between the window's place on screen
// and the card's slot. Pure functions of their arguments: any thread. The pose is always finite.
class CardPosePass {
 public:
  struct Result {
    CardPose pose;
    float highlight = 0;  // 0 to 1
    float depthPush = 0;  // the pile's push away from the camera
  };

  // `toLook` and `fromLook` are the card's pile looks for its `to` slot (current assignment) and its
  // `from` slot (the assignment re-formed from); `focus` the camera focus; `reformBlend` r; and
  // `pointerPresence` p.
  static Result cardPose(const CardSnapshot& card, const MorphSample& sample, const LayoutBlend& layout,
                         const CameraRig& rig, const std::optional<PileLook>& toLook,
                         const std::optional<PileLook>& fromLook, double focus, float reformBlend,
                         float pointerPresence);

  // The card's facing in [0, 1]: the arrangement's shade times the pile alpha, blended from the
  // source slot during a re-formation. Drives the card's brightness and its title plate's fade.
  static float cardFacing(const MorphSample& sample, const LayoutBlend& layout, const std::optional<PileLook>& toLook,
                          const std::optional<PileLook>& fromLook, double focus, float reformBlend);

  // The pile look of a slot at the camera focus (focus + the slot's shift); none outside a pile
  // assignment that describes the slot's card count.
  static std::optional<PileLook> slotLook(const CardSlot& slot, const ClusterAssignment& clusters, double focus,
                                          std::optional<double> flipFocus, float pileWeight,
                                          const StackTuning& tuning, double flipReach);

  // The focus weight of a slot: smoothstep of 1 − the wrapped distance to the focus (0 without
  // cards), times the pile look's front visibility when that is below 1.
  static float focusWeight(const LayoutBlend::Place& place, const std::optional<PileLook>& look);

 private:
  static LayoutBlend::Slots slotsOf(const CardSlot& slot, double focus, const std::optional<PileLook>& look);
};

}  // namespace quorvel
