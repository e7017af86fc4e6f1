#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "base/Executor.h"
#include "base/Geometry.h"
#include "base/Logger.h"
#include "base/ObserverList.h"
#include "base/Subscription.h"
#include "base/Tracer.h"
#include "overlay/DismissKeyRoute.h"
#include "overlay/OverlayContentView.h"
#include "overlay/OverlayContentViewDelegate.h"
#include "overlay/OverlayKeyboardState.h"
#include "overlay/OverlayWindow.h"
#include "overlay/SearchCorpus.h"
#include "overlay/SearchField.h"
#include "overlay/controller/OverlayCardSource.h"
#include "overlay/controller/OverlayChromeTextures.h"
#include "overlay/controller/OverlayDesktop.h"
#include "overlay/controller/OverlayPictureSource.h"
#include "overlay/controller/OverlayScene.h"
#include "overlay/controller/OverlayWindowActions.h"
#include "overlay/controller/ShortcutTap.h"
#include "scene/SceneTypes.h"
#include "scene/SceneWake.h"
#include "settings/AppSettings.h"
#include "windows/WindowCard.h"

namespace quorvel {

// The one object that owns the switcher overlay. The program creates it once with its services,
// keeps it for the life of the process and wires the shortcut manager to it: present() on a summon,
// stepSelection() on a further press, onHotkeyRelease() when the shortcut's modifiers go up,
// quickFlip() for the key above Tab, handleTapKey() for a dismiss key the global tap saw, and
// reportKeyboardState back into the shortcut manager.
//
// Per display it keeps one overlay window, its content view and (after the first summon there) its
// card scene, and reuses them while the screen's frame stays the same. A summon runs in named
// phases (each a traced interval of the "Summon" category), draws every texture the first
// frames need, hands the cards to the scene and shows the window; a commit hands the selected card
// to the activator; the dismissal then flies the cards out (when the flight is on), fades the window
// and orders it out once both have finished, with a watchdog that forces the overlay out if either
// never reports. With the flight off the window fades at once, click-through, under the same
// watchdog. Every delayed step captures `fadeGeneration` and does nothing once it moved on (a newer
// summon or dismissal) or once the controller is gone.
//
// Main thread only: every operation, delayed step and callback runs on the main queue. Locks of the
// services are taken inside their calls, one at a time; the scene lock is held for one read or one
// change.
class OverlayController final : public OverlayContentViewDelegate {
 public:
  // Builds the card scene of one display's content view; `onFocusChange` is the scene's focus sink
  // (called on the main queue). None when no scene can be made at all.
  using SceneFactory = std::function<std::unique_ptr<OverlayScene>(
      OverlayContentView& content, OverlayWindow& window, std::function<void(int, FocusChangeSource)> onFocusChange)>;

  struct Services {
    Executor& main;
    const AppSettings& settings;
    SceneWake& wake;
    OverlayCardSource& registry;
    OverlayPictureSource& cache;
    OverlayChromeTextures& textures;
    OverlayDesktop& desktop;
    // The content view's own services (text metrics, blur, cursors, ...), used for every display.
    OverlayContentView::Services contentServices;
    SceneFactory makeScene;
    // Brings a card forward (the activator's pick); returns at once.
    std::function<void(const WindowCard&)> pick;
    // The window system's own alpha animation (to, duration, ease-in, completion), where it has
    // one; when empty the controller steps the alpha itself on the main queue at 60 Hz.
    std::function<void(OverlayWindow&, double, double, bool, std::function<void()>)> animateAlpha;
    // Close and minimize from the switcher (none: every action is refused).
    OverlayWindowActions* windowActions = nullptr;
    // One haptic tick, where the system has haptic feedback.
    std::function<void()> hapticTick;
    // Asks for a still of what a screen shows, `width` pixels wide, without any of this program's
    // windows; the answer (none: no still) comes on the main queue, later. Empty: the live-desktop
    // backdrop shows no still.
    std::function<void(const ScreenInfo& screen, int width, std::function<void(std::optional<DesktopStill>)> done)>
        desktopStill;
    // The window system's time (milliseconds) of the key event the controller is acting on, when
    // the call comes from the key stream and the event has one; none otherwise. Empty: never known.
    std::function<std::optional<uint32_t>()> keyTime;
  };

