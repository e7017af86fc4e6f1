#include "windows/CardAssembly.h"

#include <algorithm>
#include <utility>

#include "base/TextServices.h"
#include "platform/Workspace.h"
#include "settings/AppSettings.h"
#include "tabs/TabIdentityStore.h"
#include "windows/FocusObserver.h"
#include "windows/PrivateWindowRule.h"
#include "windows/WindowList.h"

namespace quorvel {

namespace {

using CategoryDisplay = AppSettings::CategoryDisplay;

// The copy of a previous card that stands for a hidden application's window the window server no
// longer lists.
WindowCard carriedOver(const WindowCard& card) {
  WindowCard copy = card;
  copy.state = WindowState::hiddenApp;
  copy.spaceNumber.reset();
  copy.spaceIDs.clear();
  copy.isPrivate = false;
  copy.blursPicture = false;
  copy.isOnFullscreenSpace = false;
  copy.tabsOutOfReach = 0;
  return copy;
}

}  // namespace

CardAssembly::CardAssembly(RegistryState& state, const RegistryServices& services, NoteVisit noteVisit)
    : state_(state), services_(services), noteVisit_(std::move(noteVisit)) {}

void CardAssembly::applyOutOfReach(std::vector<WindowCard>& windowCards,
                                   const std::unordered_map<uint32_t, int>& outOfReachCounts) {
  if (outOfReachCounts.empty()) return;
  for (WindowCard& card : windowCards) {
    const auto count = outOfReachCounts.find(card.id);
    if (count != outOfReachCounts.end() && count->second >= 1) card.tabsOutOfReach = count->second;
  }
}

void CardAssembly::buildCards(std::vector<WindowCard> windowCards, const std::vector<RawWindow>& rawWindows,
                              const SnapshotFilter::Result& filter, TabCardStep::Result tabs, int64_t fingerprint) {
  const PassSettings& settings = filter.settings;
  const SnapshotFilter::RunningApps& apps = filter.apps;

  // 1-2. Hidden applications' windows the window server stopped listing.
  std::unordered_set<uint32_t> listedIDs;
  listedIDs.reserve(rawWindows.size());
  for (const RawWindow& window : rawWindows) listedIDs.insert(window.id);
  const std::vector<WindowCard> carried = releaseRetainedHidden(listedIDs, apps.runningPids, apps.hiddenPids);

  // 3-4. The user's hide rules and the private-window settings of the moment.
  const auto privateWindows = state_.lock.withLock([&] { return state_.axPrivateWindows; });
  std::vector<WindowCard> shownCarried;
  for (const WindowCard& card : carried) {
    if (settings.hidesByUserRules(card.bundleID, card.title)) continue;
    const bool knownPrivate = privateWindows.contains(card.id) || card.isPrivate;
    const PrivateWindowRule::Treatment privacy =
        PrivateWindowRule::forWindow(knownPrivate, card.bundleID, card.title, settings);
    if (privacy.hide) continue;
    WindowCard shown = card;
    PrivateWindowRule::dress(shown, privacy);
    shownCarried.push_back(std::move(shown));
  }

  // 5. Carried cards after the window cards.
  std::vector<WindowCard> cards = std::move(windowCards);
  if (settings.hiddenAppsDisplay != CategoryDisplay::hide) {
    for (auto& card : shownCarried) cards.push_back(std::move(card));
  }

  // 6. The focus observer watches every application that has cards.
  std::unordered_set<int32_t> pidsWithCards = filter.pidsWithWindows;
  for (const WindowCard& card : carried) pidsWithCards.insert(card.pid);
  services_.focusObserver.sync(std::set<int32_t>(pidsWithCards.begin(), pidsWithCards.end()));

  // 7-8. Applications without windows.
  std::unordered_set<std::string> fullyHidden;
  for (const std::string& id : settings.hiddenBundleIDList) {
    if (!settings.hiddenTitlePatterns.contains(id)) fullyHidden.insert(id);
  }
  if (settings.windowlessAppsDisplay != CategoryDisplay::hide) {
    const int32_t ownPid = services_.platform.workspace.ownPid();
    for (auto& card : windowlessAppCards(apps.regularApps, pidsWithCards, fullyHidden, ownPid)) {
      cards.push_back(std::move(card));
    }
  }

  // 9. Bookkeeping.
  std::unordered_set<uint32_t> knownIDs = listedIDs;
  for (const WindowCard& card : carried) knownIDs.insert(card.id);
  const CardOrdering::RankTable ranks =
      pruneBookkeeping(knownIDs, listedIDs, filter.axNamedNow, filter.placedNow, filter.axWindowsByID);

  // 10. The front-most window of the current desktop (the focused one, where the platform knows the
  // focus apart from the stacking) counts as visited. The head is read first: a visit credited
  // after the platform was read (a focus change on another queue) is newer and stays in front.
  const std::optional<uint32_t> head = state_.lock.withLock([&] { return state_.recency.head(); });
  const CardOrdering::ZOrder zOrder = WindowList(services_.platform.windowServer).zOrderByWindowID();
  const std::optional<WindowFocus> focus = services_.platform.windowServer.focus();
  if (const auto current = CardOrdering::currentWindow(cards, zOrder, head, focus); current && noteVisit_) {
    noteVisit_(*current, head);
  }

  // 11. The stored order: by recency whatever the user's order, categories "at end" last.
  const bool groupByApp = services_.settings.boolValue(AppSettings::Key::groupByApp);
  CardOrdering::sortCards(cards, AppSettings::WindowOrder::recent, ranks, CardOrdering::kNoRank, zOrder, groupByApp);
  cards = CardOrdering::moveCategoriesToEnd(std::move(cards), settings.packedCategoryDisplays());

  // The tab cards for the sink, hosts in card order.
  std::vector<WindowCard> allTabs;
  if (!tabs.tabsByHost.empty()) {
    std::unordered_set<uint32_t> joined;
    for (const WindowCard& card : cards) {
      const auto it = tabs.tabsByHost.find(card.id);
      if (it == tabs.tabsByHost.end()) continue;
      allTabs.insert(allTabs.end(), it->second.begin(), it->second.end());
      joined.insert(card.id);
    }
    std::vector<uint32_t> rest;
    for (const auto& [host, list] : tabs.tabsByHost) {
      if (!joined.contains(host)) rest.push_back(host);
    }
    std::sort(rest.begin(), rest.end());
    for (uint32_t host : rest) {
      const auto& list = tabs.tabsByHost[host];
      allTabs.insert(allTabs.end(), list.begin(), list.end());
    }
  }

  // 12. Commit.
  auto tabRecency = std::make_shared<const CardOrdering::TabRecency>(state_.tabIdentity().lastUsed());
  const bool hasTabs = !tabs.tabsByHost.empty();
  auto committedCards = std::make_shared<const std::vector<WindowCard>>(std::move(cards));
  auto textRanks = std::make_shared<const CardOrdering::TextRanks>(CardOrdering::textRanks(*committedCards));
  auto committedTabs = std::make_shared<const CardOrdering::TabTable>(std::move(tabs.tabsByHost));
  RegistryState::TabCardSink sink = state_.lock.withLock([&] {
    state_.textRanksOf = committedCards;
    state_.textRanks = std::move(textRanks);
    state_.cards = std::move(committedCards);
    state_.tabCards = std::move(committedTabs);
    state_.showingTabByHost = std::move(tabs.showingByHost);
    state_.tabRecency = std::move(tabRecency);
    state_.lastFingerprint = fingerprint;
    return state_.tabCardSink;
  });

  // 13. The tab cards go to the sink outside the lock.
  if (hasTabs && sink) {
    const bool resolveIcons = settings.tabsDisplay != AppSettings::TabsDisplay::off && settings.tabSiteIcons;
    sink(std::move(allTabs), resolveIcons);
  }
}

std::vector<WindowCard> CardAssembly::releaseRetainedHidden(const std::unordered_set<uint32_t>& listedIDs,
                                                            const std::unordered_set<int32_t>& runningPids,
                                                            const std::unordered_set<int32_t>& hiddenPids) {
  return state_.lock.withLock([&] {
    std::erase_if(state_.retainedHidden, [&](const auto& entry) {
      const auto& [id, card] = entry;
      return listedIDs.contains(id) || !runningPids.contains(card.pid) || !hiddenPids.contains(card.pid);
    });
    for (const WindowCard& card : *state_.cards) {
      // Only windows are carried: an application card stands for an application without windows
      // and is made afresh by every pass.
      if (card.state == WindowState::windowlessApp || card.state == WindowState::browserTab) continue;
      if (state_.retainedHidden.contains(card.id) || listedIDs.contains(card.id) || !hiddenPids.contains(card.pid)) {
        continue;
      }
      state_.retainedHidden.emplace(card.id, carriedOver(card));
    }
    std::vector<WindowCard> out;
    out.reserve(state_.retainedHidden.size());
    for (const auto& [id, card] : state_.retainedHidden) out.push_back(card);
    return out;
  });
}

std::vector<WindowCard> CardAssembly::windowlessAppCards(const std::vector<RegularApp>& regularApps,
                                                         const std::unordered_set<int32_t>& pidsWithCards,
                                                         const std::unordered_set<std::string>& fullyHiddenBundleIDs,
                                                         int32_t ownPid) {
  std::vector<WindowCard> cards;
  std::vector<std::string> keys;
  for (const RegularApp& app : regularApps) {
    if (app.pid == ownPid || pidsWithCards.contains(app.pid) || app.name.empty()) continue;
    if (app.bundleID && fullyHiddenBundleIDs.contains(*app.bundleID)) continue;
    cards.push_back(WindowCard::applicationCard(app.pid, app.name, app.bundleID));
    keys.push_back(TextServices::lowercased(app.name));
  }
  std::vector<size_t> order(cards.size());
  for (size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::stable_sort(order.begin(), order.end(),
                   [&](size_t a, size_t b) { return TextServices::plainCompare(keys[a], keys[b]) < 0; });
  std::vector<WindowCard> sorted;
  sorted.reserve(cards.size());
  for (size_t i : order) sorted.push_back(std::move(cards[i]));
  return sorted;
}

CardOrdering::RankTable CardAssembly::pruneBookkeeping(const std::unordered_set<uint32_t>& knownIDs,
                                                       const std::unordered_set<uint32_t>& listedIDs,
                                                       const std::unordered_set<uint32_t>& axNamedNow,
                                                       const std::unordered_set<uint32_t>& placedNow,
                                                       const SnapshotFilter::AXWindows& axWindowsByID) {
  return state_.lock.withLock([&] {
    auto unknown = [&](uint32_t id) { return !knownIDs.contains(id); };
    auto unlisted = [&](uint32_t id) { return !listedIDs.contains(id); };
    state_.recency.keepOnly(knownIDs);
    if (state_.lastRaise && unknown(state_.lastRaise->id)) state_.lastRaise.reset();
    std::erase_if(state_.axPrivateWindows, unknown);
    state_.leaveCaptures.keepOnly(knownIDs);

    std::erase_if(state_.priorAnswers.axNamed, unlisted);
    std::erase_if(state_.priorAnswers.placedOnASpace, unlisted);
    state_.priorAnswers.axNamed.insert(axNamedNow.begin(), axNamedNow.end());
    state_.priorAnswers.placedOnASpace.insert(placedNow.begin(), placedNow.end());

    auto& handles = state_.lastKnownHandles.handles;
    std::erase_if(handles, [&](const auto& entry) { return unlisted(entry.first); });
    for (const auto& [id, info] : axWindowsByID) handles[id] = info.handle;

    return state_.recency.ranks();
  });
}

void CardAssembly::flushLeaveCaptures() {
  std::vector<WindowCard> cards;
  std::unordered_map<uint32_t, uint32_t> showing;
  std::unordered_map<uint32_t, uint64_t> ticks;
  const bool found = state_.lock.withLock([&] {
    const std::vector<uint32_t> taken = state_.leaveCaptures.takePending();
    if (taken.empty() || !state_.leaveCaptures.sink()) return false;
    const std::unordered_set<uint32_t> pending(taken.begin(), taken.end());
    for (const WindowCard& card : *state_.cards) {
      if (pending.contains(card.id)) cards.push_back(card);
    }
    if (cards.empty()) return false;
    showing = state_.showingTabByHost;
    ticks = state_.recency.visitTicks();
    return true;
  });
  if (!found) return;
  LeaveCaptures::Sink sink = state_.lock.withLock([&] { return state_.leaveCaptures.sink(); });
  if (sink) sink(std::move(cards), std::move(showing), std::move(ticks));
}

}  // namespace quorvel
