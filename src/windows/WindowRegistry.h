#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <unordered_set>
#include <vector>

#include "ax/FrameMatch.h"
#include "base/Clock.h"
#include "base/Geometry.h"
#include "base/Lock.h"
#include "base/Logger.h"
#include "base/Subscription.h"
#include "base/Task.h"
#include "platform/ShareableContent.h"
#include "windows/CardOrdering.h"
#include "windows/IdTable.h"
#include "windows/RegistryServices.h"
#include "windows/RegistryState.h"
#include "windows/SettingsGate.h"
#include "windows/SpaceMap.h"
#include "windows/SummonCards.h"
#include "windows/WindowCard.h"

namespace quorvel {

// The one live list of window cards of the program. The program creates it once, installs its two
// sinks, and starts it once; from then on a background loop keeps the cards fresh by refresh passes
// (at most one at a time), and workspace changes, settings changes, focus changes and the
// activator's raises and tab presses move its recency order or ask for a pass. Each summon takes an
// ordered card list with the current and the previous selection from `cardsForSummon`, which never
// waits for a pass.
//
// start(), cardsForSummon(), the workspace triggers and the activator's reports (recordRaise(),
// recordTabPress()) run on the main queue, focusSink() on the Accessibility queue, performRefresh()
// on the pool, and noteVisit() on one of those three; debug builds check each. onDefaultsChanged()
// may come from any thread.
// Every field lives in `state()` under its one lock. Every closure the registry hands out (observer
// blocks, the focus sink, the activator callbacks, its tasks) holds it weakly and does nothing once
// it is gone; releasing it cancels its loop and removes its observers.
class WindowRegistry : public std::enable_shared_from_this<WindowRegistry> {
 public:
  using RawWindow = RegistryState::RawWindow;
  using RecencyEntry = RegistryState::RecencyEntry;
  using RaisedWindow = RegistryState::RaisedWindow;
  using RegularApp = RegistryState::RegularApp;
  using GroupingRun = CardOrdering::GroupingRun;
  using TabCardSink = RegistryState::TabCardSink;
  using LeaveCaptureSink = RegistryState::LeaveCaptureSink;

  // The card list of one summon with the positions of the current and the previous window. The
  // cards are not copies: `cards` keeps the committed pass it was ordered from alive and reads like
  // a constant vector of cards (see SummonCards); take `cards.copies()` to own or change them.
  struct SummonList {
    SummonCards cards;
    int currentIndex = 0;
    int previousIndex = 0;
  };

  static constexpr int kForcedPassEvery = 15;  // the 15th pass always rebuilds and verifies in depth
  static constexpr double kSmallestWindowSide = 60;
  // Readings of the windows and their desktops a pass makes while the current desktop changes under it.
  static constexpr int kPictureReadings = 3;
  static constexpr Duration kRaiseCreditWindow = std::chrono::seconds(1);
  static constexpr Duration kLeaveCaptureDebounce = LeaveCaptures::kDebounce;

  // Builds the registry with empty state and a fresh tab identity store; starts nothing.
  static std::shared_ptr<WindowRegistry> create(RegistryServices services);
  ~WindowRegistry();
  WindowRegistry(const WindowRegistry&) = delete;
  WindowRegistry& operator=(const WindowRegistry&) = delete;

  // Installs the workspace and defaults observers, the activator callbacks and the focus sink, and
  // starts the refresh loop, whose first pass runs at once. A second call does nothing.
  void start();

  // The running refresh task, marked to run once more, or a new one. The caller holds lock() and
  // awaits the task after releasing it. A caller that needs a pass that cannot be skipped first
  // sets `state().mustRunNextPass` under the lock.
  TaskHandle<void> requestRefresh();

  // The ordered card list of one summon or quick flip; notes the current window as visited. It
  // makes no copy of a card and no window-server request beyond reading the stacking order: the
  // list orders the last committed pass (taken by pointer) and its tab cards.
  SummonList cardsForSummon();

  // Records a visit of one window now.
  void noteVisit(uint32_t windowID);

  // The registry's fields; read and write them only under lock().
  Lock& lock() { return state_.lock; }
  RegistryState& state() { return state_; }

  // Set once by the program right after creating the registry (under the lock).
  void setTabCardSink(TabCardSink sink);
  void setLeaveCaptureSink(LeaveCaptureSink sink);