  // One display's overlay.
  struct ScreenOverlay {
    std::shared_ptr<OverlayWindow> window;
    std::shared_ptr<OverlayContentView> content;
    std::shared_ptr<OverlayScene> renderer;  // none until a summon's renderer phase
  };

  using SearchField = quorvel::SearchField;

  // A cancellable piece of background work of the overlay (one per field below). Cancelling marks
  // it and runs its cancel hook (the task's own cancel), once.
  class PendingWork {
   public:
    PendingWork() : state_(std::make_shared<State>()) {}
    void cancel() const {
      if (state_->cancelled.exchange(true)) return;
      if (state_->hook) std::exchange(state_->hook, nullptr)();
    }
    bool isCancelled() const { return state_->cancelled.load(); }
    void setCancelHook(std::function<void()> hook) const {
      if (isCancelled()) {
        if (hook) hook();
        return;
      }
      state_->hook = std::move(hook);
    }

   private:
    struct State {
      std::atomic<bool> cancelled{false};
      std::function<void()> hook;  // main thread only
    };
    std::shared_ptr<State> state_;
  };

  // Waits of the overlay (seconds).
  static constexpr double kFadeDelayCancel = 0.16;
  static constexpr double kFadeDelayCommit = 0.1;
  static constexpr double kFadeDuration = 0.14;
  static constexpr double kWatchdogSlack = 0.6;  // the watchdog fires at fade delay + this + fade
  static constexpr double kOrderOutDelay = 1.0 / 30.0;
  static constexpr double kFadeInDuration = 0.2;
  static constexpr double kRefreshAfterSummon = 0.4;
  static constexpr double kIconSweepDelay = 1.0;
  // A sweep put off this long (summons that keep coming less than a second apart) runs at the
  // next hide without waiting, so the icons of applications that are gone do not pile up.
  static constexpr double kIconSweepLongestWait = 30.0;
  static constexpr double kActionFollowUpDelay = 1.5;
  static constexpr double kLiveHeroDelay = 0.15;
  static constexpr double kStartupPrewarmDelay = 0.5;
  // How long the start-up pre-warm lets the renderer it built draw before it stops it.
  static constexpr double kWarmFrameTime = 0.3;
  // Steps of a window alpha animation.
  static constexpr double kAnimationFrame = 1.0 / 60.0;
  static constexpr const char* kSwitcherDidSummon = "Quorvel.switcherDidSummon";

  explicit OverlayController(Services services);
  ~OverlayController() override;
  OverlayController(const OverlayController&) = delete;
  OverlayController& operator=(const OverlayController&) = delete;

  // ---- Wiring ----
  // Carries the keyboard state (none: the overlay is down) to the shortcut manager.
  std::function<void(std::optional<OverlayKeyboardState>)> reportKeyboardState;
  // "Quorvel.switcherDidSummon": notified after every summon and every quick flip that raised a window.
  Subscription addSummonObserver(std::function<void()> observer);
  // The defaults changed (the controller observes the settings store itself).
  void settingsChanged();
  // The screens changed (the program forwards the display service's change): drops the overlays of
  // displays that are gone.
  void dropGoneDisplays();
  // Application start-up: schedules the start-up pre-warm.
  void start();
  // The shortcut manager's pre-warm request (modifiers held while the overlay is down).
  void prewarmIfAllowed();

  // ---- Summon ----
  // Builds the cards and shows the overlay on the summon screen. Nothing while it is up.
  void present(bool byHotkey, AppSettings::HotkeyScope scope);
  // The tray menu is about to open: notes the window in front (the summon list's current card) and
  // the front application. Opening or closing the menu may move the focus (under a window manager
  // that focuses the window under the pointer, to the window under the menu).
  void noteMenuOpening();
  // The menu's summon: present(false, allWindows) with the window noted when the menu opened as the
  // first selection (when it is still a card) and its application as the one to return to.
  void presentFromMenu();
  // A further shortcut press while up: counts it and steps the selection.
  void stepSelection(int by);
  // The shortcut's modifiers were released (hold-to-switch commits). With the hold style that stays
  // on the current window, a tap of the shortcut (ShortcutTap) commits the window a quick flip would
  // raise instead.
  void onHotkeyRelease();
  // Delivers what the active overlay window has been sent so far (nothing while the overlay is
  // down): input from another road then acts after the keys typed before it.
  void catchUpInput();
  // Switches to the previous window without showing the overlay.
  void quickFlip(AppSettings::HotkeyScope scope);
  // The windows a flip goes between: the positions in `cards` of the windows on screen (neither
  // browser tabs nor windowless applications), front to back.
  static std::vector<size_t> flipOrder(const std::vector<WindowCard>& cards,
                                       const std::unordered_map<uint32_t, int>& zOrder);
  // Where a flip goes among them: the window behind the front one visited last (`byHistory` set),
  // else the one right behind the front one; none with fewer than two windows.
  static std::optional<size_t> flipTarget(const std::vector<WindowCard>& cards, const std::vector<size_t>& order,
                                          const std::unordered_map<uint32_t, uint64_t>& ticks,
                                          bool* byHistory = nullptr);

