#pragma once

#include <cstdint>
#include <optional>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "base/Geometry.h"
#include "base/Task.h"
#include "tabs/TabAdapter.h"
#include "tabs/TabRecord.h"
#include "tabs/TabWalker.h"
#include "windows/CardOrdering.h"
#include "windows/PassSettings.h"
#include "windows/RegistryServices.h"
#include "windows/RegistryState.h"
#include "windows/WindowCard.h"

namespace quorvel {

// The step of a refresh pass that turns browser windows into tab cards: it walks each browser
// window's tab strip on the Accessibility queue, gives every tab a stable id, and makes one card per
// tab except the one the window shows. Walks are cached per application while its windows do not
// change. A window whose walk fails keeps the tabs of its last good read, offered only as a count on
// its window card; a window whose Accessibility title marks it private gets no tab cards.
class TabCardStep {
 public:
  using RawWindow = RegistryState::RawWindow;

  struct Result {
    CardOrdering::TabTable tabsByHost;
    std::unordered_set<int32_t> coveredPids;  // every process with a host window this pass
    std::unordered_map<uint32_t, uint32_t> showingByHost;
    std::unordered_map<uint32_t, int> outOfReachCounts;
  };

  // The registry fields the step reads and writes, each only under `lock`: the tab walk cache and
  // the windows found private; and the tab identity store, which only the running pass uses.
  struct Shared {
    Lock& lock;
    TabCache& tabCache;
    std::unordered_set<uint32_t>& axPrivateWindows;
    TabIdentityStore& tabIdentity;
  };

  TabCardStep(Shared shared, const RegistryServices& services);

  Task<Result> expandTabs(const std::vector<WindowCard>& windowCards, const std::vector<RawWindow>& rawWindows,
                          const PassSettings& settings, bool trusted, std::optional<int32_t> deepVerifiedPid);

  // The tab cards of one host and the id of the tab it shows (the first selected tab, which makes
  // no card of its own).
  struct HostTabs {
    std::vector<WindowCard> cards;
    std::optional<uint32_t> showing;
  };
  static HostTabs buildTabCards(const WindowCard& host, const TabAdapter& adapter, const TabWalker::Walk& walk,
                                const std::vector<uint32_t>& ids, bool rightToLeft);

  // Where a tab's site icon lies in its host window's picture, from the icon's own frame or, without
  // one, from the tab's frame and the adapter's icon geometry.
  static std::optional<Rect> faviconCrop(const TabRecord& tab, const TabAdapter& adapter,
                                         const std::optional<Rect>& hostFrame, bool rightToLeft);

  // Keeps the tab cards of hosts not out of reach; an out-of-reach host with cards gets a count.
  static void splitOutOfReach(const CardOrdering::TabTable& table, const std::unordered_set<uint32_t>& outOfReach,
                              const std::unordered_map<uint32_t, uint32_t>& showing, Result& into);

 private:
  Shared shared_;
  const RegistryServices& services_;
};

}  // namespace quorvel
