#pragma once

#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "base/DefaultsStore.h"
#include "base/ManualLoop.h"
#include "overlay/FixedTextMetrics.h"
#include "overlay/controller/OverlayController.h"
#include "scene/render/SnapshotBuilder.h"
#include "scene/SceneWake.h"
#include "settings/AppSettings.h"

namespace quorvel {

class FakeCardSource final : public OverlayCardSource {
 public:
  SummonList list;
  std::unordered_map<uint32_t, uint32_t> showing;
  std::unordered_map<uint32_t, uint64_t> ticks;
  std::unordered_map<uint32_t, int> zOrder;
  std::vector<std::function<void()>> refreshes;  // held until the test finishes them
  int summonLists = 0;

  SummonList cardsForSummon() override {
    ++summonLists;
    return list;
  }
  std::unordered_map<uint32_t, uint32_t> showingTabByHost() override { return showing; }
  std::unordered_map<uint32_t, uint64_t> visitTicks() override { return ticks; }
  std::vector<WindowCard> expandedCards() override { return list.cards; }
  void requestRefresh(std::function<void()> done) override { refreshes.push_back(std::move(done)); }
  void finishRefreshes() {
    auto held = std::move(refreshes);
    refreshes.clear();
    for (auto& done : held) done();
  }
  std::unordered_map<uint32_t, int> zOrderByWindowID() override { return zOrder; }
};

// The live stream honours only the newest request number, as the capture side does. Starts can be
// held back to arrive after later requests.
class FakePictures final : public OverlayPictureSource {
 public:
  int begins = 0, ends = 0, flushes = 0, starts = 0, stillCaptures = 0, stillCancels = 0;
  uint64_t sequence = 0, newestSeen = 0;
  std::vector<std::vector<WindowCard>> refreshCaptureLists;
  std::optional<uint32_t> live;
  bool holdStarts = false;
  std::vector<std::function<void()>> heldStarts;
  std::vector<std::function<void()>> pendingStills;  // their `done`, held until the test runs them

  void beginPresentation() override { ++begins; }
  void endPresentation() override { ++ends; }
  void flushRetired() override { ++flushes; }
  std::function<void()> captureStills(const std::vector<WindowCard>&, const std::unordered_map<uint32_t, uint32_t>&,
                                      const std::unordered_map<uint32_t, uint64_t>&,
                                      std::function<void()> done) override {
    ++stillCaptures;
    pendingStills.push_back(std::move(done));
    return [this] { ++stillCancels; };
  }
  void refreshCaptures(const std::vector<WindowCard>& cards, const std::unordered_map<uint32_t, uint32_t>&,
                       const std::unordered_map<uint32_t, uint64_t>&) override {
    refreshCaptureLists.push_back(cards);
  }
  uint64_t nextLiveSequence() override { return ++sequence; }
  void startLiveHero(uint64_t seq, uint32_t window, std::optional<uint32_t>, std::function<void(bool)> started) override {
    ++starts;
    auto apply = [this, seq, window, started] {
      if (seq <= newestSeen) return started(false);
      newestSeen = seq;
      live = window;
      started(true);
    };
    if (holdStarts) heldStarts.push_back(apply);
    else apply();
  }
  void stopLiveHero(uint64_t seq) override {
    if (seq <= newestSeen) return;
    newestSeen = seq;
    live.reset();
  }
  std::optional<uint32_t> liveWindowID() override { return live; }
  void releaseStarts() {
    auto held = std::move(heldStarts);
    heldStarts.clear();
    for (auto& start : held) start();
  }
};

class FakeTextures final : public OverlayChromeTextures {
 public:
  std::vector<double> opacities;
  std::vector<std::vector<IconRequest>> icons;
  std::vector<std::vector<CardLabel>> labels;
  std::vector<std::vector<CardTitle>> titles;
  int sweeps = 0;
  std::vector<std::pair<std::unordered_set<uint32_t>, bool>> prunes;
  std::unordered_map<uint32_t, std::string> sites;
  std::vector<bool> siteIconRequests;