  // ---- Commit and dismissal ----
  // Commits the scene's selected card, or cancels when there is none.
  void commitSelection() override;
  // Hands presentedCards[index] to the activator and dismisses; an index outside cancels.
  void activate(int index);
  // Re-activates the application that was in front, then dismisses with no chosen card.
  void cancel() override;
  // Hides the overlay; `chosen` is the committed card's index, none for a cancel.
  void dismiss(std::optional<int> chosen);

  // ---- Dismiss keys and the keyboard ----
  void publishKeyboardState();
  // A dismiss key seen by the global tap (the raw value of a DismissKeyRoute).
  void handleTapKey(int route);

  // ---- Per-display overlays ----
  OverlayWindow* window(uint32_t display) const;
  OverlayContentView* content(uint32_t display) const;
  OverlayScene* renderer(uint32_t display) const;
  // Ensures the screen's overlay (reused while its frame is unchanged) and makes it current.
  std::pair<OverlayWindow*, OverlayContentView*> makeOverlayWindow(const ScreenInfo& screen);
  void makeDisplayActive(uint32_t display);
  void dropOverlay(uint32_t display);
  void applyStyle(bool animated);

  // ---- Content view and renderer callbacks ----
  void onFocusChange(int index, FocusChangeSource source);
  bool highlightCard(std::optional<int> index);
  void geometryChanged(OverlayContentView& view) override;
  void setSearchCaret(OverlayContentView& view, int index) override;
  void step(int by) override;
  void move(int direction) override;
  void scroll(double units) override;
  void flipStack(double units) override;
  void endScroll(double velocity) override;
  void endFlip(double velocity) override;
  // Search, pointer routes and window actions are filled in by their own parts of the overlay.

  // ---- Search ----
  // The content view opened (true) or closed the search; closing empties the query and shows every
  // card again, with the card in front still selected, or, when the query left no card, the card
  // that was selected when the search opened.
  void setSearching(bool searching) override;
  // Typed text at the query's caret; the cards are filtered again and the best match selected.
  void insertSearchText(const std::string& text) override;
  void deleteBackward() override;
  void deleteForward() override;
  // Every card of `cards` that matches the query, best first; equal scores keep their order.
  std::vector<WindowCard> filterCards(const std::string& query, const std::vector<WindowCard>& cards);
  // What the query is matched against: application name, title and, for a tab, its site.
  std::string searchHaystack(const WindowCard& card) const;
  // Filters the summon's cards again, picks the selection (the best match when `jumpToBest`, else
  // the card in front wherever it moved, else, when no card was shown, the card `whenNoneShown`,
  // else `fallbackIndex` clamped to the cards, else the first) and hands the cards to the scene.
  void applySearch(std::optional<int> fallbackIndex, bool jumpToBest,
                   std::optional<uint32_t> whenNoneShown = std::nullopt);

  // ---- Pointer routes ----
  void click(Point point, Size size) override;
  void middleClick(Point point, Size size) override;
  void hover(Point point, Size size) override;
  bool hoverSelect(Point point, Size size) override;
  void dragEntered() override;
  bool dragUpdate(Point point, Size size) override;
  void dragExited() override;
  void drop(Point point, Size size) override;

  // ---- Window actions ----
  // Close (0) or minimize (1) the selected card's window.
  void windowAction(int kind) override;
  // Closes or minimizes (a minimized window: restores) the window of presentedCards[index]; a
  // closed card leaves the switcher at once, a minimized or restored one shows its new state at
  // once, and 1.5 s after the action the cards are refreshed with what really happened.
  void performWindowAction(CardAction kind, int index);
  void removeClosedCard(uint32_t id);
  void showMinimized(uint32_t id, bool minimized);
  void startActionFollowUp();
  // Merges the registry's current cards into the summon; redraws only when something visible changed.
  void refreshCards();

