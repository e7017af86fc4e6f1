#include "overlay/controller/RegistryCardSource.h"

#include "base/Task.h"

namespace quorvel {
namespace {

Task<void> awaitRefresh(TaskHandle<void> refresh, std::function<void()> done) {
  co_await refresh;
  done();
}

}  // namespace

RegistryCardSource::RegistryCardSource(std::shared_ptr<WindowRegistry> registry, WindowServer& windowServer,
                                       Executor& main)
    : registry_(std::move(registry)), windowList_(windowServer), main_(main) {}

OverlayCardSource::SummonList RegistryCardSource::cardsForSummon() {
  WindowRegistry::SummonList list = registry_->cardsForSummon();
  return SummonList{std::vector<WindowCard>(list.cards.begin(), list.cards.end()), list.currentIndex, list.previousIndex};
}

std::unordered_map<uint32_t, uint32_t> RegistryCardSource::showingTabByHost() {
  return registry_->lock().withLock([&] { return registry_->state().showingTabByHost; });
}

std::unordered_map<uint32_t, uint64_t> RegistryCardSource::visitTicks() {
  return registry_->lock().withLock([&] { return registry_->state().recency.visitTicks(); });
}

std::vector<WindowCard> RegistryCardSource::expandedCards() {
  auto [cards, tabs] = registry_->lock().withLock([&] {
    return std::make_pair(registry_->state().cards, registry_->state().tabCards);
  });
  return WindowRegistry::expandingTabCards(*cards, *tabs, nullptr);
}

void RegistryCardSource::requestRefresh(std::function<void()> done) {
  TaskHandle<void> refresh = registry_->lock().withLock([&] { return registry_->requestRefresh(); });
  spawn(main_, awaitRefresh(std::move(refresh), std::move(done)));
}

std::unordered_map<uint32_t, int> RegistryCardSource::zOrderByWindowID() { return windowList_.zOrderByWindowID(); }

}  // namespace quorvel
