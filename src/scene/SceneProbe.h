#pragma once

#include <optional>
#include <vector>

#include "scene/ClusterAssignment.h"
#include "scene/LayoutBlend.h"
#include "scene/SceneCards.h"
#include "scene/SceneTypes.h"
#include "scene/StackTuning.h"
#include "scene/TailTuning.h"

namespace quorvel {

// A read-only copy of the scene for pointer queries and pile questions on the main thread, taken
// under the scene lock and used after it is released. Holds the live cards only, with their
// samples as the last step left them.
struct SceneProbe {
  SceneCardList cards = SceneCards::empty();  // live cards only
  double focus = 0;                           // the camera focus
  double settledFocus = 0;                    // the camera target
  LayoutBlend layout;
  std::vector<MorphSample> samples;  // one per live card
  int reformFromCount = 0;
  float reformBlend = 1;
  ClusterAssignment clusters;
  ClusterAssignment clustersFrom;
  StackTuning stackTuning;
  TailTuning tailTuning;
  double flipReach = 1;
  std::optional<double> flipFocus;
  int focusedIndex = -1;  // −1 without cards
  int selectedIndex = -1;
  float pointerPresence = 0;
  bool showActionButtons = true;
  float chromeScale = 1;
  bool showIcons = true;
  BadgeAnchor iconAnchor = BadgeAnchor::topLeft;
  bool showStatusBadges = true;
};

}  // namespace quorvel
