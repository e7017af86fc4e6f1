#include "windows/SnapshotFilter.h"

#include <utility>

#include "ax/AXFunnel.h"
#include "ax/AXWindow.h"
#include "platform/Accessibility.h"
#include "platform/Workspace.h"
#include "settings/AppSettings.h"
#include "tabs/TabAdapter.h"
#include "windows/ChromeWindowCensus.h"
#include "windows/PrivateWindowMarkers.h"
#include "windows/WindowFingerprints.h"
#include "windows/WindowRules.h"

namespace quorvel {

namespace {

const TabAdapter* adapterFor(const std::optional<std::string>& bundleID) {
  return bundleID ? TabAdapter::find(*bundleID) : nullptr;
}

}  // namespace

SnapshotFilter::SnapshotFilter(Shared shared, const RegistryServices& services)
    : shared_(shared), services_(services) {}

Task<SnapshotFilter::Result> SnapshotFilter::run(const Inputs& inputs) {
  AXRead read = co_await readAXWindows(inputs.rawWindows, inputs.deepVerifiedPid, inputs.trusted);
  const PassSettings settings = PassSettings::read(services_.settings);
  Result result = collectRawWindows(inputs, std::move(read), settings);
  if (inputs.trusted && (settings.tabsDisplay != AppSettings::TabsDisplay::off ||
                         settings.privateWindowsDisplay != AppSettings::PrivateWindowsDisplay::show)) {
    TabAdapter::NudgeRecord& nudges = services_.nudges;
    const std::unordered_set<int32_t>& keeping = result.browserPids;
    co_await services_.axFunnel.run([&nudges, &keeping] { nudges.pruneNudged(keeping); });
  }
  co_return result;
}

SnapshotFilter::RunningApps SnapshotFilter::runningAppsSnapshot() {
  RunningApps apps;
  for (const RunningApplication& app : services_.platform.workspace.runningApplications()) {
    apps.runningPids.insert(app.pid);
    if (app.isHidden) apps.hiddenPids.insert(app.pid);
    if (app.activationPolicy == ActivationPolicy::regular) {
      RegularApp regular;
      regular.pid = app.pid;
      regular.bundleID = app.bundleIdentifier;
      regular.name = app.localizedName.value_or(app.bundleIdentifier.value_or(""));
      apps.regularApps.push_back(std::move(regular));
    }
  }
  const auto own = services_.chromeWindows.openWindowNumbers();
  apps.ownWindowNumbers.insert(own.begin(), own.end());
  return apps;
}

Task<SnapshotFilter::AXRead> SnapshotFilter::readAXWindows(const std::vector<RawWindow>& rawWindows,
                                                           std::optional<int32_t> deepVerifiedPid, bool trusted) {
  AXRead read;
  read.apps = co_await runOn(services_.runtime.main(), [this] { return runningAppsSnapshot(); });
  if (!trusted) {
    shared_.lock.withLock([&] { shared_.axCacheByPID.clear(); });
    co_return read;
  }

  // The raw windows by process, processes in order of first appearance.
  std::vector<int32_t> pids;
  std::unordered_map<int32_t, std::vector<const RawWindow*>> byPid;
  for (const RawWindow& window : rawWindows) {
    auto [it, inserted] = byPid.try_emplace(window.pid);
    if (inserted) pids.push_back(window.pid);
    it->second.push_back(&window);
  }

  read.axWindowsByID.reserve(rawWindows.size());
  Accessibility& accessibility = services_.platform.accessibility;
  for (int32_t pid : pids) {
    const int64_t subFingerprint = WindowFingerprints::windowSubFingerprint(byPid[pid]);
    if (pid != deepVerifiedPid) {
      const bool served = shared_.lock.withLock([&] {
        const auto cached = shared_.axCacheByPID.find(pid);
        if (cached == shared_.axCacheByPID.end() || cached->second.subFingerprint != subFingerprint) return false;
        for (const auto& [id, info] : cached->second.windows) read.axWindowsByID[id] = info;
        return true;
      });
      if (served) continue;
    }
    AXWindows windows = co_await services_.axFunnel.run([&accessibility, pid] {
      return AXWindow::windows(accessibility, pid);
    });
    shared_.lock.withLock([&] {
      shared_.axCacheByPID[pid] = RegistryState::CachedAppAX{subFingerprint, windows};
    });
    for (auto& [id, info] : windows) read.axWindowsByID[id] = std::move(info);
  }

  shared_.lock.withLock([&] {
    std::erase_if(shared_.axCacheByPID, [&](const auto& entry) { return !byPid.contains(entry.first); });
  });
  co_return read;
}

SnapshotFilter::Result SnapshotFilter::collectRawWindows(const Inputs& inputs, AXRead read,
                                                         const PassSettings& settings) {
  Result result;
  result.settings = settings;
  result.axWindowsByID = std::move(read.axWindowsByID);
  result.apps = std::move(read.apps);

  const auto privateWindows = shared_.lock.withLock([&] { return shared_.axPrivateWindows; });
  const auto prior = shared_.lock.withLock([&] { return shared_.priorAnswers; });
  const auto lastHandles = shared_.lock.withLock([&] { return shared_.lastKnownHandles; });

  std::unordered_map<int32_t, std::vector<const RawWindow*>> byPid;
  std::unordered_set<int32_t> pidsWithAXWindows;
  for (const RawWindow& window : inputs.rawWindows) {
    byPid[window.pid].push_back(&window);
    if (inputs.trusted && result.axWindowsByID.contains(window.id)) pidsWithAXWindows.insert(window.pid);
  }
  const WindowFacts::Pass pass{
      .axWindows = result.axWindowsByID,
      .snapshot = inputs.snapshot ? &*inputs.snapshot : nullptr,
      .trusted = inputs.trusted,
      .ownPid = services_.platform.workspace.ownPid(),
      .ownWindowNumbers = result.apps.ownWindowNumbers,
      .hiddenPids = result.apps.hiddenPids,
      .knownPrivate = privateWindows,
      .prior = prior,
      .windowsByPid = byPid,
      .pidsWithAXWindows = pidsWithAXWindows,
  };

  result.windowCards.reserve(inputs.rawWindows.size());
  for (const RawWindow& w : inputs.rawWindows) {
    const WindowFacts facts = WindowFacts::of(w, pass);
    if (facts.listedByAX()) result.axNamedNow.insert(w.id);
    if (!facts.spaces.empty()) result.placedNow.insert(w.id);

    if (WindowRules::hiddenByUser(facts, settings)) {
      result.pidsWithWindows.insert(w.pid);
      continue;
    }
    const PrivateWindowRule::Treatment privacy =
        PrivateWindowRule::forWindow(facts.knownPrivate, w.bundleID, w.title, settings);
    if (privacy.hide) {
      result.pidsWithWindows.insert(w.pid);
      continue;
    }
    if (WindowRules::droppedBySubrole(facts) || WindowRules::isStrayOwnWindow(facts)) continue;
    if (!WindowRules::isVisible(facts, inputs.displayBounds)) continue;

    result.pidsWithWindows.insert(w.pid);
    const WindowState state = WindowRules::stateOf(facts);
    if (WindowRules::governingDisplay(state, settings) == AppSettings::CategoryDisplay::hide) continue;
    result.windowCards.push_back(makeCard(facts, state, privacy, lastHandles));
  }

  for (const WindowCard& card : result.windowCards) {
    if (adapterFor(card.bundleID) || PrivateWindowMarkers::family(card.bundleID)) result.browserPids.insert(card.pid);
  }
  return result;
}

WindowCard SnapshotFilter::makeCard(const WindowFacts& facts, WindowState state,
                                    const PrivateWindowRule::Treatment& privacy,
                                    const RegistryState::LastKnownHandles& lastHandles) {
  const RawWindow& w = facts.window;
  WindowCard card;
  card.id = w.id;
  card.orderingID = WindowRules::orderingID(w, facts.sameApp);
  card.openingOrder = WindowRules::openingOrder(w, facts.sameApp);
  card.title = w.title;
  card.appName = w.appName;
  card.bundleID = w.bundleID;
  card.pid = w.pid;
  card.frame = w.frame;
  if (facts.ax) {
    card.ax = facts.ax->handle;
  } else if (facts.trusted) {
    const auto handle = lastHandles.handles.find(w.id);
    if (handle != lastHandles.handles.end()) card.ax = handle->second;
  }
  card.state = state;
  card.spaceNumber = WindowRules::spaceNumber(facts, state);
  card.isOnFullscreenSpace = WindowRules::isOnFullscreenSpace(facts, state);
  card.spaceIDs = facts.spaces;
  PrivateWindowRule::dress(card, privacy);
  return card;
}

}  // namespace quorvel
