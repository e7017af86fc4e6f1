// Close and minimize from the switcher, the follow-up that shows what really happened, and the
// merge of the registry's current cards into a summon.
#include "overlay/controller/CardListMerge.h"
#include "overlay/controller/OverlayController.h"
#include "windows/ApplicationIdentity.h"

namespace quorvel {

void OverlayController::windowAction(int kind) {
  if (!activeDisplay_ || (kind != 0 && kind != 1)) return;
  OverlayScene* scene = renderer(*activeDisplay_);
  if (!scene) return;
  performWindowAction(kind == 0 ? CardAction::close : CardAction::minimize, selectedIndex(*scene));
}

void OverlayController::performWindowAction(CardAction kind, int index) {
  if (!isVisible_ || !windowActionsEnabled_ || index < 0 || index >= static_cast<int>(presentedCards_.size())) return;
  shortcutTap_.interrupted();
  const WindowCard card = presentedCards_[static_cast<size_t>(index)];
  OverlayWindowActions* actions = services_.windowActions;
  const bool ownsWindow = card.state != WindowState::windowlessApp && card.state != WindowState::browserTab;
  const bool hasHandle = card.ax != nullptr;
  if (!ownsWindow || !hasHandle || !actions) {
    logger_.notice("Refused %{public}s: actsOnItsOwnWindow=%{public}s hasHandle=%{public}s",
                   std::string(cardActionName(kind)), ownsWindow ? "true" : "false", hasHandle ? "true" : "false");
    if (actions) actions->beep();
    return;
  }
  const std::optional<OwnWindow> own = actions->ownWindow(card);
  Weak weak = self_;
  auto followUp = [weak] {
    if (auto self = weak.lock()) (*self)->startActionFollowUp();
  };
  if (kind == CardAction::close) {
    logger_.notice("close window of %{private}s", card.appName);
    closedWindowIDs_.insert(card.id);
    removeClosedCard(card.id);
    if (own) {
      actions->closeOwnWindow(own->number);
      startActionFollowUp();
    } else {
      actions->close(card.ax, followUp);
    }
    return;
  }
  const bool restore = card.state == WindowState::minimized;
  logger_.notice("%s window of %{private}s", restore ? "restore" : "minimize", card.appName);
  showMinimized(card.id, !restore);
  if (own) {
    actions->setOwnWindowMinimized(own->number, !restore);
    startActionFollowUp();
  } else {
    actions->setMinimized(card.ax, !restore, followUp);
  }
}

void OverlayController::removeClosedCard(uint32_t id) {
  std::vector<WindowCard> remaining;
  remaining.reserve(allPresentedCards_.size());
  for (const WindowCard& card : allPresentedCards_)
    if (card.id != id) remaining.push_back(card);
  if (remaining.size() == allPresentedCards_.size()) return;
  const std::optional<uint32_t> keep = cardIDAt(presentedPreviousIndex_);
  const std::optional<int> fallback = CardListMerge::indexOf(presentedCards_, id);
  allPresentedCards_ = std::move(remaining);
  applySearch(fallback, false);
  updateEmptyState();
  presentedPreviousIndex_ = keep ? CardListMerge::indexOf(presentedCards_, *keep).value_or(0) : 0;
}

void OverlayController::showMinimized(uint32_t id, bool minimized) {
  bool changed = false;
  for (WindowCard& card : allPresentedCards_) {
    if (card.id != id) continue;
    // A window of a hidden application stays shown as hidden, as the registry ranks it.
    if (card.state == WindowState::hiddenApp) return;
    // A restored window comes back where it was minimized, which is nearly always this desktop; the
    // follow-up's refresh says where it really is.
    card.state = minimized ? WindowState::minimized : WindowState::onCurrentSpace;
    card.spaceNumber.reset();
    card.isOnFullscreenSpace = false;
    changed = true;
  }
  if (!changed) return;
  applySearch(std::nullopt, false);
}

void OverlayController::startActionFollowUp() {
  if (!isVisible_) return;
  if (actionFollowUpTask_) actionFollowUpTask_->cancel();
  PendingWork work;
  actionFollowUpTask_ = work;
  const int generation = fadeGeneration_;
  after(kActionFollowUpDelay, [work, generation](OverlayController& self) {
    if (work.isCancelled() || self.fadeGeneration_ != generation || !self.isVisible_) return;
    self.services_.registry.requestRefresh([weak = Weak(self.self_), work, generation] {
      auto s = weak.lock();
      if (!s || work.isCancelled()) return;
      (*s)->actionFollowUpRefreshed(generation);
    });
  });
}

void OverlayController::actionFollowUpRefreshed(int generation) {
  if (fadeGeneration_ != generation || !isVisible_) return;
  refreshCards();
  const bool closedAny = !closedWindowIDs_.empty();
  bool still = false;
  for (const WindowCard& card : allPresentedCards_)
    if (closedWindowIDs_.count(card.id)) still = true;
  closedWindowIDs_.clear();
  if (!still) {
    if (closedAny) logger_.debug("the closed windows are gone: the switcher stays");
    return;
  }
  logger_.notice("a closed window is still there, leaving the switcher so the app can be answered");
  cancel();
}

void OverlayController::refreshCards() {
  if (!isVisible_ || !activeDisplay_ || !renderer(*activeDisplay_)) return;
  std::optional<std::vector<WindowCard>> updated =
      CardListMerge::merged(allPresentedCards_, services_.registry.expandedCards(),
                            presentedScopePID_ ? std::optional(ApplicationIdentity{*presentedScopePID_,
                                                                                   presentedScopeBundleID_})
                                               : std::nullopt);
  if (!updated) return;
  const std::optional<uint32_t> keep = cardIDAt(presentedPreviousIndex_);
  allPresentedCards_ = std::move(*updated);
  applySearch(std::nullopt, false);
  updateEmptyState();
  presentedPreviousIndex_ = keep ? CardListMerge::indexOf(presentedCards_, *keep).value_or(0) : 0;
}

std::optional<uint32_t> OverlayController::cardIDAt(int index) const {
  if (index < 0 || index >= static_cast<int>(presentedCards_.size())) return std::nullopt;
  return presentedCards_[static_cast<size_t>(index)].id;
}

}  // namespace quorvel