  void setPlateOpacity(double opacity) override { opacities.push_back(opacity); }
  std::function<void()> onIcons;
  void prepareIcons(const std::vector<IconRequest>& r) override {
    icons.push_back(r);
    if (onIcons) onIcons();
  }
  std::function<void()> onPlates;
  void prepareLabels(const std::vector<CardLabel>& l) override {
    labels.push_back(l);
    if (onPlates) onPlates();
  }
  void prepareTitles(const std::vector<CardTitle>& t) override {
    titles.push_back(t);
    if (onPlates) onPlates();
  }
  size_t capacity = SIZE_MAX;
  size_t titleCapacity() const override { return capacity; }
  void sweepIcons() override { ++sweeps; }
  void pruneSiteIcons(const std::unordered_set<uint32_t>& tabs, bool wanted) override { prunes.push_back({tabs, wanted}); }
  std::optional<std::string> tabSite(uint32_t id) override {
    auto found = sites.find(id);
    return found == sites.end() ? std::nullopt : std::optional(found->second);
  }
  void requestSiteIcons(const std::vector<WindowCard>&, bool wanted) override { siteIconRequests.push_back(wanted); }
  CardRenderer::Providers providers() override { return {}; }
};

// What happened to a window, kept apart from the window so a test can read it after the window went.
struct WindowLog {
  int shows = 0, orderOuts = 0, keys = 0;
  bool visible = false;
  bool clickThrough = false;
  std::vector<double> alphas;
};

class FakeOverlayWindow final : public OverlayWindow {
 public:
  FakeOverlayWindow(Rect frame, std::shared_ptr<WindowLog> log) : frame_(frame), log_(std::move(log)) {}
  Rect frame() const override { return frame_; }
  double backingScale() const override { return 1.0; }
  int windowNumber() const override { return 7; }
  void setContentView(OverlayContentView*) override {}
  void show() override {
    ++log_->shows;
    log_->visible = true;
  }
  void makeKey() override {
    ++log_->keys;
    key_ = true;
  }
  bool isKey() override { return key_ && log_->visible; }
  void orderOut() override {
    ++log_->orderOuts;
    log_->visible = false;
  }
  bool isVisible() const override { return log_->visible; }
  void setClickThrough(bool on) override { log_->clickThrough = on; }
  void setHiddenFromScreenSharing(bool) override {}
  void setAlpha(double a) override {
    alpha_ = a;
    log_->alphas.push_back(a);
  }
  bool blurAvailable() override { return false; }
  bool setBackgroundBlur(int) override { return false; }
  bool dispatchEvents() override { return true; }
  void loseKey() {
    key_ = false;
    if (onKeyStatusChange) onKeyStatusChange(false);
  }

 private:
  Rect frame_;
  std::shared_ptr<WindowLog> log_;
  bool key_ = false;
};

// A scene on the real scene state that holds the dismiss flight's completion until the test
// releases it (or the scene is stopped).
class FakeScene final : public OverlayScene {
 public:
  struct Log {
    int presents = 0, stops = 0, shutdowns = 0, chromes = 0;
    bool flyIn = false;
    int startIndex = -1;
    std::optional<bool> livePreview;
    std::vector<std::optional<int>> flights;
    std::vector<std::optional<DesktopStill>> stills;  // each backdrop still shown (none: cleared)
    std::vector<double> stillRadii;
  };
  FakeScene(Executor& main, SceneWake& wake, std::shared_ptr<Log> log) : main_(main), wake_(wake), log_(std::move(log)) {}

  void present(const std::vector<WindowCard>& cards, const std::vector<Rect>& rects, bool flyIn, int startIndex,
               double) override {
    ++log_->presents;
    log_->flyIn = flyIn;
    log_->startIndex = startIndex;
    SceneState::InstallOptions options;
    options.snapshots = SnapshotBuilder::snapshots(cards, rects, {});
    options.startFocus = cards.empty() ? 0 : std::clamp(startIndex, 0, static_cast<int>(cards.size()) - 1);
    state_.withLock([&](SceneState::Storage& s) { wake_.wake(s, [&](auto& st) { SceneState::install(st, options); }); });
    // A flight still pending is superseded by the new card set.
    if (held_) main_.post(std::exchange(held_, nullptr));
  }
  void stop() override {
    ++log_->stops;
    state_.withLock([&](SceneState::Storage& s) { SceneState::clear(s); });
    if (held_) main_.post(std::exchange(held_, nullptr));
  }
  void shutdown() override { ++log_->shutdowns; }
  void syncDrawableSize() override {}
  void refreshSnapshots(const std::vector<WindowCard>& cards, const std::vector<Rect>& rects, int focus) override {
    auto snapshots = SnapshotBuilder::snapshots(cards, rects, {});
    state_.withLock([&](SceneState::Storage& s) {
      wake_.wake(s, [&](auto& st) { SceneState::reform(st, std::move(snapshots), {}, focus); });
    });
  }
  SceneState::Completion dismissFlight(std::optional<int> chosen, SceneState::Completion completion) override {
    log_->flights.push_back(chosen);
    if (held_ || !holdFlights) return completion;  // a flight under way, or nothing to fly
    held_ = std::move(completion);
    return nullptr;
  }
  bool cardIsStacked(int) override { return false; }
  bool isFrontOfPile(int index) override { return !buried.count(index); }
  std::pair<int, std::optional<CardAction>> hitTest(Point, double, double) override {
    if (badge) return {badge->first, badge->second};
    return {state_.withLock([](SceneState::Storage& s) { return SceneState::selectedIndex(s); }), std::nullopt};
  }
  std::optional<int> cardAtPoint(Point, double, double) override { return cardUnderPointer; }
  void setLivePreview(bool on) override { log_->livePreview = on; }
  void showChrome(const OverlayContentView&, Instant) override { ++log_->chromes; }
  // Shows the still as it is (the blur is the card renderer's), at once.
  void showBackdropStill(std::shared_ptr<const DesktopStill> still, double radius, StillReady ready) override {
    log_->stills.push_back(still ? std::optional<DesktopStill>(*still) : std::nullopt);
    log_->stillRadii.push_back(radius);
    if (still && ready) ready(std::move(still));
  }
  SceneState& state() override { return state_; }