  // ---- Focus follow-ups ----
  // The title capsule's text: the application name, and " · " with the title when it says more.
  static std::string titleText(const std::string& appName, const std::string& title);
  void startDragDwell(int index);
  void dragDwellFired(int index, int generation);

  // ---- Summon helpers (pure where they can be) ----
  static std::vector<WindowCard> visibleCards(const std::vector<WindowCard>& cards, AppSettings::TabsDisplay mode,
                                              bool searching);
  static OverlayCardSource::SummonList limitToScope(OverlayCardSource::SummonList list,
                                                    AppSettings::HotkeyScope scope,
                                                    const std::optional<RunningApplication>& front);
  static std::optional<int> remapIndex(int index, const std::vector<WindowCard>& from,
                                       const std::vector<WindowCard>& to);
  std::vector<WindowCard> trimPiles(const std::vector<WindowCard>& cards) const;
  std::vector<Rect> sourceFrames(const std::vector<WindowCard>& cards, const ScreenInfo& screen);
  static std::vector<CardLabel> labelPlaceholderKeys(const std::vector<WindowCard>& cards);
  static std::vector<CardTitle> prepareTitles(const std::vector<WindowCard>& cards);
  // The cards whose titles are drawn ahead when the title cache keeps only `capacity` plates: all of
  // them when they fit, else the first two thirds of the capacity from the front of the order and
  // the rest from its end (the cards around the first selection, which the first frames show).
  static std::vector<WindowCard> titleCards(const std::vector<WindowCard>& cards, size_t capacity);
  static AppSettings::TabsDisplay readTabsMode(const AppSettings& settings);
  std::optional<ScreenInfo> summonScreen(const std::optional<RunningApplication>& front);
  std::optional<ScreenInfo> pointerScreen();
  std::optional<ScreenInfo> activeWindowScreen(const std::optional<RunningApplication>& front);
  std::optional<ScreenInfo> builtInScreen();
  std::optional<double> primaryScreenHeight();
  // The screens as the summon in progress read them, else as the desktop has them now.
  std::vector<ScreenInfo> currentScreens();
  static uint32_t displayID(const ScreenInfo& screen) { return screen.screenNumber.value_or(0); }
  void updateLiveHero(int index);
  void updateEmptyState();
  void updateTitleForFocus(int index);
  void updateTipForFocus(int index);
  // The chrome (capsules, tip, empty state, backdrop) changed: the scene draws it again now and on
  // each of the next frames while its animations may run (kChromeSettle).
  void scheduleChromeRefresh();
  static constexpr double kChromeSettle = 0.3;

  // ---- State, read by the program and tests ----
  bool isVisible() const { return isVisible_; }
  bool isPrewarming() const { return isPrewarming_; }
  std::optional<uint32_t> activeDisplay() const { return activeDisplay_; }
  const std::vector<WindowCard>& presentedCards() const { return presentedCards_; }
  const std::vector<WindowCard>& allPresentedCards() const { return allPresentedCards_; }
  const SearchField& searchField() const { return searchField_; }
  bool isSearching() const { return isSearching_; }
  bool isDragging() const { return isDragging_; }
  const std::optional<ScreenInfo>& presentedScreen() const { return presentedScreen_; }
  int presentedPreviousIndex() const { return presentedPreviousIndex_; }
  std::optional<int32_t> presentedScopePID() const { return presentedScopePID_; }
  const std::optional<RunningApplication>& previousApp() const { return previousApp_; }
  bool summonedByHotkey() const { return summonedByHotkey_; }
  int hotkeyPressCount() const { return hotkeyPressCount_; }
  double summonTime() const { return summonTime_; }
  bool flightEnabled() const { return flightEnabled_; }
  bool hapticTicks() const { return hapticTicks_; }
  AppSettings::HoverSelectMode hoverSelectMode() const { return hoverSelectMode_; }
  AppSettings::DragCommitMode dragCommitMode() const { return dragCommitMode_; }
  double dragRestSeconds() const { return dragRestSeconds_; }
  bool windowActionsEnabled() const { return windowActionsEnabled_; }
  AppSettings::TabsDisplay tabsMode() const { return tabsMode_; }
  AppSettings::SwitcherStyle style() const { return style_; }
  double cardSpacing() const { return cardSpacing_; }
  int fadeGeneration() const { return fadeGeneration_; }
  bool dismissFlightDone() const { return dismissFlightDone_; }
  bool dismissFadeDone() const { return dismissFadeDone_; }
  // An icon sweep is owed (it runs 1 s after a dismissal while the overlay stays down).
  bool iconSweepPending() const { return iconSweepPending_; }
  const std::set<uint32_t>& closedWindowIDs() const { return closedWindowIDs_; }
  // Background work of the summon in flight (none when idle).
  const std::optional<PendingWork>& missingCaptureTask() const { return missingCaptureTask_; }
  const std::optional<PendingWork>& liveHeroTask() const { return liveHeroTask_; }
  const std::optional<PendingWork>& refreshTask() const { return refreshTask_; }
  const std::optional<PendingWork>& actionFollowUpTask() const { return actionFollowUpTask_; }
  const std::optional<PendingWork>& dragDwellTask() const { return dragDwellTask_; }
  size_t overlayCount() const { return overlays_.size(); }
  // The alpha the controller last gave a window.
  static double alphaOf(const OverlayWindow& window) { return window.alpha(); }

