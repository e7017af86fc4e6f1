#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "scene/ClusterAssignment.h"
#include "scene/LayoutBlend.h"
#include "scene/OrbitCamera.h"
#include "scene/SceneCards.h"
#include "scene/SceneMath.h"
#include "scene/SceneTypes.h"
#include "scene/StackTuning.h"
#include "scene/TailTuning.h"
#include "settings/AppSettings.h"
#include "windows/CardAction.h"

namespace quorvel {

// The stored record of one overlay screen's animated card scene, guarded by its SceneState's lock
// (nothing else holds it). The values below are those of a new scene.
//
// Invariants: morphs.size() == cards->size(); liveCount <= cards->size(); every card at an index
// >= liveCount is a ghost; orbit.count == liveCount; completion is set only while dismissing, or
// until the next install or clear takes it out.
struct SceneStorage {
  SceneCardList cards = SceneCards::empty();  // live cards in order, then fading ghosts
  int liveCount = 0;
  std::vector<CardMorph> morphs;  // one per card, same order
  OrbitCamera orbit;
  bool reformActive = false;  // a re-formation from an older card list runs
  double reformProgress = 1;  // 0 = old arrangement, 1 = new
  double reformVelocity = 0;
  int reformFromCount = 0;  // live cards of the list re-formed from
  ClusterAssignment clusters;
  ClusterAssignment clustersFrom;
  StackTuning stackTuning;
  TailTuning tailTuning;
  bool gestureHops = false;         // a scroll or flick moves the camera
  double flipReach = 1;             // 0 while hops run (piles folded), 1 at rest
  std::optional<double> flipFocus;  // camera focus where the current hop or flip began
  bool keyboardHop = false;         // a keyboard hop across a pile runs
  float chromeScale = 1;
  double reformResponse = 0.28;  // period of the re-formation spring (seconds)
  double reformDamping = 0.95;
  LayoutBlend layout;  // tangent ring of spacing 1, no outgoing arrangement, t = 1
  OrbitCamera::FocusMode focusMode = OrbitCamera::FocusMode::wrap;
  double styleProgress = 1;  // style cross-fade, 0 = outgoing, 1 = current
  double styleVelocity = 0;
  Float2 viewportPixels;
  float contentsScale = 1;
  bool isRunning = false;
  bool isDismissing = false;
  double dismissElapsed = 0;
  std::function<void()> completion;
  int reportedFocus = -1;  // last focus reported to the focus sink
  FocusChangeSource focusIntent = FocusChangeSource::system;
  bool showIcons = true;
  AppSettings::IconPosition iconPosition = AppSettings::IconPosition::topLeft;
  bool showReflections = true;
  bool showSelectionRing = true;
  bool showStatusBadges = true;
  bool showCardShadows = true;
  bool showTitles = false;
  bool showHeroTitle = true;
  bool fadeSelectedTitle = false;
  bool showActionButtons = true;
  std::optional<CardAction> hoveredAction;
  std::optional<uint32_t> pointerHighlightID;  // window id of the card the pointer highlights
  double pointerPresence = 0;
  double pointerPresenceVelocity = 0;
  double speedScale = 1;  // multiplier of every animation period

  const std::vector<CardSnapshot>& cardList() const { return *cards; }
  int cardCount() const { return static_cast<int>(cards->size()); }
};

}  // namespace quorvel
