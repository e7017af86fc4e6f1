// The summon (present and its phases) and the quick flip of the overlay controller.
#include <algorithm>
#include <cmath>
#include <sstream>
#include <utility>

#include "base/TextServices.h"
#include "overlay/controller/OverlayController.h"
#include "scene/ClusterKey.h"
#include "scene/render/SnapshotBuilder.h"
#include "windows/ApplicationIdentity.h"

namespace quorvel {

template <class F>
void OverlayController::phase(const char* name, F&& body) {
  const auto state = summonTracer_.beginInterval(name, summonTracer_.makeTraceId());
  std::forward<F>(body)();
  summonTracer_.endInterval(name, state);
}

void OverlayController::noteMenuOpening() {
  if (isVisible_) return;
  MenuFront noted;
  noted.application = services_.desktop.frontmostApplication();
  const OverlayCardSource::SummonList list = services_.registry.cardsForSummon();
  if (list.currentIndex >= 0 && list.currentIndex < static_cast<int>(list.cards.size()))
    noted.window = list.cards[static_cast<size_t>(list.currentIndex)].id;
  menuFront_ = std::move(noted);
}

void OverlayController::presentFromMenu() {
  summonFront_ = std::exchange(menuFront_, std::nullopt);
  present(false, AppSettings::HotkeyScope::allWindows);
  summonFront_.reset();
}

void OverlayController::present(bool byHotkey, AppSettings::HotkeyScope scope) {
  if (isVisible_) return;
  const AppSettings& settings = services_.settings;
  const ShortcutTap::Moment pressed = keyMoment();
  std::optional<RunningApplication> front;
  phase("front", [&] {
    front = summonFront_ && summonFront_->application ? summonFront_->application
                                                      : services_.desktop.frontmostApplication();
  });
  std::optional<ScreenInfo> screen;
  // The screens are read once for the whole summon (each read asks the window system again).
  struct ScreensOfSummon {
    std::optional<std::vector<ScreenInfo>>& kept;
    ~ScreensOfSummon() { kept.reset(); }
  } screensOfSummon{summonScreens_};
  phase("screen", [&] {
    summonScreens_ = services_.desktop.screens();
    screen = summonScreen(front);
  });
  if (!screen) {
    logger_.error("No screen available: cannot show the overlay");
    return;
  }
  previousApp_ = front;

  OverlayCardSource::SummonList list;
  phase("snapshot", [&] { list = limitToScope(services_.registry.cardsForSummon(), scope, front); });
  // A summon from the menu starts on the window that was in front before the menu opened.
  if (summonFront_ && summonFront_->window) {
    for (size_t i = 0; i < list.cards.size(); ++i)
      if (list.cards[i].id == *summonFront_->window) list.currentIndex = static_cast<int>(i);
  }
  tabsMode_ = readTabsMode(settings);
  std::vector<WindowCard> shown = visibleCards(list.cards, tabsMode_, false);
  int currentIndex = list.currentIndex, previousIndex = list.previousIndex;
  if (shown.size() != list.cards.size()) {
    currentIndex = remapIndex(list.currentIndex, list.cards, shown).value_or(0);
    previousIndex = remapIndex(list.previousIndex, list.cards, shown).value_or(currentIndex);
  }

  std::vector<WindowCard> chrome;
  phase("chrome", [&] { chrome = trimPiles(list.cards); });
  phase("plates", [&] {
    services_.textures.setPlateOpacity(OverlayChromeTextures::kPlateOpacity);
    services_.textures.beginSummon();
  });
  phase("icons", [&] {
    std::vector<OverlayChromeTextures::IconRequest> requests;
    requests.reserve(chrome.size());
    for (const WindowCard& card : chrome) requests.push_back({card.pid, card.bundleID});
    services_.textures.prepareIcons(requests);
  });

  std::pair<OverlayWindow*, OverlayContentView*> made{nullptr, nullptr};
  phase("window", [&] { made = makeOverlayWindow(*screen); });
  if (!made.first) return;  // logged by makeOverlayWindow; nothing is shown
  const uint32_t display = *activeDisplay_;
  std::shared_ptr<OverlayWindow> window = overlays_[display].window;
  std::shared_ptr<OverlayContentView> content = overlays_[display].content;

  presentedCards_ = shown;
  allPresentedCards_ = std::move(list.cards);
  searchField_ = SearchField{};
  presentedScreen_ = screen;
  presentedPreviousIndex_ = previousIndex;
  presentedCurrentID_ = currentIndex >= 0 && currentIndex < static_cast<int>(shown.size())
                            ? std::optional(shown[static_cast<size_t>(currentIndex)].id)
                            : std::nullopt;
  presentedScopePID_ = scope == AppSettings::HotkeyScope::activeApp && front ? std::optional(front->pid) : std::nullopt;
  presentedScopeBundleID_ = presentedScopePID_ ? front->bundleIdentifier : std::nullopt;

  phase("prep", [&] {
    content->configure(true, window->backingScale());
    // Plates are drawn at the size this screen shows them (before the labels and titles phases).
    const double scale = window->backingScale() > 0 ? window->backingScale() : 1.0;
    const AppSettings::TitleSize chrome = settings.cardChromeSize();
    services_.textures.setPlateScreen(scale, screen->frame.height * scale,
                                      chrome == AppSettings::TitleSize::small   ? 0.8
                                      : chrome == AppSettings::TitleSize::large ? 1.3
                                                                                : 1.0);
  });
  std::shared_ptr<OverlayScene> scene;
  phase("renderer", [&] { scene = makeRenderer(*content, *window); });

  style_ = settings.switcherStyle();
  gridOrder_ = settings.gridOrder();
  panoramaArrows_ = settings.panoramaArrows();
  cardSpacing_ = settings.cardSpacing(style_);
  phase("style", [&] { applyStyle(false); });

  flightEnabled_ = settings.boolValue("animateFlight") && !services_.desktop.reduceMotion();
  hapticTicks_ = settings.boolValue("hapticTicks");
  hoverSelectMode_ = settings.hoverSelectMode();
  dragCommitMode_ = settings.dragCommitMode();
  switch (settings.dragRestTime()) {
    case AppSettings::DragRestTime::quick: dragRestSeconds_ = 0.5; break;
    case AppSettings::DragRestTime::long_: dragRestSeconds_ = 1.2; break;
    default: dragRestSeconds_ = 0.8; break;
  }
  windowActionsEnabled_ = settings.boolValue("windowActionsEnabled");

  std::vector<Rect> frames;
  phase("frames", [&] { frames = sourceFrames(presentedCards_, *screen); });
  bool cmdTab = false;
  phase("present", [&] {
    cmdTab = byHotkey && settings.holdStyle() == AppSettings::HoldStyle::cmdTab;
    const int first = cmdTab ? previousIndex : currentIndex;
    if (scene)
      scene->present(presentedCards_, frames, flightEnabled_, first, services_.desktop.maximumFramesPerSecond(*screen));
  });
  phase("missing", [&] { startMissingCaptures(); });
  phase("hero", [&] {
    if (!scene) return;
    updateTitleForFocus(selectedIndex(*scene));
    updateTipForFocus(selectedIndex(*scene));
    updateLiveHero(selectedIndex(*scene));
  });

  ++fadeGeneration_;
  phase("activate", [&] { activateOverlay(window, *content); });
  // The plates come after the window is on screen: they are drawn on later turns of the main
  // queue, and the cards show theirs as they arrive.
  phase("labels", [&] {
    if (settings.boolValue("labelPlaceholders")) services_.textures.prepareLabels(labelPlaceholderKeys(chrome));
  });
  phase("titles", [&] {
    if (settings.boolValue("showCardTitles"))
      services_.textures.prepareTitles(prepareTitles(titleCards(chrome, services_.textures.titleCapacity())));
  });
  isVisible_ = true;
  phase("backdrop", [&] { requestBackdropStill(*screen, *content, *window); });
  services_.cache.beginPresentation();
  publishKeyboardState();
  summonedByHotkey_ = byHotkey;
  // Holding stays on the current window; a tap flips (onHotkeyRelease).
  shortcutTap_.interrupted();
  if (byHotkey && !cmdTab) shortcutTap_.pressed(pressed);
  hotkeyPressCount_ = 1;
  summonTime_ = services_.main.clock().mediaTime();

  phase("tail", [&] {
    updateEmptyState();
    summonObservers_.notify();
  });
  scheduleChromeRefresh();
  if (presentedCards_.empty()) logger_.notice("Overlay shown with no cards");
  scheduleRefresh(fadeGeneration_);
}

std::shared_ptr<OverlayScene> OverlayController::makeRenderer(OverlayContentView& content, OverlayWindow& window) {
  if (activeDisplay_)
    if (auto found = overlays_.find(*activeDisplay_); found != overlays_.end() && found->second.renderer)
      return found->second.renderer;
  Weak weak = self_;
  std::shared_ptr<OverlayScene> scene = services_.makeScene(content, window, [weak](int index, FocusChangeSource source) {
    if (auto self = weak.lock()) (*self)->onFocusChange(index, source);
  });
  if (!activeDisplay_) {
    logger_.fault("built a renderer with no active display: it is owned by nothing");
    return scene;
  }
  if (auto found = overlays_.find(*activeDisplay_); found != overlays_.end()) found->second.renderer = scene;
  return scene;
}

void OverlayController::activateOverlay(const std::shared_ptr<OverlayWindow>& window, OverlayContentView& content) {
  alphaAnimations_.erase(window.get());  // a fade still running from the last dismissal ends here
  window->setAlpha(0);
  window->setClickThrough(false);
  window->show();
  // The scene's first frame may have been drawn before the window was on screen, where a window
  // system without retained contents drops it: a scene already at rest draws once more.
  services_.wake.bump();
  window->makeKey();
  services_.desktop.activateSelf();
  if (content.window) content.window->isKey = window->isKey();
  animateAlpha(window, 1.0, kFadeInDuration, false, nullptr);
}

// ---- Summon helpers ----

AppSettings::TabsDisplay OverlayController::readTabsMode(const AppSettings& settings) {
  return settings.tabsDisplay();
}

std::vector<WindowCard> OverlayController::visibleCards(const std::vector<WindowCard>& cards,
                                                        AppSettings::TabsDisplay mode, bool searching) {
  if (mode == AppSettings::TabsDisplay::always || (mode == AppSettings::TabsDisplay::whileSearching && searching))
    return cards;
  std::vector<WindowCard> out;
  out.reserve(cards.size());
  for (const WindowCard& card : cards)
    if (!card.tab) out.push_back(card);
  return out;
}

std::optional<int> OverlayController::remapIndex(int index, const std::vector<WindowCard>& from,
                                                 const std::vector<WindowCard>& to) {
  if (index < 0 || index >= static_cast<int>(from.size()) || to.empty()) return std::nullopt;
  const uint32_t id = from[static_cast<size_t>(index)].id;
  for (size_t i = 0; i < to.size(); ++i)
    if (to[i].id == id) return static_cast<int>(i);
  return std::nullopt;
}

OverlayCardSource::SummonList OverlayController::limitToScope(OverlayCardSource::SummonList list,
                                                              AppSettings::HotkeyScope scope,
                                                              const std::optional<RunningApplication>& front) {
  if (scope != AppSettings::HotkeyScope::activeApp || !front) return list;
  OverlayCardSource::SummonList kept;
  const ApplicationIdentity application{front->pid, front->bundleIdentifier};
  for (const WindowCard& card : list.cards)
    if (application.contains(card)) kept.cards.push_back(card);
  if (kept.cards.empty()) return kept;
  kept.currentIndex = remapIndex(list.currentIndex, list.cards, kept.cards).value_or(0);
  if (auto previous = remapIndex(list.previousIndex, list.cards, kept.cards)) {
    kept.previousIndex = *previous;
  } else {
    kept.previousIndex = kept.currentIndex;
    for (size_t i = 0; i < kept.cards.size(); ++i)
      if (static_cast<int>(i) != kept.currentIndex) {
        kept.previousIndex = static_cast<int>(i);
        break;
      }
  }
  return kept;
}

std::vector<WindowCard> OverlayController::trimPiles(const std::vector<WindowCard>& cards) const {
  const AppSettings& settings = services_.settings;
  std::vector<std::optional<uint32_t>> hosts;
  std::vector<uint32_t> ids;
  hosts.reserve(cards.size());
  ids.reserve(cards.size());
  for (const WindowCard& card : cards) {
    hosts.push_back(card.tab ? std::optional(card.tab->hostWindowID) : std::nullopt);
    ids.push_back(card.id);
  }
  const auto keys = ClusterKey::tabPileKeys(hosts, ids, settings.boolValue("keepWindowCardBesideTabs"));
  const bool bunching = settings.boolValue("bunchTabs") ||
                        (settings.boolValue("bunchAppWindows") && settings.boolValue("groupByApp"));
  const auto mask = ClusterKey::pileVisibility(keys, bunching, 8.0f);
  std::vector<WindowCard> out;
  out.reserve(cards.size());
  for (size_t i = 0; i < cards.size(); ++i)
    if (i >= mask.size() || mask[i]) out.push_back(cards[i]);
  return out;
}

std::vector<Rect> OverlayController::sourceFrames(const std::vector<WindowCard>& cards, const ScreenInfo& screen) {
  const double primary = primaryScreenHeight().value_or(screen.frame.height);
  const Rect& s = screen.frame;
  std::vector<Rect> out;
  out.reserve(cards.size());
  for (const WindowCard& card : cards) {
    if (card.state == WindowState::windowlessApp) {
      out.push_back(Rect{(s.width - 480) / 2, (s.height - 300) / 2, 480, 300});
    } else {
      out.push_back(Rect{card.frame.x - s.x, card.frame.y - (primary - s.maxY()), card.frame.width, card.frame.height});
    }
  }
  return out;
}

std::vector<CardLabel> OverlayController::labelPlaceholderKeys(const std::vector<WindowCard>& cards) {
  std::vector<CardLabel> keys;
  keys.reserve(cards.size() * 2);
  for (const WindowCard& card : cards) {
    CardLabel key{card.appName, card.state, std::nullopt, card.isPrivate, std::nullopt};
    if (card.state == WindowState::browserTab && !card.title.empty()) {
      key.tabTitle = SnapshotBuilder::shortTabTitle(card.title);
      keys.push_back(key);
      key.tabTitle.reset();
    }
    keys.push_back(std::move(key));
  }
  return keys;
}

std::vector<CardTitle> OverlayController::prepareTitles(const std::vector<WindowCard>& cards) {
  std::vector<CardTitle> titles;
  titles.reserve(cards.size());
  for (const WindowCard& card : cards) titles.push_back(CardTitle{SnapshotBuilder::clippedTitle(card.title, card.appName)});
  return titles;
}

std::vector<WindowCard> OverlayController::titleCards(const std::vector<WindowCard>& cards, size_t capacity) {
  if (cards.size() <= capacity) return cards;
  const size_t tail = capacity / 3, head = capacity - tail;
  std::vector<WindowCard> out(cards.begin(), cards.begin() + static_cast<long>(head));
  out.insert(out.end(), cards.end() - static_cast<long>(tail), cards.end());
  return out;
}

// ---- The summon screen ----

std::optional<ScreenInfo> OverlayController::summonScreen(const std::optional<RunningApplication>& front) {
  // With one screen every rule below ends on it: the pointer and the front window are not asked.
  if (const std::vector<ScreenInfo> screens = currentScreens(); screens.size() == 1) return screens.front();
  switch (services_.settings.summonScreen()) {
    case AppSettings::SummonScreen::activeWindowScreen:
      if (auto s = activeWindowScreen(front)) return s;
      return pointerScreen();
    case AppSettings::SummonScreen::builtInScreen:
      if (auto s = builtInScreen()) return s;
      return pointerScreen();
    default:
      return pointerScreen();
  }
}

std::vector<ScreenInfo> OverlayController::currentScreens() {
  return summonScreens_ ? *summonScreens_ : services_.desktop.screens();
}

std::optional<ScreenInfo> OverlayController::pointerScreen() {
  const std::vector<ScreenInfo> screens = currentScreens();
  if (screens.empty()) return std::nullopt;
  if (auto at = services_.desktop.pointerLocation())
    for (const ScreenInfo& s : screens)
      if (s.frame.containsPoint(*at)) return s;
  // The main screen is the one at the origin of the screen coordinates.
  for (const ScreenInfo& s : screens)
    if (s.frame.x == 0 && s.frame.y == 0) return s;
  return screens.front();
}

std::optional<double> OverlayController::primaryScreenHeight() {
  const std::vector<ScreenInfo> screens = currentScreens();
  if (screens.empty()) return std::nullopt;
  for (const ScreenInfo& s : screens)
    if (s.frame.x == 0 && s.frame.y == 0) return s.frame.height;
  return screens.front().frame.height;
}

std::optional<ScreenInfo> OverlayController::activeWindowScreen(const std::optional<RunningApplication>& front) {
  if (!front) return std::nullopt;
  const std::optional<Rect> bounds = services_.desktop.frontWindowBounds(front->pid);
  const std::optional<double> primary = primaryScreenHeight();
  if (!bounds || !primary) return std::nullopt;
  const Point centre{bounds->midX(), bounds->midY()};
  for (const ScreenInfo& s : currentScreens()) {
    const Rect flipped{s.frame.x, *primary - s.frame.maxY(), s.frame.width, s.frame.height};
    if (flipped.containsPoint(centre)) return s;
  }
  return std::nullopt;
}

std::optional<ScreenInfo> OverlayController::builtInScreen() {
  for (const ScreenInfo& s : currentScreens())
    if (s.screenNumber && services_.desktop.isBuiltIn(s)) return s;
  return std::nullopt;
}

// ---- Pictures, chrome and follow-ups of a summon ----

void OverlayController::startMissingCaptures() {
  if (missingCaptureTask_) missingCaptureTask_->cancel();
  missingCaptureTask_.reset();
  if (!services_.desktop.screenCaptureGranted() || presentedCards_.empty()) return;
  const auto showing = services_.registry.showingTabByHost();
  const auto ticks = services_.registry.visitTicks();
  PendingWork work;
  missingCaptureTask_ = work;
  work.setCancelHook(services_.cache.captureStills(presentedCards_, showing, ticks, [] {}));
}

void OverlayController::updateEmptyState() {
  if (!activeDisplay_) return;
  OverlayContentView* view = content(*activeDisplay_);
  if (!view) return;
  if (!allPresentedCards_.empty()) {
    view->hideEmptyState();
  } else {
    const std::optional<bool> atLaunch = services_.desktop.screenCaptureGrantedAtLaunch();
    view->showEmptyState(services_.desktop.screenCaptureGranted() && atLaunch.value_or(true));
  }
  scheduleChromeRefresh();
}

void OverlayController::scheduleChromeRefresh() {
  if (!activeDisplay_) return;
  chromeUntil_ = services_.main.clock().now() + fromSeconds(kChromeSettle);
  if (chromePumping_) return;
  chromePumping_ = true;
  // The first drawing waits for the main queue's next turn, so a summon shows its cards first.
  after(0, [](OverlayController& self) { self.refreshChrome(); });
}

void OverlayController::refreshChrome() {
  OverlayScene* scene = activeDisplay_ ? renderer(*activeDisplay_) : nullptr;
  OverlayContentView* view = activeDisplay_ ? content(*activeDisplay_) : nullptr;
  const Instant now = services_.main.clock().now();
  if (!scene || !view || !chromeUntil_ || !isVisible_) {
    chromePumping_ = false;
    chromeUntil_.reset();
    return;
  }
  scene->showChrome(*view, now);
  if (now >= *chromeUntil_) {
    chromePumping_ = false;
    chromeUntil_.reset();
    return;
  }
  after(kOrderOutDelay, [](OverlayController& self) { self.refreshChrome(); });
}

void OverlayController::scheduleIconSweep() {
  const Instant now = services_.main.clock().now();
  if (!iconSweepPending_) iconSweepPendingSince_ = now;
  iconSweepPending_ = true;
  if (iconSweepTask_) iconSweepTask_->cancel();
  if (now - iconSweepPendingSince_ >= fromSeconds(kIconSweepLongestWait)) {
    // Summons have kept the delayed sweep from running: it runs now, while nothing is shown.
    iconSweepTask_.reset();
    iconSweepPending_ = false;
    services_.textures.sweepIcons();
    return;
  }
  PendingWork work;
  iconSweepTask_ = work;
  after(kIconSweepDelay, [work](OverlayController& self) {
    if (work.isCancelled()) return;
    self.iconSweepTask_.reset();
    if (!self.iconSweepPending_) return;
    if (self.isVisible_) {
      self.logger_.debug("Icon sweep deferred: the switcher is on screen again");
      return;
    }
    self.iconSweepPending_ = false;
    self.services_.textures.sweepIcons();
  });
}

// ---- Quick flip ----

void OverlayController::quickFlip(AppSettings::HotkeyScope scope) {
  OverlayCardSource::SummonList list =
      limitToScope(services_.registry.cardsForSummon(), scope, services_.desktop.frontmostApplication());
  const std::vector<size_t> order = flipOrder(list.cards, services_.registry.zOrderByWindowID());
  bool byHistory = false;
  const std::optional<size_t> target = flipTarget(list.cards, order, services_.registry.visitTicks(), &byHistory);
  if (!target) {
    logger_.notice("Flip found %{public}ld window to flip between, of %{public}ld cards",
                   static_cast<long>(order.size()), static_cast<long>(list.cards.size()));
    return;
  }
  const WindowCard chosen = list.cards[*target];
  std::ostringstream top;
  for (size_t i = 0; i < std::min<size_t>(3, order.size()); ++i) top << (i ? ", " : "") << list.cards[order[i]].id;
  logger_.notice("Flip to %{private}s (window %{public}u) by %{public}s, of %{public}ld, top [%{public}s]",
                 chosen.appName, chosen.id, byHistory ? "history" : "stack", static_cast<long>(order.size()),
                 top.str());
  services_.pick(chosen);
  summonObservers_.notify();
}

std::vector<size_t> OverlayController::flipOrder(const std::vector<WindowCard>& cards,
                                                 const std::unordered_map<uint32_t, int>& zOrder) {
  std::vector<size_t> order;
  for (size_t i = 0; i < cards.size(); ++i) {
    const WindowCard& card = cards[i];
    if (card.state != WindowState::windowlessApp && card.state != WindowState::browserTab && zOrder.count(card.id))
      order.push_back(i);
  }
  std::stable_sort(order.begin(), order.end(),
                   [&](size_t a, size_t b) { return zOrder.at(cards[a].id) < zOrder.at(cards[b].id); });
  return order;
}

std::optional<size_t> OverlayController::flipTarget(const std::vector<WindowCard>& cards,
                                                    const std::vector<size_t>& order,
                                                    const std::unordered_map<uint32_t, uint64_t>& ticks,
                                                    bool* byHistory) {
  if (order.size() < 2) return std::nullopt;
  std::optional<size_t> target;
  uint64_t best = 0;
  for (size_t i = 1; i < order.size(); ++i) {
    const auto tick = ticks.find(cards[order[i]].id);
    if (tick == ticks.end() || tick->second == 0) continue;
    if (!target || tick->second > best) {
      target = order[i];
      best = tick->second;
    }
  }
  if (byHistory) *byHistory = target.has_value();
  return target ? target : order[1];
}

}  // namespace quorvel