  // Ends the held flight: its completion goes to the main queue.
  bool releaseFlight() {
    if (!held_) return false;
    main_.post(std::exchange(held_, nullptr));
    return true;
  }
  bool holdFlights = true;
  // What the pointer is over: a card, the cards behind the front of their pile, an action badge.
  std::optional<int> cardUnderPointer;
  std::set<int> buried;
  std::optional<std::pair<int, CardAction>> badge;

 private:
  Executor& main_;
  SceneWake& wake_;
  std::shared_ptr<Log> log_;
  SceneState state_;
  SceneState::Completion held_;
};

// Window actions that record what they were asked and hold their completions until the test ends them.
class FakeWindowActions final : public OverlayWindowActions {
 public:
  std::vector<std::string> calls;
  std::optional<OwnWindow> own;
  std::vector<std::function<void()>> pending;
  int beeps = 0;

  std::optional<OwnWindow> ownWindow(const WindowCard&) override { return own; }
  void closeOwnWindow(uint32_t n) override { calls.push_back("closeOwn " + std::to_string(n)); }
  void setOwnWindowMinimized(uint32_t n, bool m) override {
    calls.push_back((m ? "minimizeOwn " : "restoreOwn ") + std::to_string(n));
  }
  void close(const AXHandleRef&, std::function<void()> done) override {
    calls.push_back("close");
    pending.push_back(std::move(done));
  }
  void setMinimized(const AXHandleRef&, bool m, std::function<void()> done) override {
    calls.push_back(m ? "minimize" : "restore");
    pending.push_back(std::move(done));
  }
  void beep() override { ++beeps; }
  void finish() {
    auto held = std::move(pending);
    pending.clear();
    for (auto& done : held) done();
  }
};

class FakeDesktop final : public OverlayDesktop {
 public:
  std::vector<ScreenInfo> screenList;
  std::optional<Point> pointer;
  std::optional<RunningApplication> front;
  std::unordered_map<int32_t, Rect> frontWindows;
  std::vector<int32_t> activated;
  int selfActivations = 0;
  uint32_t buttons = 0;
  bool reduce = false;
  bool captureGranted = true;
  std::vector<std::shared_ptr<WindowLog>> windows;  // one per window made, in order
  std::vector<std::string> builtInNames{"eDP-1"};

