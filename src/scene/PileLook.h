#pragma once

#include <optional>

#include "scene/ClusterAssignment.h"
#include "scene/StackTuning.h"

namespace quorvel {

// How one card looks inside its pile on a given frame: the place its pile occupies (and the place
// focus), the offsets that fan the pile out, its scale, whether it is the card shown in front
// (`frontVisibility`: only that card gets the focus highlight and chrome) and whether it is drawn at
// all (`rankFade`: cards beyond the drawn ranks fade out). Every value is already weighted by the
// pile weight, so at weight 0 every card looks flat. Computed for every card every frame by the pose
// pass and by pointer picking; a pure function.
struct PileLook {
  int place = 0;
  int placeCount = 0;
  double placeFocus = 0;
  float lateral = 0;  // sideways along the card's own horizontal axis
  float depth = 0;    // pushed away from the camera
  float step = 0;     // dropped down the card's own up axis
  float tilt = 0;     // added to the yaw
  float scale = 1;
  float frontVisibility = 1;
  float rankFade = 1;
  int width = 1;       // cards in the pile
  bool empty = false;  // no pile look for this card (the assignment does not describe it)

  // The look of card `index` of `count` cards. `focus` is the scene focus (a card position),
  // `flipFocus` the position inside a pile while the user flips through it, `pileWeight` the
  // layout blend's pile weight, `flipReach` how far the focused pile is opened
  // (0 to 1). An assignment without cards, for another card count, or an index out of range gives
  // the empty look; one that does not bunch (or a weight of 0) the flat look of the card's place.
  static PileLook member(int index, int count, const ClusterAssignment& assignment, double focus,
                         std::optional<double> flipFocus, float pileWeight, const StackTuning& tuning,
                         double flipReach);

  // The look as the pose pass takes it: none for the empty look.
  static std::optional<PileLook> lookOf(int index, int count, const ClusterAssignment& assignment, double focus,
                                        std::optional<double> flipFocus, float pileWeight,
                                        const StackTuning& tuning, double flipReach);
};

}  // namespace quorvel
