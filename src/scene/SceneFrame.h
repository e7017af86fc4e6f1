#pragma once

#include <functional>
#include <optional>

#include "scene/ClusterAssignment.h"
#include "scene/LayoutBlend.h"
#include "scene/SceneCards.h"
#include "scene/SceneTypes.h"
#include "scene/StackTuning.h"
#include "scene/TailTuning.h"
#include "windows/CardAction.h"

namespace quorvel {

// The copy of the scene that the render thread draws from, taken by each scene step under the
// scene lock and read after it is released. Copying it allocates nothing (the card list, the
// assignments and the arrangements are shared immutable values). `completion` is the dismiss
// completion, handed out in exactly one frame; the renderer runs it on the main queue.
struct SceneFrame {
  struct FocusChange {
    int index = 0;
    FocusChangeSource source = FocusChangeSource::system;
    bool operator==(const FocusChange&) const = default;
  };

  SceneCardList cards = SceneCards::empty();  // all cards, ghosts after the live ones
  int liveCount = 0;
  int reformFromCount = 0;
  float reformBlend = 1;  // 0 = old arrangement, 1 = new
  ClusterAssignment clusters;
  ClusterAssignment clustersFrom;
  StackTuning stackTuning;
  TailTuning tailTuning;
  double flipReach = 1;
  std::optional<double> flipFocus;
  double focus = 0;  // the camera focus after this step
  LayoutBlend layout;
  bool isRunning = false;
  bool isAtRest = false;
  bool isDismissing = false;
  std::optional<FocusChange> focusChange;
  bool showIcons = true;
  BadgeAnchor iconAnchor = BadgeAnchor::topLeft;
  bool showReflections = true;
  bool showSelectionRing = true;
  bool showStatusBadges = true;
  bool showCardShadows = true;
  bool showTitles = false;
  bool showHeroTitle = true;
  bool fadeSelectedTitle = false;
  bool showActionButtons = true;
  float chromeScale = 1;
  std::optional<CardAction> hoveredAction;
  float pointerPresence = 0;
  std::optional<int> pointerSelection;  // the pointer-highlighted live card
  float contentsScale = 1;
  std::function<void()> completion;
};

}  // namespace quorvel
