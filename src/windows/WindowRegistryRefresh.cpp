// The registry's refresh loop: the ticks and their cadence, and one pass from the shareable windows
// to the committed cards.
#include "windows/WindowRegistry.h"

#include <cmath>
#include <coroutine>
#include <limits>
#include <utility>

#include "base/Logger.h"
#include "base/ThreadCheck.h"
#include "base/Tracer.h"
#include "platform/Accessibility.h"
#include "platform/WindowServer.h"
#include "tabs/TabIdentityStore.h"
#include "windows/CardAssembly.h"
#include "windows/PrivateTitleStep.h"
#include "windows/RefreshCadence.h"
#include "windows/RoundRobin.h"
#include "windows/SnapshotFilter.h"
#include "windows/TabCardStep.h"
#include "windows/WindowFingerprints.h"
#include "windows/WindowList.h"

namespace quorvel {

namespace {

const Logger& registryLog() {
  // Never destroyed: threads still running as the process ends may log.
  static const Logger& logger = *new Logger("WindowRegistry");
  return logger;
}

Tracer& refreshTracer() {
  // Never destroyed: threads still running as the process ends may trace.
  static Tracer& tracer = *new Tracer("Refresh");
  return tracer;
}

// Waits for the capture service's list of shareable windows; the task resumes on its own executor.
struct ShareableContentAwaiter {
  ShareableContent& service;
  ShareableContentResult result;

  bool await_ready() const noexcept { return false; }
  template <class P>
  void await_suspend(std::coroutine_handle<P> h) {
    Executor* home = &h.promise().context->executor();
    service.getShareableContent(false, false, [this, home, h](ShareableContentResult answer) {
      result = std::move(answer);
      home->post([h] { h.resume(); });
    });
  }
  ShareableContentResult await_resume() { return std::move(result); }
};

// Ends the pass's traced interval on every way out of the pass.
class PassInterval {
 public:
  PassInterval() : id_(refreshTracer().makeTraceId()) {
    state_ = refreshTracer().beginInterval("performRefresh", id_);
  }
  ~PassInterval() { refreshTracer().endInterval("performRefresh", state_); }
  PassInterval(const PassInterval&) = delete;
  PassInterval& operator=(const PassInterval&) = delete;
  void skipped() { refreshTracer().emitEvent("skipped", id_); }

