#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "base/SpinLock.h"
#include "scene/CardPile.h"
#include "scene/MorphBuffer.h"
#include "scene/SceneFrame.h"
#include "scene/SceneProbe.h"
#include "scene/SceneStorage.h"

namespace quorvel {

// The one shared record of the animated card scene of one overlay screen: a lock around a
// SceneStorage. The main thread changes it (install on present, reform after a search, the dismiss
// flight, clear on stop, and every navigation mutation); the render thread steps it once per frame
// with advanceFrame and draws from the SceneFrame copy outside the lock.
//
// Every operation below is a static function on the storage and must run with the lock held
// (`withLock`); main-thread changes go through SceneWake::wake so a resting display link draws
// again. The lock is never held across a callback: completions and focus changes are handed out
// for the caller to dispatch. The scene never fails: operations on an empty scene leave it
// unchanged, and no input (a zero or non-finite time step, a non-finite delta, an empty list) can
// put a NaN into the stored numbers.
class SceneState {
 public:
  using Storage = SceneStorage;
  using Frame = SceneFrame;
  using Completion = std::function<void()>;

  SceneState() : storage_(makeStorage()) {}
  SceneState(const SceneState&) = delete;
  SceneState& operator=(const SceneState&) = delete;

  // Runs f(storage) with the lock held; the lock is released before returning.
  template <class F>
  auto withLock(F&& f) {
    return lock_.withLock([&]() -> decltype(auto) { return std::forward<F>(f)(storage_); });
  }

  // The initial record of a new scene.
  static Storage makeStorage();

  // ---- Whole-scene operations ----

  struct DisplayFlags {
    bool showIcons = true;
    bool showReflections = true;
    bool showSelectionRing = true;
    bool showStatusBadges = true;
    bool showCardShadows = true;
    bool showTitles = false;
    bool showHeroTitle = true;
    bool fadeSelectedTitle = false;
    bool showActionButtons = true;
  };
  struct InstallOptions {
    std::vector<CardSnapshot> snapshots;
    ClusterAssignment clusters;
    double startFocus = 0;
    double speedScale = 1;  // non-positive or not finite reads as 1
    double flickProjection = 0.25;
    float chromeScale = 1;
    DisplayFlags flags;
    AppSettings::IconPosition iconPosition = AppSettings::IconPosition::topLeft;
    StackTuning stackTuning;
    TailTuning tailTuning;
    bool flyIn = false;
  };

  // One display-link frame: steps the camera, the springs and the morphs by dt seconds (the camera
  // sees the raw dt, every other spring at most 1/30 s), refills `buffer` (resized only when the
  // card count changes) and returns the frame copy. Allocates nothing unless ghosts are dropped.
  static Frame advanceFrame(Storage& storage, double dt, MorphBuffer& buffer);
  // A new card set (on present). Returns the completion that was pending, for the caller to run.
  static Completion install(Storage& storage, InstallOptions options);
  // A new card list while running (after a search): cards that stay keep their motion and blend
  // from their old slots; cards that left fade out as ghosts behind the live ones. Ignored unless
  // running and not dismissing.
  static void reform(Storage& storage, std::vector<CardSnapshot> snapshots, ClusterAssignment clusters,
                     double focus);
  // Starts the dismiss flight toward the chosen card (none = cancelled). Hands the completion back
  // when the flight cannot start (not running, no cards, already dismissing); otherwise keeps it
  // and hands it out in the frame that ends the flight.
  static Completion beginDismissFlight(Storage& storage, std::optional<int> chosen, Completion completion);
  // Stop: empties the scene. Returns the completion that was pending.
  static Completion clear(Storage& storage);
  // The card the overlay acts on: the pointer-highlighted live card, else the focused one; 0
  // without cards.
  static int selectedIndex(const Storage& storage);
  static SceneProbe probe(const Storage& storage);

  // ---- Navigation mutations (main thread) ----

  // Focus mode, damping and arrangement; animated (a cross-fade) only when running with cards.
  static void applyStyle(Storage& storage, OrbitCamera::FocusMode mode, bool animated, LayoutRef layout,
                         double dampingRatio);
  // Scroll samples (delta in places) and their release.
  static void scroll(Storage& storage, double delta);
  static void endScroll(Storage& storage, double velocity);
  // Moves through the focused pile; none (and no change) when the focus is on no pile of 2 or more.
  static std::optional<CardPile> flipStack(Storage& storage, double delta);
  static std::optional<CardPile> endFlip(Storage& storage, double velocity);
  // Whole cards (negative = backward): Tab, Shift-Tab, the key above Tab, a further shortcut press.
  // A step goes round from one end of the cards to the other in every arrangement, also where the
  // arrows, scrolls and the pointer stop at the ends.
  static void step(Storage& storage, int cards);
  // Hops the focus to a hovered card the short way round.
  static void selectHovered(Storage& storage, int index);
  // Highlights a live card (none or out of range clears); true when the highlight changed.
  static bool setPointerHighlight(Storage& storage, std::optional<int> index);
  static void setHoveredAction(Storage& storage, std::optional<CardAction> action);
  // Arrow and vim keys: 0 left, 1 right, 2 up, 3 down.
  static void move(Storage& storage, uint8_t direction);
  // Viewport of the drawable (pixels) and its points-to-pixels factor (non-positive reads as 1).
  static void setViewport(Storage& storage, Float2 pixels, float contentsScale);

  // ---- Queries shared with the renderer ----

  // Whether the current arrangement's piles apply: the stored clusters, or the empty assignment
  // when the arrangement does not allow piles.
  static const ClusterAssignment& effectiveClusters(const Storage& storage);
  // The pile under the camera focus when piles are allowed, the clusters cover every live card and
  // bunch, and that pile holds more than one card.
  static std::optional<CardPile> flipPile(const Storage& storage);
  // The icon anchor: top left, or bottom centre for "bottomEdge" unless the arrangement flips cards.
  static BadgeAnchor iconAnchor(const Storage& storage);

 private:
  static void releasePointer(Storage& storage);
  static void settleGestureHops(Storage& storage);
  static void beginGestureHops(Storage& storage);
  static void commitPointerHighlight(Storage& storage);
  static int focusedIndex(const Storage& storage);
  static int shortestDelta(const Storage& storage, int index, int current);
  static void glide(Storage& storage, int destination, bool vertical);

  SpinLock lock_;
  Storage storage_;
};

}  // namespace quorvel
