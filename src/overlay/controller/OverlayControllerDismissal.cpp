// Commit and dismissal of the overlay controller: the activator hand-off, the flight, the fade, the
// order-out and the watchdog, each step keyed by the dismissal's generation.
#include <unordered_set>

#include "overlay/controller/OverlayController.h"

namespace quorvel {

void OverlayController::commitSelection() {
  if (!isVisible_) return;
  OverlayScene* scene = activeDisplay_ ? renderer(*activeDisplay_) : nullptr;
  if (scene && !presentedCards_.empty()) {
    activate(selectedIndex(*scene));
    return;
  }
  cancel();
}

void OverlayController::activate(int index) {
  const long count = static_cast<long>(presentedCards_.size());
  if (index < 0 || index >= count) {
    logger_.notice("activate ignored: index %ld of %ld", static_cast<long>(index), count);
    cancel();
    return;
  }
  const WindowCard card = presentedCards_[static_cast<size_t>(index)];
  logger_.notice("activate index %ld of %ld: %{private}s", static_cast<long>(index), count, card.appName);
  previousApp_.reset();
  services_.pick(card);
  dismiss(index);
}

void OverlayController::cancel() {
  std::optional<RunningApplication> previous = std::move(previousApp_);
  previousApp_.reset();
  if (previous) services_.desktop.activateApplication(previous->pid);
  dismiss(std::nullopt);
}

void OverlayController::dismiss(std::optional<int> chosen) {
  if (!isVisible_) return;
  if (!flightEnabled_) {
    fadeOutWithoutFlight();
    return;
  }
  prepareDismissal();
  resetBlur();
  const int g = ++fadeGeneration_;
  dismissFlightDone_ = false;
  dismissFadeDone_ = false;
  if (!activeDisplay_) return;
  std::shared_ptr<OverlayWindow> window = sharedWindow(*activeDisplay_);
  OverlayScene* scene = renderer(*activeDisplay_);
  if (!window) {
    if (scene) scene->stop();
    return;
  }
  if (!scene) {
    window->orderOut();
    return;
  }
  window->setClickThrough(true);
  const double delay = chosen ? kFadeDelayCommit : kFadeDelayCancel;
  after(delay, [g, window](OverlayController& self) { self.startDismissFade(g, window); });
  Weak weak = self_;
  SceneState::Completion handedBack = scene->dismissFlight(chosen, [weak, g] {
    if (auto self = weak.lock()) (*self)->dismissFlightDidFinish(g);
  });
  if (handedBack) services_.main.post(std::move(handedBack));
  after(delay + kWatchdogSlack + kFadeDuration, [g, window](OverlayController& self) { self.forceDismissal(g, window); });
}

void OverlayController::fadeOutWithoutFlight() {
  if (!isVisible_) return;
  prepareDismissal();
  resetBlur();
  if (activeDisplay_)
    if (OverlayScene* scene = renderer(*activeDisplay_)) scene->stop();
  services_.cache.flushRetired();
  const int g = ++fadeGeneration_;
  std::shared_ptr<OverlayWindow> window = activeDisplay_ ? sharedWindow(*activeDisplay_) : nullptr;
  if (!window) return;
  // There is no flight to wait for; the fade is watched like a flight dismissal's, and the window
  // lets clicks through while it fades, so a fade that never completes cannot leave the overlay on
  // screen or swallowing clicks.
  dismissFlightDone_ = true;
  dismissFadeDone_ = false;
  window->setClickThrough(true);
  animateAlpha(window, 0.0, kFadeDuration, true, [g, window](OverlayController& self) {
    if (self.fadeGeneration_ != g) return;
    self.dismissFadeDone_ = true;
    self.orderOutAfterFade(window, g);
  });
  after(kWatchdogSlack + kFadeDuration, [g, window](OverlayController& self) { self.forceDismissal(g, window); });
}

void OverlayController::prepareDismissal() {
  isVisible_ = false;
  services_.cache.endPresentation();
  summonedByHotkey_ = false;
  hotkeyPressCount_ = 0;
  summonTime_ = 0;
  for (std::optional<PendingWork>* task : {&refreshTask_, &missingCaptureTask_, &liveHeroTask_, &actionFollowUpTask_}) {
    if (*task) (*task)->cancel();
    task->reset();
  }
  closedWindowIDs_.clear();
  isDragging_ = false;
  cancelDragDwell();
  stopLiveStream();
  scheduleIconSweep();
  pruneSiteIcons();
  presentedCards_.clear();
  allPresentedCards_.clear();
  searchCorpus_ = SearchCorpus();
  searchField_ = SearchField{};
  isSearching_ = false;
  selectedBeforeSearch_.reset();
  presentedScreen_.reset();
  presentedScopePID_.reset();
  presentedScopeBundleID_.reset();
  publishKeyboardState();
  if (activeDisplay_)
    if (OverlayContentView* view = content(*activeDisplay_); view && view->showingIBeam() &&
                                                             services_.contentServices.setTextCursor)
      services_.contentServices.setTextCursor(false);
}

void OverlayController::stopLiveStream() {
  // Numbered now: it outranks every start decided before it, whichever runs first.
  const uint64_t sequence = services_.cache.nextLiveSequence();
  if (activeDisplay_)
    if (OverlayScene* scene = renderer(*activeDisplay_)) scene->setLivePreview(false);
  after(0, [sequence](OverlayController& self) { self.services_.cache.stopLiveHero(sequence); });
}

void OverlayController::pruneSiteIcons() {
  std::unordered_set<uint32_t> liveTabs;
  for (const WindowCard& card : services_.registry.expandedCards())
    if (card.tab) liveTabs.insert(card.id);
  const bool wanted = services_.settings.tabsDisplay() != AppSettings::TabsDisplay::off &&
                      services_.settings.boolValue("tabSiteIcons");
  services_.textures.pruneSiteIcons(liveTabs, wanted);
}

void OverlayController::resetBlur() {
  if (!activeDisplay_) return;
  OverlayContentView* view = content(*activeDisplay_);
  OverlayWindow* w = window(*activeDisplay_);
  if (!view || !w || w->windowNumber() <= 0 || !w->blurAvailable()) return;
  w->setBackgroundBlur(0);
}

void OverlayController::startDismissFade(int generation, const std::shared_ptr<OverlayWindow>& window) {
  if (fadeGeneration_ != generation) return;
  animateAlpha(window, 0.0, kFadeDuration, true,
               [generation](OverlayController& self) { self.dismissFadeDidFinish(generation); });
}

void OverlayController::dismissFadeDidFinish(int generation) {
  if (fadeGeneration_ != generation) return;
  dismissFadeDone_ = true;
  finishDismissalIfDone(generation);
}

void OverlayController::dismissFlightDidFinish(int generation) {
  if (fadeGeneration_ != generation) return;
  dismissFlightDone_ = true;
  finishDismissalIfDone(generation);
}

void OverlayController::finishDismissalIfDone(int generation) {
  if (fadeGeneration_ != generation || !dismissFlightDone_ || !dismissFadeDone_) return;
  // A flight completion that arrives after the watchdog finished (stopping the scene hands it
  // back) finds the dismissal over.
  if (finishedGeneration_ == generation) return;
  finishedGeneration_ = generation;
  if (activeDisplay_)
    if (OverlayScene* scene = renderer(*activeDisplay_)) scene->stop();
  services_.cache.flushRetired();
  if (activeDisplay_)
    if (std::shared_ptr<OverlayWindow> w = sharedWindow(*activeDisplay_)) orderOutAfterFade(w, generation);
}

void OverlayController::orderOutAfterFade(const std::shared_ptr<OverlayWindow>& window, int generation) {
  std::weak_ptr<OverlayWindow> weakWindow = window;
  after(kOrderOutDelay, [weakWindow, generation](OverlayController& self) {
    if (self.fadeGeneration_ != generation) return;
    if (auto w = weakWindow.lock()) w->orderOut();
  });
}

void OverlayController::forceDismissal(int generation, const std::shared_ptr<OverlayWindow>& window) {
  if (fadeGeneration_ != generation || (dismissFlightDone_ && dismissFadeDone_)) return;
  logger_.error("Dismissal stalled, forcing the overlay out");
  alphaAnimations_.erase(window.get());
  window->setAlpha(0);
  dismissFlightDone_ = true;
  dismissFadeDone_ = true;
  finishDismissalIfDone(generation);
}

}  // namespace quorvel