  // ---- Triggers ----
  // An application came forward (`pid` none when the notification named none), as the platform
  // noticed at `noticedAt` (none: unknown).
  void onAppActivated(std::optional<int32_t> pid, std::optional<Instant> noticedAt = std::nullopt);
  void onAppLaunchedOrTerminated();
  void onDefaultsChanged();
  // A notification noticed before the last credit (the recency head's time) is out of date: the
  // user has been credited with a later visit since, so it credits nothing.
  void creditActivatedApp(int32_t pid, std::optional<Instant> noticedAt = std::nullopt);
  // A window of another application took the focus (from the focus observer, which heard of it at
  // `noticedAt`; a change heard of before the last credit credits nothing, nor does one for a window
  // that the platform, where it knows the focus, says has it no longer).
  void focusSink(uint32_t windowID, int32_t pid, std::optional<Instant> noticedAt = std::nullopt);
  // The activator raised a window, or pressed a browser tab.
  void recordRaise(uint32_t windowID, int32_t pid);
  void recordTabPress(uint32_t tabID, uint32_t hostWindowID);

  // ---- The refresh loop ----
  // One pass: decides whether anything changed, gathers the shareable windows and hands them to the
  // pass steps. Never fails to its caller.
  Task<void> performRefresh();
  // The sleep before the next tick: 2 s or 10 s.
  Duration tickInterval();
  // The shareable windows that can become cards: layer 0, with an owner, at least 60 by 60 points.
  static std::vector<RawWindow> rawWindows(const std::vector<ShareableWindow>& windows);
  // Under the lock: the next process for the deep Accessibility verification, in turn.
  std::optional<int32_t> pickDeepVerified(const std::vector<RawWindow>& rawWindows);
  // The front-most window of an application on screen, preferring those among `ids`; where the
  // platform knows each application's front window apart from the stacking, that one first.
  std::optional<uint32_t> frontWindowOfApp(int32_t pid, const std::unordered_set<uint32_t>& ids);

  // The registry's helpers for its neighbours (the overlay, the desktops overview, tab activation):
  // each browser window's card followed by its tab cards; whether two frames are the same window
  // frame when fractions of a point are ignored; the digest of the settings that decide which
  // windows become cards.
  static std::vector<WindowCard> expandingTabCards(const std::vector<WindowCard>& cards,
                                                   const CardOrdering::TabTable& tabCards,
                                                   const CardOrdering::TabRecency* tabRecency) {
    return CardOrdering::expandingTabCards(cards, tabCards, tabRecency);
  }
  static bool framesMatch(const Rect& a, const Rect& b) { return FrameMatch::framesMatch(a, b); }
  static int64_t readGateSettings(const AppSettings& settings) { return SettingsGate::readGateSettings(settings); }

 private:
  explicit WindowRegistry(RegistryServices services);

  static Task<void> refreshLoop(std::weak_ptr<WindowRegistry> weak);
  static Task<void> refreshTaskBody(std::weak_ptr<WindowRegistry> weak);
  static Task<void> awaitRefresh(std::weak_ptr<WindowRegistry> weak);
  static Task<void> installActivatorHooks(std::weak_ptr<WindowRegistry> weak);

  Task<void> runPassSteps(std::vector<RawWindow> rawWindows, std::optional<int32_t> deepVerifiedPid, bool trusted,
                          std::optional<SpaceMap::Snapshot> snapshot, std::vector<Rect> displayBounds,
                          int64_t fingerprint);

  // Under the lock.
  void recordVisit(uint32_t windowID, Instant now, bool refreshPictureOnLeave);
  std::optional<uint32_t> recentRaise(int32_t pid, Instant now) const;
  // Stamps the workspace time and starts a task that asks for a pass.
  void stampAndRequestRefresh();
  // The window to credit at a summon (see CardOrdering::currentWindowByPosition), visited.
  void noteCurrentWindow(const std::vector<WindowCard>& cards, std::span<const int64_t> z,
                         const std::optional<WindowFocus>& focus, std::optional<uint32_t> head);
  // Records a visit now unless another visit was recorded since the recency head was `headSeen`.
  void noteVisitUnlessOvertaken(uint32_t windowID, std::optional<uint32_t> headSeen);
  // What the summon reads of the settings, read again after any change of the defaults (main queue).
  const CardOrdering::SummonSettings& summonSettings();

  const RegistryServices services_;
  RegistryState state_;
  const Logger logger_{"WindowRegistry"};

  // Lifecycle fields, guarded by state_.lock as well.
  std::optional<TaskHandle<void>> refreshTask_;
  bool refreshRequestedAgain_ = false;
  TaskHandle<void> loopTask_;
  std::vector<Subscription> workspaceObservers_;
  Subscription defaultsObserver_;
  bool isStarted_ = false;

  // The summon's settings (main queue only), stale again whenever the defaults change.
  CardOrdering::SummonSettings summonSettings_;
  std::shared_ptr<std::atomic<bool>> summonSettingsStale_ = std::make_shared<std::atomic<bool>>(true);
  Subscription summonSettingsObserver_;
};

}  // namespace quorvel
