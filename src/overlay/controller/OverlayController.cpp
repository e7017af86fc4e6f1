#include "overlay/controller/OverlayController.h"

#include <algorithm>
#include <cmath>

#include "base/TextServices.h"
#include "scene/LayoutFactory.h"

namespace quorvel {

OverlayController::OverlayController(Services services)
    : services_(std::move(services)),
      style_(services_.settings.switcherStyle()),
      gridOrder_(services_.settings.gridOrder()),
      panoramaArrows_(services_.settings.panoramaArrows()),
      cardSpacing_(services_.settings.cardSpacing(style_)) {
  // Each change of the defaults is looked at on the main queue, while the controller lives.
  defaultsObserver_ = services_.settings.store().addObserver([weak = Weak(self_), &main = services_.main] {
    main.post([weak] {
      if (auto self = weak.lock()) (*self)->settingsChanged();
    });
  });
}

OverlayController::~OverlayController() {
  // Delayed steps, animations and callbacks find the controller gone from here on.
  defaultsObserver_ = Subscription();
  self_.reset();
  for (auto& [id, overlay] : overlays_) {
    overlay.content->overlayDelegate = nullptr;
    overlay.window->onKeyStatusChange = nullptr;
    overlay.window->setContentView(nullptr);
  }
}

Subscription OverlayController::addSummonObserver(std::function<void()> observer) {
  return summonObservers_.add(std::move(observer));
}

void OverlayController::after(double seconds, std::function<void(OverlayController&)> job) {
  Weak weak = self_;
  auto run = [weak, job = std::move(job)] {
    if (auto self = weak.lock()) job(**self);
  };
  if (seconds <= 0) services_.main.post(std::move(run));
  else services_.main.postAfter(fromSeconds(seconds), std::move(run));
}

struct OverlayController::AlphaAnimation {
  uint64_t token = 0;
  std::weak_ptr<OverlayWindow> window;
  double from = 1, to = 1, duration = 0;
  Instant start{};
  bool easeIn = false;
  std::function<void(OverlayController&)> done;
};

void OverlayController::animateAlpha(const std::shared_ptr<OverlayWindow>& window, double to, double duration,
                                     bool easeIn, std::function<void(OverlayController&)> done) {
  auto animation = std::make_shared<AlphaAnimation>();
  animation->token = ++nextAnimation_;
  animation->window = window;
  animation->from = window->alpha();
  animation->to = to;
  animation->duration = duration;
  animation->start = services_.main.clock().now();
  animation->easeIn = easeIn;
  animation->done = std::move(done);
  alphaAnimations_[window.get()] = animation->token;
  if (services_.animateAlpha) {
    services_.animateAlpha(*window, to, duration, easeIn, [weak = Weak(self_), animation] {
      auto self = weak.lock();
      auto w = animation->window.lock();
      if (!self || !w) return;
      OverlayController& c = **self;
      const auto found = c.alphaAnimations_.find(w.get());
      if (found == c.alphaAnimations_.end() || found->second != animation->token) return;
      c.alphaAnimations_.erase(found);
      if (animation->done) animation->done(c);
    });
    return;
  }
  after(0, [animation](OverlayController& self) { self.alphaStep(animation); });
}

void OverlayController::alphaStep(const std::shared_ptr<AlphaAnimation>& animation) {
  auto w = animation->window.lock();
  const auto found = w ? alphaAnimations_.find(w.get()) : alphaAnimations_.end();
  if (found == alphaAnimations_.end() || found->second != animation->token) return;  // superseded or gone
  const double elapsed = toSeconds(services_.main.clock().now() - animation->start);
  const double t = animation->duration > 0 ? std::clamp(elapsed / animation->duration, 0.0, 1.0) : 1.0;
  const double eased = animation->easeIn ? t * t : 1 - (1 - t) * (1 - t);
  w->setAlpha(animation->from + (animation->to - animation->from) * eased);
  if (t < 1) {
    after(kAnimationFrame, [animation](OverlayController& self) { self.alphaStep(animation); });
    return;
  }
  alphaAnimations_.erase(found);
  if (animation->done) animation->done(*this);
}

// ---- Settings and style ----

void OverlayController::settingsChanged() {
  const AppSettings& settings = services_.settings;
  const auto s = settings.switcherStyle();
  const auto g = settings.gridOrder();
  const auto p = settings.panoramaArrows();
  const double c = settings.cardSpacing(s);
  const bool matters = s != style_ || (g != gridOrder_ && s == AppSettings::SwitcherStyle::expo) ||
                       (p != panoramaArrows_ && s == AppSettings::SwitcherStyle::cylinder) || c != cardSpacing_;
  cardSpacing_ = c;
  if (!matters) return;
  style_ = s;
  gridOrder_ = g;
  panoramaArrows_ = p;
  applyStyle(isVisible_);
}

void OverlayController::applyStyle(bool animated) {
  if (!activeDisplay_) return;
  OverlayScene* scene = renderer(*activeDisplay_);
  if (!scene) return;
  using Style = AppSettings::SwitcherStyle;
  LayoutRef layout = LayoutFactory::makeLayout(style_, static_cast<float>(cardSpacing_), gridOrder_, panoramaArrows_);
  const bool clamp = style_ == Style::coverArc || style_ == Style::flip3d || style_ == Style::expo || style_ == Style::row;
  const auto mode = clamp ? OrbitCamera::FocusMode::clamp : OrbitCamera::FocusMode::wrap;
  const double damping = style_ == Style::flatRing ? 0.66 : 0.92;
  scene->state().withLock([&](SceneState::Storage& s) {
    services_.wake.wake(s, [&](SceneState::Storage& st) { SceneState::applyStyle(st, mode, animated, layout, damping); });
  });
}

// ---- Per-display overlays ----

OverlayWindow* OverlayController::window(uint32_t display) const {
  auto found = overlays_.find(display);
  return found == overlays_.end() ? nullptr : found->second.window.get();
}

std::shared_ptr<OverlayWindow> OverlayController::sharedWindow(uint32_t display) const {
  auto found = overlays_.find(display);
  return found == overlays_.end() ? nullptr : found->second.window;
}

OverlayContentView* OverlayController::content(uint32_t display) const {
  auto found = overlays_.find(display);
  return found == overlays_.end() ? nullptr : found->second.content.get();
}

OverlayScene* OverlayController::renderer(uint32_t display) const {
  auto found = overlays_.find(display);
  return found == overlays_.end() ? nullptr : found->second.renderer.get();
}

std::pair<OverlayWindow*, OverlayContentView*> OverlayController::makeOverlayWindow(const ScreenInfo& screen) {
  const uint32_t id = displayID(screen);
  makeDisplayActive(id);
  const bool hidden = services_.settings.boolValue("hideFromScreenSharing");
  if (auto found = overlays_.find(id); found != overlays_.end() && found->second.window->frame() == screen.frame) {
    activeDisplay_ = id;
    found->second.window->setHiddenFromScreenSharing(hidden);
    return {found->second.window.get(), found->second.content.get()};
  }
  dropOverlay(id);
  std::shared_ptr<OverlayWindow> window = services_.desktop.makeWindow(screen);
  if (!window) {
    logger_.error("The overlay window for display %u could not be made", id);
    return {nullptr, nullptr};
  }
  window->setHiddenFromScreenSharing(hidden);
  auto content = std::make_shared<OverlayContentView>(services_.contentServices);
  content->setFrameSize(Size{screen.frame.width, screen.frame.height});
  content->overlayDelegate = this;
  content->window = OverlayContentView::WindowFacts{window->windowNumber(), window->backingScale(), false, {}};
  window->setContentView(content.get());
  Weak weak = self_;
  window->onKeyStatusChange = [weak, content = std::weak_ptr(content)](bool isKey) {
    if (auto c = content.lock(); c && c->window) c->window->isKey = isKey;
    if (auto self = weak.lock()) (*self)->publishKeyboardState();
  };
  content->surfaceHost.onGeometryChange = [weak, content = std::weak_ptr(content)] {
    auto self = weak.lock();
    auto c = content.lock();
    if (self && c) (*self)->geometryChanged(*c);
  };
  // The chrome of the display on screen is painted again after each change (the others are
  // painted at their next summon).
  content->onChromeChange = [weak, id] {
    auto self = weak.lock();
    if (self && (*self)->isVisible_ && (*self)->activeDisplay_ == id) (*self)->scheduleChromeRefresh();
  };
  overlays_[id] = ScreenOverlay{window, content, nullptr};
  activeDisplay_ = id;
  return {window.get(), content.get()};
}

void OverlayController::makeDisplayActive(uint32_t display) {
  if (!activeDisplay_ || *activeDisplay_ == display) return;
  auto found = overlays_.find(*activeDisplay_);
  if (found == overlays_.end()) return;
  if (found->second.renderer) found->second.renderer->stop();
  std::weak_ptr<OverlayWindow> parked = found->second.window;
  after(kOrderOutDelay, [parked](OverlayController& self) {
    auto w = parked.lock();
    if (!w) return;
    if (self.activeDisplay_ && self.sharedWindow(*self.activeDisplay_) == w) return;
    w->orderOut();
  });
}

void OverlayController::dropOverlay(uint32_t display) {
  auto found = overlays_.find(display);
  if (found == overlays_.end()) return;
  ScreenOverlay overlay = std::move(found->second);
  overlays_.erase(found);
  if (overlay.renderer) overlay.renderer->shutdown();
  overlay.content->overlayDelegate = nullptr;
  overlay.window->onKeyStatusChange = nullptr;
  overlay.window->setContentView(nullptr);
  overlay.window->orderOut();
  alphaAnimations_.erase(overlay.window.get());
  if (activeDisplay_ == display) activeDisplay_.reset();
}

void OverlayController::dropGoneDisplays() {
  std::set<uint32_t> present;
  for (const ScreenInfo& screen : services_.desktop.screens())
    if (screen.screenNumber) present.insert(*screen.screenNumber);
  std::vector<uint32_t> ids;
  for (const auto& [id, overlay] : overlays_) ids.push_back(id);
  for (uint32_t id : ids) {
    if (present.count(id) || id == 0) continue;
    if (isVisible_ && activeDisplay_ == id) continue;
    logger_.notice("display %u is gone: dropping its overlay", id);
    dropOverlay(id);
  }
}

// ---- Callbacks of the content view and the renderer ----

void OverlayController::onFocusChange(int index, FocusChangeSource source) {
  updateTitleForFocus(index);
  updateTipForFocus(index);
  updateLiveHero(index);
  if (hapticTicks_ && source == FocusChangeSource::pointer) hapticTick();
}

bool OverlayController::highlightCard(std::optional<int> index) {
  if (!activeDisplay_) return false;
  OverlayScene* scene = renderer(*activeDisplay_);
  if (!scene) return false;
  const bool changed = scene->state().withLock([&](SceneState::Storage& s) {
    return services_.wake.wake(s, [&](SceneState::Storage& st) { return SceneState::setPointerHighlight(st, index); });
  });
  if (!changed) return false;
  const int i = index.value_or(-1);
  updateTitleForFocus(i);
  updateTipForFocus(i);
  updateLiveHero(i);
  if (hapticTicks_) hapticTick();
  return true;
}

void OverlayController::geometryChanged(OverlayContentView& view) {
  for (auto& [id, overlay] : overlays_)
    if (overlay.content.get() == &view) {
      if (overlay.renderer) overlay.renderer->syncDrawableSize();
      return;
    }
}

void OverlayController::setSearchCaret(OverlayContentView& view, int index) {
  if (!isVisible_ || !isSearching_) return;
  const int count = static_cast<int>(TextServices::graphemeCount(searchField_.text));
  searchField_.caret = std::clamp(index, 0, count);
  view.setSearchCaret(searchField_.caret);
}

int OverlayController::selectedIndex(OverlayScene& scene) {
  return scene.state().withLock([](SceneState::Storage& s) { return SceneState::selectedIndex(s); });
}

void OverlayController::stepSelection(int by) {
  if (!isVisible_) return;
  ++hotkeyPressCount_;
  step(by);
}

void OverlayController::step(int by) {
  shortcutTap_.interrupted();
  if (!activeDisplay_) return;
  if (OverlayScene* scene = renderer(*activeDisplay_))
    scene->state().withLock([&](SceneState::Storage& s) {
      services_.wake.wake(s, [&](SceneState::Storage& st) { SceneState::step(st, by); });
    });
}

void OverlayController::move(int direction) {
  shortcutTap_.interrupted();
  if (!activeDisplay_ || direction < 0 || direction > 3) return;
  if (OverlayScene* scene = renderer(*activeDisplay_))
    scene->state().withLock([&](SceneState::Storage& s) {
      services_.wake.wake(s, [&](SceneState::Storage& st) { SceneState::move(st, static_cast<uint8_t>(direction)); });
    });
}

void OverlayController::scroll(double units) {
  shortcutTap_.interrupted();
  if (!activeDisplay_) return;
  if (OverlayScene* scene = renderer(*activeDisplay_))
    scene->state().withLock([&](SceneState::Storage& s) {
      services_.wake.wake(s, [&](SceneState::Storage& st) { SceneState::scroll(st, units); });
    });
}

void OverlayController::endScroll(double velocity) {
  if (!activeDisplay_) return;
  if (OverlayScene* scene = renderer(*activeDisplay_))
    scene->state().withLock([&](SceneState::Storage& s) {
      services_.wake.wake(s, [&](SceneState::Storage& st) { SceneState::endScroll(st, velocity); });
    });
}

void OverlayController::flipStack(double units) {
  shortcutTap_.interrupted();
  if (!activeDisplay_) return;
  if (OverlayScene* scene = renderer(*activeDisplay_))
    scene->state().withLock([&](SceneState::Storage& s) {
      services_.wake.wake(s, [&](SceneState::Storage& st) { SceneState::flipStack(st, units); });
    });
}

void OverlayController::endFlip(double velocity) {
  if (!activeDisplay_) return;
  if (OverlayScene* scene = renderer(*activeDisplay_))
    scene->state().withLock([&](SceneState::Storage& s) {
      services_.wake.wake(s, [&](SceneState::Storage& st) { SceneState::endFlip(st, velocity); });
    });
}

void OverlayController::catchUpInput() {
  if (!isVisible_ || !activeDisplay_) return;
  if (OverlayWindow* w = window(*activeDisplay_)) w->catchUpInput();
}

ShortcutTap::Moment OverlayController::keyMoment() const {
  return {services_.keyTime ? services_.keyTime() : std::nullopt, services_.main.clock().mediaTime()};
}

void OverlayController::onHotkeyRelease() {
  const bool tapped = shortcutTap_.released(keyMoment());
  if (services_.settings.switcherBehavior() != AppSettings::SwitcherBehavior::holdToSwitch || !isVisible_ ||
      !summonedByHotkey_ || isSearching_)
    return;
  const uint32_t buttons = services_.desktop.pressedMouseButtons();
  const bool dragToSwitch = services_.settings.boolValue("dragToSwitch");
  const bool dragging = isDragging_ || (dragToSwitch && (buttons & 1u));
  if (dragging) {
    if (dragCommitMode_ == AppSettings::DragCommitMode::dwell) return;
    commitSelection();
    return;
  }
  if (presentedCards_.empty()) cancel();
  else if (tapped) activate(tapTarget());
  else commitSelection();
}

int OverlayController::tapTarget() {
  std::vector<size_t> order = flipOrder(presentedCards_, services_.registry.zOrderByWindowID());
  // A tiling manager (i3) does not restack the window it focuses: the window in front is the one
  // the summon found current, wherever the stacking order puts it.
  const auto current = std::find_if(order.begin(), order.end(), [&](size_t i) {
    return presentedCurrentID_ && presentedCards_[i].id == *presentedCurrentID_;
  });
  if (current != order.end()) std::rotate(order.begin(), current, current + 1);
  if (auto target = flipTarget(presentedCards_, order, services_.registry.visitTicks())) {
    logger_.notice("A tap of the shortcut flips to window %{public}u", presentedCards_[*target].id);
    return static_cast<int>(*target);
  }
  logger_.notice("A tap of the shortcut goes to the previous card: no two windows on screen to flip between");
  return presentedPreviousIndex_;
}

// ---- Keyboard state and dismiss keys ----

void OverlayController::publishKeyboardState() {
  if (!reportKeyboardState) return;
  OverlayWindow* w = activeDisplay_ ? window(*activeDisplay_) : nullptr;
  if (!isVisible_ || !w) {
    reportKeyboardState(std::nullopt);
    return;
  }
  OverlayKeyboardState state;
  state.holdsKeyboard = w->isKey();
  if (OverlayContentView* view = content(*activeDisplay_)) state.cancel = view->cancelBinding();
  reportKeyboardState(state);
}

void OverlayController::handleTapKey(int route) {
  OverlayContentView* view = isVisible_ && activeDisplay_ ? content(*activeDisplay_) : nullptr;
  if (!view) {
    OverlayKeyboardState::logDismiss(DismissLogRoute::tap, DismissOutcome::nothingOnScreen, false,
                                     services_.desktop.applicationIsActive(), false);
    return;
  }
  if (route == static_cast<int>(DismissKeyRoute::notADismissKey)) return;
  OverlayWindow* w = window(*activeDisplay_);
  const bool key = w && w->isKey();
  DismissLogRoute logRoute = DismissLogRoute::tap;
  if (route == static_cast<int>(DismissKeyRoute::localRouteOwnsIt)) {
    if (key) {
      OverlayKeyboardState::logDismiss(DismissLogRoute::tap, DismissOutcome::leftToOverlay, true,
                                       services_.desktop.applicationIsActive(), view->searchActive());
      return;
    }
    logRoute = DismissLogRoute::tapRepair;
  } else if (route != static_cast<int>(DismissKeyRoute::tapMustHandleIt)) {
    return;
  }
  // The view may go with its overlay during the action: read what the log needs first.
  std::shared_ptr<OverlayContentView> keep = overlays_[*activeDisplay_].content;
  const auto outcome = static_cast<DismissOutcome>(keep->dismissKeyAction());
  OverlayKeyboardState::logDismiss(logRoute, outcome, keep->window && keep->window->isKey,
                                   services_.desktop.applicationIsActive(), keep->searchActive());
}

}  // namespace quorvel