 private:
  uint64_t id_;
  Tracer::IntervalState state_;
};

}  // namespace

// ---- The refresh loop ----

TaskHandle<void> WindowRegistry::requestRefresh() {
  if (refreshTask_) {
    refreshRequestedAgain_ = true;
    return *refreshTask_;
  }
  TaskHandle<void> task = spawn(services_.runtime.pool(), refreshTaskBody(weak_from_this()));
  refreshTask_ = task;
  return task;
}

Task<void> WindowRegistry::refreshLoop(std::weak_ptr<WindowRegistry> weak) {
  while (true) {
    if (co_await isCancelled()) co_return;
    TaskHandle<void> task;
    {
      auto self = weak.lock();
      if (!self) co_return;
      task = self->state_.lock.withLock([&] { return self->requestRefresh(); });
    }
    co_await task;
    Duration interval{};
    {
      auto self = weak.lock();
      if (!self) co_return;
      interval = self->tickInterval();
    }
    if (!co_await sleepFor(interval)) co_return;
  }
}

Task<void> WindowRegistry::refreshTaskBody(std::weak_ptr<WindowRegistry> weak) {
  auto self = weak.lock();
  if (!self) co_return;
  while (true) {
    co_await self->performRefresh();
    const bool again = self->state_.lock.withLock([&] {
      if (!self->refreshRequestedAgain_) {
        self->refreshTask_.reset();
        return false;
      }
      self->refreshRequestedAgain_ = false;
      return true;
    });
    if (!again) co_return;
  }
}

Duration WindowRegistry::tickInterval() {
  const Instant now = services_.runtime.clock().now();
  const double since = state_.lock.withLock([&] {
    if (!state_.lastWorkspaceNotification) return std::numeric_limits<double>::infinity();
    return std::floor(toSeconds(now - *state_.lastWorkspaceNotification));
  });
  std::optional<double> idle = RefreshCadence::idleSeconds(services_.platform.inputIdle);
  if (!idle) {
    registryLog().notice("Idle time unavailable: the refresh tick stays on its fast cadence");
    idle = 0;
  }
  const Duration interval = RefreshCadence::interval(*idle, since);
  state_.lock.withLock([&] {
    if (state_.lastInterval != interval) state_.lastInterval = interval;
  });
  return interval;
}

std::vector<WindowRegistry::RawWindow> WindowRegistry::rawWindows(const std::vector<ShareableWindow>& windows) {
  std::vector<RawWindow> raw;
  raw.reserve(windows.size());
  for (const ShareableWindow& window : windows) {
    if (window.windowLayer != 0 || !window.owningApplication) continue;
    if (!(window.frame.width >= kSmallestWindowSide) || !(window.frame.height >= kSmallestWindowSide)) continue;
    const ShareableApplication& app = *window.owningApplication;
    RawWindow r;
    r.id = window.windowID;
    r.title = window.title.value_or("");
    r.appName = app.applicationName;
    r.bundleID = WindowCard::normalizedBundleID(app.bundleIdentifier);
    r.pid = app.processID;
    r.frame = window.frame;
    r.isOnScreen = window.isOnScreen;
    r.openingOrder = window.openingOrder;
    raw.push_back(std::move(r));
  }
  return raw;
}

std::optional<int32_t> WindowRegistry::pickDeepVerified(const std::vector<RawWindow>& rawWindows) {
  std::vector<int32_t> candidates;
  candidates.reserve(rawWindows.size());
  for (const RawWindow& window : rawWindows) candidates.push_back(window.pid);
  const std::optional<int32_t> pick = roundRobinNext(state_.lastDeepVerified, candidates);
  if (pick) state_.lastDeepVerified = pick;
  return pick;
}

Task<void> WindowRegistry::performRefresh() {
  QUORVEL_REQUIRE_EXECUTOR(services_.runtime.pool(), "WindowRegistry::performRefresh");
  PassInterval interval;

  // 2. Tabs used since the last pass.
  const std::vector<uint32_t> touches =
      state_.lock.withLock([&] { return std::exchange(state_.pendingTabTouches, {}); });
  if (!touches.empty()) {
    TabIdentityStore& identity = state_.tabIdentity();
    for (uint32_t id : touches) identity.touch(id);
    CardOrdering::TabRecency recency = identity.lastUsed();
    auto published = std::make_shared<const CardOrdering::TabRecency>(std::move(recency));
    state_.lock.withLock([&] { state_.tabRecency = std::move(published); });
  }

  // 3. Pictures of the windows the user left.
  CardAssembly(state_, services_, nullptr).flushLeaveCaptures();

  // 4-6. Skip the pass when the window list has not changed, except every 15th pass and a forced one.
  const int64_t fingerprint = WindowFingerprints::windowList(services_.platform.windowServer.onScreenWindows());
  int passCount = 0;
  bool forced = false;
  std::optional<int64_t> lastFingerprint;
  state_.lock.withLock([&] {
    passCount = state_.passesSinceForcedRefresh + 1;
    state_.passesSinceForcedRefresh = passCount > kForcedPassEvery - 1 ? 0 : passCount;
    forced = std::exchange(state_.mustRunNextPass, false);
    lastFingerprint = state_.lastFingerprint;
  });
  if (passCount <= kForcedPassEvery - 1 && lastFingerprint == fingerprint && !forced) {
    interval.skipped();
    co_return;
  }
  // A forced pass that cannot finish hands its flag on, so the next pass is not skipped with stale
  // cards.
  auto keepForced = [&] {
    if (forced) state_.lock.withLock([&] { state_.mustRunNextPass = true; });
  };

  // 7. Without Screen Recording no pass runs.
  if (!services_.platform.windowServer.preflightScreenCaptureAccess()) {
    keepForced();
    co_return;
  }

  // 8-10. The shareable windows and their desktops, read as one picture: when the current desktop
  // changed between the two readings, the windows were seen on the old desktop and the desktops on
  // the new one, and the windows of either would be judged wrongly (dropped as not on screen on a
  // current desktop). Both are read again then, a few times at most; a desktop that keeps changing
  // leaves the cards as they are and the next pass reads again.
  const SpaceMap spaceMap(services_.platform.desktopServer);
  std::vector<RawWindow> raw;
  std::optional<SpaceMap::Snapshot> snapshot;
  for (int reading = 1;; ++reading) {
    const std::optional<SpaceMap::Topology> before = spaceMap.topology();
    // 8. The shareable windows.
    ShareableContentResult content = co_await ShareableContentAwaiter{services_.platform.shareableContent, {}};
    if (content.error) {
      keepForced();
      co_return;
    }

    // 9. No windows at all: no cards. The fingerprint goes too, so the next pass looks again.
    raw = rawWindows(content.windows);
    if (raw.empty()) {
      state_.lock.withLock([&] {
        state_.cards = std::make_shared<const std::vector<WindowCard>>();
        state_.lastFingerprint.reset();
      });
      co_return;
    }

    // 10. Desktops.
    std::vector<uint32_t> ids;
    ids.reserve(raw.size());
    for (const RawWindow& window : raw) ids.push_back(window.id);
    snapshot = spaceMap.snapshot(ids);
    const bool steady = !before || !snapshot || before->currentSpaceIDs == snapshot->currentSpaceIDs;
    if (steady) break;
    if (reading == kPictureReadings) {
      registryLog().notice("The current desktop kept changing during the pass; the cards stay as they were");
      state_.lock.withLock([&] { state_.mustRunNextPass = true; });
      co_return;
    }
  }
  // 10. Displays and trust, once per pass.
  std::vector<Rect> displayBounds = WindowList(services_.platform.windowServer).activeDisplayBounds();
  const bool trusted = services_.platform.accessibility.isProcessTrusted();

  // 11. The deep verification belongs to the 15th pass only.
  std::optional<int32_t> deepVerified;
  if (passCount >= kForcedPassEvery) deepVerified = state_.lock.withLock([&] { return pickDeepVerified(raw); });

  // 12. The pass steps.
  co_await runPassSteps(std::move(raw), deepVerified, trusted, std::move(snapshot), std::move(displayBounds),
                        fingerprint);
}

Task<void> WindowRegistry::runPassSteps(std::vector<RawWindow> rawWindows, std::optional<int32_t> deepVerifiedPid,
                                        bool trusted, std::optional<SpaceMap::Snapshot> snapshot,
                                        std::vector<Rect> displayBounds, int64_t fingerprint) {
  SnapshotFilter filter({state_.lock, state_.axCacheByPID, state_.axPrivateWindows, state_.priorAnswers,
                        state_.lastKnownHandles},
                       services_);
  SnapshotFilter::Result filtered =
      co_await filter.run(SnapshotFilter::Inputs{rawWindows, snapshot, displayBounds, trusted, deepVerifiedPid});

  TabCardStep tabStep({state_.lock, state_.tabCache, state_.axPrivateWindows, state_.tabIdentity()}, services_);
  TabCardStep::Result tabs =
      co_await tabStep.expandTabs(filtered.windowCards, rawWindows, filtered.settings, trusted, deepVerifiedPid);
  CardAssembly::applyOutOfReach(filtered.windowCards, tabs.outOfReachCounts);

  PrivateTitleStep titleStep({state_.lock, state_.axTitleCacheByPID, state_.axPrivateWindows}, services_);
  co_await titleStep.readPrivateTitles(filtered.windowCards, rawWindows, tabs.coveredPids, deepVerifiedPid, trusted,
                                       filtered.settings.privateWindowsDisplay);

  CardAssembly assembly(state_, services_,
                        [this](uint32_t id, std::optional<uint32_t> headSeen) { noteVisitUnlessOvertaken(id, headSeen); });
  std::vector<WindowCard> windowCards = std::move(filtered.windowCards);
  assembly.buildCards(std::move(windowCards), rawWindows, filtered, std::move(tabs), fingerprint);
}

}  // namespace quorvel
