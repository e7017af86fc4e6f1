#include "windows/TabCardStep.h"

#include <algorithm>

#include "ax/AXFunnel.h"
#include "settings/AppSettings.h"
#include "tabs/TabIdentityStore.h"
#include "windows/FaviconCrop.h"
#include "windows/PrivateWindowMarkers.h"
#include "windows/WindowFingerprints.h"
#include "windows/WritingDirection.h"

namespace quorvel {

namespace {

using PrivateDisplay = AppSettings::PrivateWindowsDisplay;

// One browser window to walk.
struct HostJob {
  const WindowCard* card;
  const TabAdapter* adapter;
  uint32_t identityHost;
};

}  // namespace

TabCardStep::TabCardStep(Shared shared, const RegistryServices& services) : shared_(shared), services_(services) {}

void TabCardStep::splitOutOfReach(const CardOrdering::TabTable& table, const std::unordered_set<uint32_t>& outOfReach,
                                  const std::unordered_map<uint32_t, uint32_t>& showing, Result& into) {
  for (const auto& [host, cards] : table) {
    if (outOfReach.contains(host)) {
      if (!cards.empty()) into.outOfReachCounts[host] = static_cast<int>(cards.size());
    } else {
      into.tabsByHost[host] = cards;
    }
  }
  for (const auto& [host, tab] : showing) into.showingByHost[host] = tab;
}

Task<TabCardStep::Result> TabCardStep::expandTabs(const std::vector<WindowCard>& windowCards,
                                                  const std::vector<RawWindow>& rawWindows,
                                                  const PassSettings& settings, bool trusted,
                                                  std::optional<int32_t> deepVerifiedPid) {
  Result result;
  TabIdentityStore& identity = shared_.tabIdentity;
  if (settings.tabsDisplay == AppSettings::TabsDisplay::off || !trusted) {
    shared_.lock.withLock([&] { shared_.tabCache.clear(); });
    identity.forgetHost({}, {});
    co_return result;
  }

  // Host jobs, grouped by process in order of first appearance.
  std::vector<int32_t> pids;
  std::unordered_map<int32_t, std::vector<HostJob>> jobsByPid;
  std::unordered_set<int32_t> pidsWithAdapter;
  std::unordered_map<int32_t, std::unordered_set<uint32_t>> windowCardsByPid;
  for (const WindowCard& card : windowCards) {
    windowCardsByPid[card.pid].insert(card.id);
    const TabAdapter* adapter = card.bundleID ? TabAdapter::find(*card.bundleID) : nullptr;
    if (adapter) pidsWithAdapter.insert(card.pid);
    if (card.isPrivate || !card.ax || !adapter) continue;
    if (adapter->tabsAreWindows && card.state == WindowState::minimized) continue;
    // The ordering id is the native tab group's smallest window for applications whose tabs are
    // windows, and the window itself otherwise: the key the identity store remembers tabs under.
    auto [it, inserted] = jobsByPid.try_emplace(card.pid);
    if (inserted) pids.push_back(card.pid);
    it->second.push_back(HostJob{&card, adapter, card.orderingID});
  }
  result.coveredPids.insert(pids.begin(), pids.end());

  std::unordered_set<uint32_t> identityHosts;
  for (const auto& [pid, jobs] : jobsByPid) {
    for (const HostJob& job : jobs) identityHosts.insert(job.identityHost);
  }
  shared_.lock.withLock([&] {
    shared_.tabCache.keepOnly(pidsWithAdapter);
  });
  identity.forgetHost(identityHosts, result.coveredPids);

  std::unordered_map<int32_t, std::vector<const RawWindow*>> rawByPid;
  for (const RawWindow& window : rawWindows) {
    if (jobsByPid.contains(window.pid)) rawByPid[window.pid].push_back(&window);
  }

  const bool readTitles = settings.privateWindowsDisplay != PrivateDisplay::show;
  const bool rightToLeft = WritingDirection::userLanguageIsRightToLeft();
  std::unordered_set<uint32_t> privateHosts;
  TabWalker& walker = services_.tabWalker;

  for (int32_t pid : pids) {
    const std::vector<HostJob>& jobs = jobsByPid[pid];
    const int64_t fingerprint = WindowFingerprints::titleFingerprint(rawByPid[pid]);

    if (pid != deepVerifiedPid) {
      std::optional<TabCache::Entry> cached =
          shared_.lock.withLock([&] { return shared_.tabCache.served(pid, fingerprint, readTitles); });
      if (cached) {
        splitOutOfReach(cached->tabsByHost, cached->outOfReach, cached->showingByHost, result);
        continue;
      }
    }

    bool mayCache = true;
    CardOrdering::TabTable fresh;
    std::unordered_map<uint32_t, uint32_t> freshShowing;
    std::unordered_set<uint32_t> emptyHosts;
    std::unordered_set<uint32_t> jobHosts;
    for (const HostJob& job : jobs) {
      const WindowCard& host = *job.card;
      jobHosts.insert(host.id);
      const TabAdapter& adapter = *job.adapter;
      const AXHandle& window = *host.ax;
      TabWalker::Walk walk = co_await services_.axFunnel.run([&walker, &window, pid, &adapter, readTitles] {
        return walker.walk(window, pid, adapter, readTitles, true);
      });
      mayCache = mayCache && walk.mayCache;
      if (walk.accessibleTitle && PrivateWindowMarkers::isPrivateTabTitle(host.bundleID, *walk.accessibleTitle)) {
        privateHosts.insert(host.id);
        continue;
      }
      if (walk.tabs.empty()) {
        emptyHosts.insert(host.id);
        continue;
      }
      const std::vector<uint32_t> ids = identity.assign(walk.tabs, job.identityHost, pid);
      HostTabs built = buildTabCards(host, adapter, walk, ids, rightToLeft);
      if (!built.cards.empty()) fresh[host.id] = std::move(built.cards);
      if (built.showing) freshShowing[host.id] = *built.showing;
    }

    // Hosts whose tabs could not be read this pass keep the tabs of the last good read: windows of
    // this process with remembered tabs that were not walked, and walks that came back empty. Only
    // windows that are still cards of this process now are carried; the tabs of closed windows go.
    // A carried host keeps the tab it showed as well.
    const std::unordered_set<uint32_t>& liveWindows = windowCardsByPid[pid];
    CardOrdering::TabTable merged = fresh;
    std::unordered_map<uint32_t, uint32_t> mergedShowing = freshShowing;
    shared_.lock.withLock([&] {
      const TabCache::Entry* old = shared_.tabCache.remembered(pid);
      if (!old) return;
      const CardOrdering::TabTable& remembered = old->tabsByHost;
      auto carried = [&](uint32_t host) {
        return emptyHosts.contains(host) ||
               (remembered.contains(host) && !jobHosts.contains(host) && liveWindows.contains(host));
      };
      for (const auto& [host, cards] : remembered) {
        if (carried(host) && !fresh.contains(host) && !cards.empty()) merged[host] = cards;
      }
      for (const auto& [host, tab] : old->showingByHost) {
        if (carried(host) && !freshShowing.contains(host)) mergedShowing[host] = tab;
      }
    });
    std::unordered_set<uint32_t> outOfReach;
    for (const auto& [host, cards] : merged) {
      if (!fresh.contains(host)) outOfReach.insert(host);
    }

    std::optional<TabCache::Entry> keep;
    if (mayCache) keep = TabCache::Entry{fingerprint, merged, mergedShowing, outOfReach, readTitles};
    shared_.lock.withLock([&] { shared_.tabCache.record(pid, std::move(keep)); });
    splitOutOfReach(merged, outOfReach, mergedShowing, result);
  }

  if (!privateHosts.empty()) {
    shared_.lock.withLock([&] { shared_.axPrivateWindows.insert(privateHosts.begin(), privateHosts.end()); });
  }
  co_return result;
}

TabCardStep::HostTabs TabCardStep::buildTabCards(const WindowCard& host, const TabAdapter& adapter,
                                                 const TabWalker::Walk& walk, const std::vector<uint32_t>& ids,
                                                 bool rightToLeft) {
  HostTabs out;
  const size_t count = std::min(walk.tabs.size(), ids.size());
  if (count == 0) return out;
  out.cards.reserve(count);
  for (size_t i = 0; i < count; ++i) {
    const TabRecord& tab = walk.tabs[i];
    if (tab.isSelected && !out.showing) {
      out.showing = ids[i];
      continue;
    }
    WindowCard::TabFacts facts;
    facts.element = tab.element;
    facts.ordinal = tab.ordinal;
    facts.stripCount = static_cast<int>(walk.tabs.size());
    facts.isSelected = tab.isSelected;
    facts.deminimizeHost = host.state == WindowState::minimized;
    facts.faviconCrop = faviconCrop(tab, adapter, walk.hostFrame, rightToLeft);
    out.cards.push_back(WindowCard::tabCard(host, ids[i], tab.title, std::move(facts)));
  }
  return out;
}

std::optional<Rect> TabCardStep::faviconCrop(const TabRecord& tab, const TabAdapter& adapter,
                                             const std::optional<Rect>& hostFrame, bool rightToLeft) {
  if (!adapter.hasSiteIcon || !hostFrame) return std::nullopt;
  const Rect& h = *hostFrame;
  if (tab.faviconFrame) return faviconCropRect(h, *tab.faviconFrame);
  if (!tab.frame) return std::nullopt;
  const Rect& t = *tab.frame;
  if (!(h.width > 0 && h.height > 0 && t.width > 0 && t.height > 0)) return std::nullopt;
  const double side = std::clamp(adapter.faviconSideFraction * t.height, 12.0, 20.0);
  if (side > t.width + 1) return std::nullopt;
  double x;
  if (t.width < adapter.pinnedWidthFactor * t.height) {
    x = t.midX() - side / 2;
  } else {
    const double inset = adapter.faviconInsetFraction * t.height;
    x = rightToLeft ? t.maxX() - inset - side : t.minX() + inset;
  }
  const double y = t.midY() - side / 2;
  const Rect square{x, y, side, side};
  const Rect grown{t.minX() - 1, t.minY() - 1, t.width + 2, t.height + 2};
  if (!grown.containsRect(square) || !h.containsRect(square)) return std::nullopt;
  if (square.midY() > h.minY() + 0.15 * h.height) return std::nullopt;
  return Rect{(x - h.minX()) / h.width, (y - h.minY()) / h.height, side / h.width, side / h.height};
}

}  // namespace quorvel