 private:
  using Weak = std::weak_ptr<OverlayController*>;
  // Runs `job` on the main queue after `seconds` while the controller lives.
  void after(double seconds, std::function<void(OverlayController&)> job);
  // Animates a window's alpha from its current value to `to` over `duration` (ease-in when `easeIn`,
  // else ease-out); `done` runs on the main queue at the end while the controller lives. A newer
  // animation of the same window voids an older one (its `done` never runs).
  void animateAlpha(const std::shared_ptr<OverlayWindow>& window, double to, double duration, bool easeIn,
                    std::function<void(OverlayController&)> done);
  struct AlphaAnimation;
  void alphaStep(const std::shared_ptr<AlphaAnimation>& animation);
  template <class F>
  void phase(const char* name, F&& body);
  std::shared_ptr<OverlayScene> makeRenderer(OverlayContentView& content, OverlayWindow& window);
  void activateOverlay(const std::shared_ptr<OverlayWindow>& window, OverlayContentView& content);
  void startMissingCaptures();
  // The still of the desktop behind the cards: asked for at a summon, blurred as the settings say
  // and faded in under the cards when it comes in (OverlayControllerBackdrop.cpp).
  void requestBackdropStill(const ScreenInfo& screen, OverlayContentView& content, OverlayWindow& window);
  void takeBackdropStill(uint64_t generation, uint32_t display, double blurAmount, std::optional<DesktopStill> still);
  void showBackdropStill(uint64_t generation, uint32_t display, std::shared_ptr<const DesktopStill> blurred);
  void scheduleRefresh(int generation);
  void startRefreshTask();
  void scheduleIconSweep();
  void cancelDragDwell();
  void refreshAfterSummon(const PendingWork& work, const std::vector<WindowCard>& shown, bool siteIcons);
  void liveHeroStarted(uint64_t sequence, uint32_t id, bool running);
  void updateLivePreview();
  void actionFollowUpRefreshed(int generation);
  std::optional<uint32_t> cardIDAt(int index) const;
  OverlayScene* activeScene() const;
  // The front card: the card the camera rests on or is heading for (its target, rounded halves away
  // from zero into the live cards); 0 without cards.
  int frontIndex(OverlayScene& scene);
  void bringForward(OverlayScene& scene, int index);
  void hapticTick();
  int selectedIndex(OverlayScene& scene);
  // Now, as the shortcut tap reads it.
  ShortcutTap::Moment keyMoment() const;
  // The card a tap of the shortcut commits: the one the quick flip would raise, else the summon's
  // previous card.
  int tapTarget();
  // Dismissal steps (each keyed by its generation).
  void prepareDismissal();
  void resetBlur();
  void fadeOutWithoutFlight();
  void startDismissFade(int generation, const std::shared_ptr<OverlayWindow>& window);
  void dismissFadeDidFinish(int generation);
  void dismissFlightDidFinish(int generation);
  void finishDismissalIfDone(int generation);
  void orderOutAfterFade(const std::shared_ptr<OverlayWindow>& window, int generation);
  void forceDismissal(int generation, const std::shared_ptr<OverlayWindow>& window);
  void stopLiveStream();
  void pruneSiteIcons();
  // Pre-warm, in slices on the main queue.
  struct PrewarmRun;
  void prewarm(double delay, bool immediately, bool refreshFirst, bool buildWindow);
  void prewarmStep(std::shared_ptr<PrewarmRun> run);
  void warmRenderer(const ScreenInfo& screen, const std::vector<WindowCard>& cards);
  void endPrewarm() { isPrewarming_ = false; }
  std::shared_ptr<OverlayWindow> sharedWindow(uint32_t display) const;

