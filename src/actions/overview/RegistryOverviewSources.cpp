#include "actions/overview/RegistryOverviewSources.h"

#include "pictures/ThumbnailCache.h"
#include "pictures/WindowCapture.h"
#include "windows/WindowRegistry.h"

namespace quorvel {

std::vector<WindowCard> RegistryOverviewCards::cards() {
  auto [cards, tabs] = registry_->lock().withLock([&] {
    return std::make_pair(registry_->state().cards, registry_->state().tabCards);
  });
  return WindowRegistry::expandingTabCards(*cards, *tabs, nullptr);
}

Task<void> RegistryOverviewCards::refreshAfterMove() {
  TaskHandle<void> refresh = registry_->lock().withLock([&] {
    registry_->state().mustRunNextPass = true;
    return registry_->requestRefresh();
  });
  co_await refresh;
}

std::optional<CardPicture> CacheOverviewPictures::entry(uint32_t windowID) {
  return cache_.lock().withLock([&] { return cache_.entry(windowID); });
}

Task<void> CacheOverviewPictures::captureMissing(std::vector<WindowCard> cards) {
  auto [showing, ticks] = registry_->lock().withLock([&] {
    return std::make_pair(registry_->state().showingTabByHost, registry_->state().recency.visitTicks());
  });
  WindowCapture::VisitTicks visits;
  for (const auto& [id, tick] : ticks) visits[id] = static_cast<int64_t>(tick);
  TaskHandle<void> pass = spawn(captureExecutor_, capture_.captureMissing(std::move(cards), std::move(showing), std::move(visits)));
  co_await pass;
}

void CacheOverviewPictures::beginPresentation() { cache_.beginPresentation(); }

void CacheOverviewPictures::endPresentation() { cache_.endPresentation(); }

}  // namespace quorvel
