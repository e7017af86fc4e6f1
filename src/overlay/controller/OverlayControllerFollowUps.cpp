// What follows a focus change while the overlay is up (the title, the stack tip, the live picture of
// the focused card), the drag dwell, and the refresh of the cards after a summon.
#include "base/TextServices.h"
#include "overlay/controller/CardListMerge.h"
#include "overlay/controller/OverlayController.h"

namespace quorvel {

std::string OverlayController::titleText(const std::string& appName, const std::string& title) {
  const std::string app = TextServices::trimmed(appName);
  const std::string t = TextServices::trimmed(title);
  if (t.empty() || TextServices::lowercased(app, "") == TextServices::lowercased(t, "")) return app;
  return app + " \u00b7 " + t;
}

void OverlayController::updateTitleForFocus(int index) {
  OverlayContentView* view = activeDisplay_ ? content(*activeDisplay_) : nullptr;
  if (!view) return;
  if (index < 0 || index >= static_cast<int>(presentedCards_.size())) {
    view->showTitle("");
    return;
  }
  const WindowCard& card = presentedCards_[static_cast<size_t>(index)];
  view->showTitle(titleText(card.appName, card.title));
}

void OverlayController::updateTipForFocus(int index) {
  OverlayContentView* view = activeDisplay_ ? content(*activeDisplay_) : nullptr;
  if (!view) return;
  OverlayScene* scene = renderer(*activeDisplay_);
  const bool inside = index >= 0 && index < static_cast<int>(presentedCards_.size());
  view->setSelectionInStack(scene && inside && scene->cardIsStacked(index));
}

void OverlayController::updateLiveHero(int index) {
  if (liveHeroTask_) liveHeroTask_->cancel();
  PendingWork work;
  liveHeroTask_ = work;
  const bool eligible = services_.settings.boolValue("liveHero") && services_.desktop.screenCaptureGranted() &&
                        index >= 0 && index < static_cast<int>(presentedCards_.size()) &&
                        presentedCards_[static_cast<size_t>(index)].state == WindowState::onCurrentSpace &&
                        !presentedCards_[static_cast<size_t>(index)].isPrivate;
  // The request's number is drawn now, when it is decided: a later decision always outranks it.
  const uint64_t sequence = services_.cache.nextLiveSequence();
  liveHeroSequence_ = sequence;
  if (!eligible) {
    after(0, [work, sequence](OverlayController& self) {
      if (work.isCancelled()) return;
      self.services_.cache.stopLiveHero(sequence);
      self.updateLivePreview();
    });
    return;
  }
  const uint32_t id = presentedCards_[static_cast<size_t>(index)].id;
  // A focus that rests for less than this starts no stream.
  after(kLiveHeroDelay, [work, sequence, id](OverlayController& self) {
    if (work.isCancelled()) return;
    const auto showing = self.services_.registry.showingTabByHost();
    const auto tab = showing.find(id);
    const std::optional<uint32_t> showingTab = tab == showing.end() ? std::nullopt : std::optional(tab->second);
    self.services_.cache.startLiveHero(sequence, id, showingTab, [weak = Weak(self.self_), sequence, id](bool running) {
      auto s = weak.lock();
      if (!s) return;
      (*s)->liveHeroStarted(sequence, id, running);
    });
  });
}

void OverlayController::liveHeroStarted(uint64_t sequence, uint32_t id, bool running) {
  // The overlay may have gone, or the focus moved on, while the stream was starting. A newer
  // decision takes care of itself (its number outranks this one); otherwise this start is the last
  // word and its stream must not outlive the card it was for.
  if (running && liveHeroSequence_ == sequence) {
    OverlayScene* scene = activeScene();
    const bool current = isVisible_ && scene && cardIDAt(selectedIndex(*scene)) == std::optional<uint32_t>(id);
    if (!current) {
      logger_.debug("live picture started for a card no longer in front: stopping it");
      const uint64_t stop = services_.cache.nextLiveSequence();
      liveHeroSequence_ = stop;
      services_.cache.stopLiveHero(stop);
    }
  }
  updateLivePreview();
}

void OverlayController::updateLivePreview() {
  if (OverlayScene* scene = activeScene()) scene->setLivePreview(services_.cache.liveWindowID().has_value());
}

// ---- Drag dwell ----

void OverlayController::startDragDwell(int index) {
  if (dragDwellTask_) dragDwellTask_->cancel();
  dragDwellIndex_ = index;
  PendingWork work;
  dragDwellTask_ = work;
  const int generation = fadeGeneration_;
  after(dragRestSeconds_, [work, index, generation](OverlayController& self) {
    if (!work.isCancelled()) self.dragDwellFired(index, generation);
  });
}

void OverlayController::dragDwellFired(int index, int generation) {
  if (fadeGeneration_ != generation || !isVisible_ || dragDwellIndex_ != std::optional<int>(index)) return;
  cancelDragDwell();
  logger_.notice("drag rested on index %ld: raising its window and standing aside", static_cast<long>(index));
  activate(index);
}

void OverlayController::cancelDragDwell() {
  if (dragDwellTask_) dragDwellTask_->cancel();
  dragDwellTask_.reset();
  dragDwellIndex_.reset();
}

// ---- The refresh after a summon ----

void OverlayController::scheduleRefresh(int generation) {
  after(kRefreshAfterSummon, [generation](OverlayController& self) {
    if (self.fadeGeneration_ != generation || !self.isVisible_) return;
    self.startRefreshTask();
  });
}

void OverlayController::startRefreshTask() {
  if (refreshTask_) refreshTask_->cancel();
  refreshTask_.reset();
  if (!services_.desktop.screenCaptureGranted()) return;
  const bool siteIcons = services_.settings.tabsDisplay() != AppSettings::TabsDisplay::off &&
                         services_.settings.boolValue("tabSiteIcons");
  PendingWork work;
  refreshTask_ = work;
  services_.registry.requestRefresh([weak = Weak(self_), work, shown = presentedCards_, siteIcons] {
    auto s = weak.lock();
    if (!s || work.isCancelled()) return;
    (*s)->refreshAfterSummon(work, shown, siteIcons);
  });
}

void OverlayController::refreshAfterSummon(const PendingWork& work, const std::vector<WindowCard>& shown,
                                           bool siteIcons) {
  const std::vector<WindowCard> list = CardListMerge::appendingNewcomers(shown, services_.registry.expandedCards());
  if (list.empty()) return;
  // The textures of newcomers are drawn before the scene is handed the new list.
  const std::vector<WindowCard> piled = trimPiles(list);
  std::vector<OverlayChromeTextures::IconRequest> icons;
  icons.reserve(piled.size());
  for (const WindowCard& card : piled) icons.push_back({card.pid, card.bundleID});
  services_.textures.prepareIcons(icons);
  if (services_.settings.boolValue("labelPlaceholders")) services_.textures.prepareLabels(labelPlaceholderKeys(piled));
  if (services_.settings.boolValue("showCardTitles")) services_.textures.prepareTitles(prepareTitles(piled));
  refreshCards();
  services_.textures.requestSiteIcons(list, siteIcons);
  if (work.isCancelled()) return;
  services_.cache.refreshCaptures(list, services_.registry.showingTabByHost(), services_.registry.visitTicks());
}

}  // namespace quorvel