  Services services_;
  Logger logger_{"OverlayController"};
  Tracer summonTracer_{"Summon"};
  ObserverList<> summonObservers_;
  Subscription defaultsObserver_;

  std::map<uint32_t, ScreenOverlay> overlays_;
  std::optional<uint32_t> activeDisplay_;
  std::vector<WindowCard> presentedCards_;
  std::vector<WindowCard> allPresentedCards_;
  SearchField searchField_;
  // The search's haystacks read once a summon (a card whose haystack changed is read again).
  SearchCorpus searchCorpus_;
  bool isSearching_ = false;
  // The window of the card selected when the search opened.
  std::optional<uint32_t> selectedBeforeSearch_;
  bool isDragging_ = false;
  std::optional<int> dragDwellIndex_;
  std::optional<PendingWork> dragDwellTask_;
  std::optional<ScreenInfo> presentedScreen_;
  // The screens read at the start of the summon in progress (none outside a summon).
  std::optional<std::vector<ScreenInfo>> summonScreens_;
  int presentedPreviousIndex_ = 0;
  std::optional<uint32_t> presentedCurrentID_;  // the window current at the summon, when listed
  std::optional<int32_t> presentedScopePID_;
  // The bundle identifier of that application: its other processes are in the scope too.
  std::optional<std::string> presentedScopeBundleID_;
  std::optional<RunningApplication> previousApp_;
  // What was in front when the tray menu last opened (noteMenuOpening), and, during the menu's
  // summon, what that summon goes by.
  struct MenuFront {
    std::optional<uint32_t> window;
    std::optional<RunningApplication> application;
  };
  std::optional<MenuFront> menuFront_, summonFront_;
  bool summonedByHotkey_ = false;
  ShortcutTap shortcutTap_;
  int hotkeyPressCount_ = 0;
  double summonTime_ = 0;
  bool flightEnabled_ = true;
  bool hapticTicks_ = true;
  AppSettings::HoverSelectMode hoverSelectMode_ = AppSettings::HoverSelectMode::highlight;
  AppSettings::DragCommitMode dragCommitMode_ = AppSettings::DragCommitMode::release;
  double dragRestSeconds_ = 0.8;
  bool windowActionsEnabled_ = true;
  AppSettings::TabsDisplay tabsMode_ = AppSettings::TabsDisplay::whileSearching;
  std::optional<PendingWork> refreshTask_;
  std::optional<PendingWork> missingCaptureTask_;
  std::optional<PendingWork> actionFollowUpTask_;
  std::set<uint32_t> closedWindowIDs_;
  std::optional<PendingWork> liveHeroTask_;
  uint64_t liveHeroSequence_ = 0;  // the number of the newest live-picture decision
  std::optional<PendingWork> iconSweepTask_;
  bool iconSweepPending_ = false;
  Instant iconSweepPendingSince_{};  // when the sweep still pending was first wanted
  AppSettings::SwitcherStyle style_;
  AppSettings::GridOrder gridOrder_;
  AppSettings::PanoramaArrows panoramaArrows_;
  double cardSpacing_;
  int fadeGeneration_ = 0;
  bool dismissFlightDone_ = false;
  bool dismissFadeDone_ = false;
  std::optional<int> finishedGeneration_;
  bool isVisible_ = false;
  bool isPrewarming_ = false;
  void refreshChrome();
  // The chrome is drawn again until this instant (none: no refresh pending).
  std::optional<Instant> chromeUntil_;
  bool chromePumping_ = false;
  uint64_t backdropGeneration_ = 0;  // the summon a still belongs to
  // Alpha animations: the newest per window.
  std::unordered_map<const OverlayWindow*, uint64_t> alphaAnimations_;
  uint64_t nextAnimation_ = 0;

  // Delayed steps and callbacks hold this weakly: they do nothing once the controller is gone.
  std::shared_ptr<OverlayController*> self_ = std::make_shared<OverlayController*>(this);
};

}  // namespace quorvel
