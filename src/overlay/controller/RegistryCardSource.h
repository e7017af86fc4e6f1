#pragma once

#include <memory>

#include "base/Executor.h"
#include "overlay/controller/OverlayCardSource.h"
#include "windows/WindowList.h"
#include "windows/WindowRegistry.h"

namespace quorvel {

class WindowServer;

// The overlay controller's card source on the window registry and the window server's stacking
// list. Main thread only. The registry is held weakly by the refresh wait: a registry that goes
// ends the wait without calling back.
class RegistryCardSource final : public OverlayCardSource {
 public:
  RegistryCardSource(std::shared_ptr<WindowRegistry> registry, WindowServer& windowServer, Executor& main);

  SummonList cardsForSummon() override;
  std::unordered_map<uint32_t, uint32_t> showingTabByHost() override;
  std::unordered_map<uint32_t, uint64_t> visitTicks() override;
  std::vector<WindowCard> expandedCards() override;
  void requestRefresh(std::function<void()> done) override;
  std::unordered_map<uint32_t, int> zOrderByWindowID() override;

 private:
  std::shared_ptr<WindowRegistry> registry_;
  WindowList windowList_;
  Executor& main_;
};

}  // namespace quorvel