  int screenReads = 0;
  std::vector<ScreenInfo> screens() override {
    ++screenReads;
    return screenList;
  }
  std::optional<Point> pointerLocation() override { return pointer; }
  std::optional<RunningApplication> frontmostApplication() override { return front; }
  bool activateApplication(int32_t pid) override {
    activated.push_back(pid);
    return true;
  }
  void activateSelf() override { ++selfActivations; }
  bool applicationIsActive() override { return true; }
  std::optional<Rect> frontWindowBounds(int32_t pid) override {
    auto found = frontWindows.find(pid);
    return found == frontWindows.end() ? std::nullopt : std::optional(found->second);
  }
  bool isBuiltIn(const ScreenInfo& s) override {
    return std::find(builtInNames.begin(), builtInNames.end(), s.localizedName) != builtInNames.end();
  }
  double maximumFramesPerSecond(const ScreenInfo&) override { return 60; }
  uint32_t pressedMouseButtons() override { return buttons; }
  bool reduceMotion() override { return reduce; }
  bool screenCaptureGranted() override { return captureGranted; }
  std::optional<bool> screenCaptureGrantedAtLaunch() override { return std::nullopt; }
  std::unique_ptr<OverlayWindow> makeWindow(const ScreenInfo& screen) override {
    windows.push_back(std::make_shared<WindowLog>());
    return std::make_unique<FakeOverlayWindow>(screen.frame, windows.back());
  }
};

// A controller on a manual loop with every service faked: two screens side by side (display 1 at the
// origin, 1440 × 900; display 2 to its right, 1920 × 1080) and three cards of three applications.
struct ControllerRig {
  ManualLoop loop;
  DefaultsStore store;
  AppSettings settings{store};
  SceneWake wake{loop.clock()};
  FixedTextMetrics metrics;
  FakeCardSource cards;
  FakePictures pictures;
  FakeTextures textures;
  FakeDesktop desktop;
  FakeWindowActions windowActions;
  int haptics = 0;
  std::vector<std::shared_ptr<FakeScene::Log>> scenes;  // one per scene made
  std::vector<FakeScene*> liveScenes;
  std::vector<WindowCard> picked;
  std::vector<std::optional<OverlayKeyboardState>> keyboard;
  int summons = 0;
  std::optional<uint32_t> keyTime;  // the time of the key event the controller acts on
  std::unique_ptr<OverlayController> controller;
  Subscription summonObserver;
  std::function<void(OverlayWindow&, double, double, bool, std::function<void()>)> animateAlpha;
  // The stills of the desktop asked for, each answered when a test calls its `done`.
  struct StillRequest {
    ScreenInfo screen;
    int width = 0;
    std::function<void(std::optional<DesktopStill>)> done;
  };
  std::vector<StillRequest> stillRequests;

  ControllerRig() {
    settings.registerDefaults();
    store.set("animateFlight", true);
    store.set("liveHero", true);
    desktop.screenList = {ScreenInfo{1u, "a", {0, 0, 1440, 900}, {0, 0, 1440, 875}, "HDMI-1"},
                          ScreenInfo{2u, "b", {1440, 0, 1920, 1080}, {1440, 0, 1920, 1080}, "DP-1"}};
    desktop.pointer = Point{100, 100};
    desktop.front = RunningApplication{11, std::string("org.a"), std::string("Alpha")};
    cards.list.cards = {card(101, 11, "Alpha"), card(102, 12, "Beta"), card(103, 13, "Gamma")};
    cards.list.currentIndex = 0;
    cards.list.previousIndex = 1;
    make();
  }

  static WindowCard card(uint32_t id, int32_t pid, std::string app, Rect frame = {100, 100, 800, 600}) {
    WindowCard c;
    c.id = id;
    c.pid = pid;
    c.appName = std::move(app);
    c.title = c.appName + " window";
    c.frame = frame;
    return c;
  }

  void make() {
    OverlayContentView::Services content{metrics, loop.main(), settings, [] { return false; },
                                         [](int, int) { return false; }, [] { return false; },
                                         [] { return std::optional<std::string>(); }, [](bool) {}, [] { return true; }};
    OverlayController::Services services{
        loop.main(), settings, wake, cards, pictures, textures, desktop, content,
        [this](OverlayContentView&, OverlayWindow&, std::function<void(int, FocusChangeSource)>) {
          scenes.push_back(std::make_shared<FakeScene::Log>());
          auto scene = std::make_unique<FakeScene>(loop.main(), wake, scenes.back());
          liveScenes.push_back(scene.get());
          return scene;
        },
        [this](const WindowCard& c) { picked.push_back(c); }, animateAlpha, &windowActions, [this] { ++haptics; }};
    services.desktopStill = [this](const ScreenInfo& screen, int width,
                                   std::function<void(std::optional<DesktopStill>)> done) {
      stillRequests.push_back({screen, width, std::move(done)});
    };
    services.keyTime = [this] { return keyTime; };
    controller = std::make_unique<OverlayController>(services);
    controller->reportKeyboardState = [this](std::optional<OverlayKeyboardState> s) { keyboard.push_back(s); };
    summonObserver = controller->addSummonObserver([this] { ++summons; });
  }

  void summon(bool byHotkey = true) {
    controller->present(byHotkey, AppSettings::HotkeyScope::allWindows);
    loop.runUntilIdle();
  }
  // Runs the loop until `seconds` after `from` (every delayed job at its due time).
  void runTo(Instant from, double seconds) {
    const Instant end = from + fromSeconds(seconds);
    if (end > now()) loop.advance(end - now());
    loop.runUntilIdle();
  }
  Instant now() { return loop.clock().now(); }
  WindowLog& window(size_t i = 0) { return *desktop.windows.at(i); }
  FakeScene::Log& scene(size_t i = 0) { return *scenes.at(i); }
};

}  // namespace quorvel
