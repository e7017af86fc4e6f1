#include "pictures/WindowCapture.h"

#include <algorithm>
#include <atomic>

#include "pictures/CaptureGeometry.h"
#include "pictures/CaptureStamp.h"
#include "pictures/CompletionAwaiter.h"
#include "pictures/StillAcceptance.h"

namespace quorvel {

namespace {

// The context of the task that awaits it: lets the stills of a pass see the pass's cancellation.
struct ContextAwaiter {
  std::shared_ptr<TaskContext> value;
  bool await_ready() const noexcept { return false; }
  template <class P>
  bool await_suspend(std::coroutine_handle<P> h) noexcept {
    value = h.promise().context;
    return false;
  }
  std::shared_ptr<TaskContext> await_resume() noexcept { return std::move(value); }
};

// Overlap with a positive area: windows that only touch do not cover each other.
double overlapArea(const Rect& a, const Rect& b) {
  const double w = std::min(a.maxX(), b.maxX()) - std::max(a.minX(), b.minX());
  const double h = std::min(a.maxY(), b.maxY()) - std::max(a.minY(), b.minY());
  return w > 0 && h > 0 ? w * h : 0;
}

}  // namespace

struct WindowCapture::Pass {
  WindowCapture::Services* services = nullptr;
  std::shared_ptr<TaskContext> context;
  int limit = 1;
  std::vector<ShareableWindow> matched;
  std::vector<ShareableDisplay> displays;
  std::vector<OccluderProbe> probes;
  ZOrder zOrder;
  std::unordered_set<uint32_t> blurred;
  ShowingTabs visibleTabs;
  std::atomic<size_t> next{0};

  bool cancelled() const { return context && context->isCancelled(); }
  void forget(uint32_t id) {
    std::lock_guard guard(services->cache.lock());
    services->cache.forgetStamps({id});
  }
};

WindowCapture::ShowingTabs WindowCapture::visibleShowingTabs(const ShowingTabs& showingTabByHost,
                                                             const std::vector<WindowCard>& cards) {
  ShowingTabs out;
  if (showingTabByHost.empty()) return out;
  for (const auto& card : cards) {
    if (card.isPrivate) continue;
    auto it = showingTabByHost.find(card.id);
    if (it != showingTabByHost.end()) out.insert(*it);
  }
  return out;
}

std::unordered_set<uint32_t> WindowCapture::keepSet(
    const std::vector<WindowCard>& cards, const ShowingTabs& visibleTabs,
    const std::unordered_map<uint32_t, ThumbnailCache::Provenance>& banked) {
  std::unordered_set<uint32_t> keep;
  for (const auto& card : cards)
    if (!card.isPrivate || card.blursPicture) keep.insert(card.id);
  for (const auto& [host, tab] : visibleTabs) keep.insert(tab);
  if (!banked.empty()) {
    std::unordered_set<uint32_t> all, hosts;
    for (const auto& card : cards) {
      all.insert(card.id);
      all.insert(card.orderingID);
      if (card.tab) hosts.insert(card.tab->hostWindowID);
    }
    for (const auto& [id, provenance] : banked) {
      const uint32_t group = provenance.payload.value_or(0);
      if (provenance.payload && all.count(group) && !hosts.count(group)) keep.insert(id);
    }
  }
  return keep;
}

std::optional<ShareableDisplay> WindowCapture::displayFor(const Rect& frame,
                                                         const std::vector<ShareableDisplay>& displays) {
  // The display holding the window's centre first (the largest overlap in all ordinary cases);
  // otherwise the one it overlaps most; none when it lies on none, so that no picture of an
  // unrelated part of the screen is stored.
  const Point centre = frame.center();
  for (const auto& d : displays)
    if (d.frame.containsPoint(centre)) return d;
  std::optional<ShareableDisplay> best;
  double bestArea = 0;
  for (const auto& d : displays) {
    const double area = overlapArea(frame, d.frame);
    if (area > bestArea) {
      bestArea = area;
      best = d;
    }
  }
  return best;
}

bool WindowCapture::isCovered(const ShareableWindow& window, const std::vector<OccluderProbe>& probes,
                              const ZOrder& zOrder, int32_t ownPid) {
  auto own = zOrder.find(window.windowID);
  if (zOrder.empty() || own == zOrder.end()) return false;
  for (const auto& probe : probes) {
    if (probe.id == window.windowID) continue;
    if (probe.layer != 0 && probe.pid != ownPid) continue;
    auto index = zOrder.find(probe.id);
    if (index == zOrder.end() || index->second >= own->second) continue;
    if (overlapArea(probe.frame, window.frame) > 0) return true;
  }
  return false;
}

Task<void> WindowCapture::captureOnLeave(std::vector<WindowCard> cards, ShowingTabs showingTabByHost,
                                         VisitTicks visitTicks) {
  co_await run(Kind::leave, std::move(cards), std::move(showingTabByHost), std::move(visitTicks));
}

Task<void> WindowCapture::captureMissing(std::vector<WindowCard> cards, ShowingTabs showingTabByHost,
                                         VisitTicks visitTicks) {
  co_await run(Kind::missing, std::move(cards), std::move(showingTabByHost), std::move(visitTicks));
}

Task<void> WindowCapture::refreshForSummon(std::vector<WindowCard> cards, ShowingTabs showingTabByHost,
                                           VisitTicks visitTicks) {
  co_await run(Kind::summon, std::move(cards), std::move(showingTabByHost), std::move(visitTicks));
}

Task<void> WindowCapture::run(Kind kind, std::vector<WindowCard> cards, ShowingTabs showingTabByHost,
                              VisitTicks visitTicks) {
  ThumbnailCache& cache = s_.cache;
  if (!s_.capture.preflightAccess()) co_return;
  ContextAwaiter contextAwaiter;
  std::shared_ptr<TaskContext> context = co_await contextAwaiter;
  if (kind == Kind::leave && cards.empty()) co_return;
  if (kind != Kind::leave && context->isCancelled()) co_return;

  if (kind == Kind::summon) {
    const ShowingTabs visible = visibleShowingTabs(showingTabByHost, cards);
    std::unordered_map<uint32_t, ThumbnailCache::Provenance> banked;
    {
      std::lock_guard guard(cache.lock());
      cache.beginSession(cards);
      banked = cache.bankedProvenances();
    }
    const auto keep = keepSet(cards, visible, banked);
    cache.prune(keep);
    if (keep.empty()) {
      cache.enforceBudgetNow();
      co_return;
    }
  }

  const std::optional<uint32_t> live = cache.liveWindowID();
  std::vector<uint32_t> plan;
  {
    std::lock_guard guard(cache.lock());
    if (kind == Kind::leave && cache.presentationDepth() != 0) co_return;
    std::vector<std::pair<uint32_t, CaptureStamp>> stamps;
    for (const auto& card : cards) {
      if (card.state != WindowState::onCurrentSpace) continue;
      if (card.isPrivate && !card.blursPicture) continue;
      if (live == card.id) continue;
      if (std::find(plan.begin(), plan.end(), card.id) != plan.end()) continue;
      const CaptureStamp stamp = CaptureStamp::fingerprint(card, showingTabByHost, visitTicks);
      const bool unchanged = cache.stampOf(card.id) == stamp;
      switch (kind) {
        case Kind::leave:
          if (card.pid == s_.ownPid || cache.hasPendingJob(card.id)) continue;
          if (cache.hasPicture(card.id) && unchanged) continue;
          cache.stampLocked(card.id, stamp);
          break;
        case Kind::missing:
          if (cache.hasPicture(card.id) || cache.hasPendingJob(card.id)) continue;
          cache.stampLocked(card.id, stamp);
          break;
        case Kind::summon:
          if ((cache.hasPicture(card.id) || cache.hasPendingJob(card.id)) && unchanged) continue;
          stamps.emplace_back(card.id, stamp);
          break;
      }
      plan.push_back(card.id);
    }
    for (const auto& [id, stamp] : stamps) cache.stampLocked(id, stamp);
  }
  if (plan.empty()) {
    if (kind == Kind::summon) cache.enforceBudgetNow();
    co_return;
  }
  const std::unordered_set<uint32_t> planned(plan.begin(), plan.end());
  auto forgetPlanned = [&](const std::unordered_set<uint32_t>& ids) {
    std::lock_guard guard(cache.lock());
    cache.forgetStamps(ids);
  };

  auto pass = std::make_shared<Pass>();
  pass->services = &s_;
  pass->context = context;
  pass->limit = kind == Kind::leave ? kLeaveLimit : kind == Kind::missing ? kMissingLimit : kSummonLimit;
  for (const auto& card : cards)
    if (card.blursPicture) pass->blurred.insert(card.id);
  pass->visibleTabs = visibleShowingTabs(showingTabByHost, cards);

  CompletionAwaiter<ShareableContentResult> fetch{[this](std::function<void(ShareableContentResult)> done) {
    s_.content.getShareableContent(false, true, std::move(done));
  }};
  ShareableContentResult content = co_await fetch;
  if (content.error) {
    if (kind != Kind::missing) forgetPlanned(planned);
    if (kind == Kind::summon) cache.enforceBudgetNow();
    co_return;
  }
  cache.setLiveGeometry(content.windows);
  std::unordered_set<uint32_t> unmatched = planned;
  for (const auto& window : content.windows) {
    if (!planned.count(window.windowID)) continue;
    if (unmatched.erase(window.windowID)) pass->matched.push_back(window);
  }
  if (kind != Kind::missing && !unmatched.empty()) forgetPlanned(unmatched);
  if (pass->matched.empty()) {
    if (kind == Kind::summon) cache.enforceBudgetNow();
    co_return;
  }
  if (kind != Kind::leave && context->isCancelled()) {
    if (kind == Kind::summon) {
      std::unordered_set<uint32_t> matched;
      for (const auto& w : pass->matched) matched.insert(w.windowID);
      forgetPlanned(matched);
      cache.enforceBudgetNow();
    }
    co_return;
  }
  pass->displays = content.displays;
  for (const auto& w : content.windows)
    pass->probes.push_back(
        {w.windowID, w.windowLayer, w.owningApplication ? w.owningApplication->processID : -1, w.frame});
  if (s_.zOrder) pass->zOrder = s_.zOrder();

  co_await runStills(pass);
  if (kind == Kind::summon) cache.enforceBudgetNow();
}

Task<void> WindowCapture::runStills(std::shared_ptr<Pass> pass) {
  // `limit` workers each take the next window when their still is done: at most `limit` stills are
  // in flight, and a new one starts as soon as one finishes, while the pass is not cancelled.
  Executor& executor = co_await currentExecutor();
  const size_t workers = std::min<size_t>(static_cast<size_t>(pass->limit), pass->matched.size());
  std::vector<TaskHandle<void>> handles;
  for (size_t i = 0; i < workers; ++i) handles.push_back(spawn(executor, stillWorker(pass)));
  for (const auto& handle : handles) co_await handle;
}

Task<void> WindowCapture::stillWorker(std::shared_ptr<Pass> pass) {
  while (!pass->cancelled()) {
    const size_t index = pass->next.fetch_add(1);
    if (index >= pass->matched.size()) break;
    const ShareableWindow window = pass->matched[index];
    Task<bool> one = captureStill(pass, window);
    const bool stored = co_await std::move(one);
    if (!stored) pass->forget(window.windowID);
  }
}

Task<bool> WindowCapture::captureStill(std::shared_ptr<Pass> pass, ShareableWindow window) {
  if (pass->cancelled()) co_return false;
  const PixelSize size = CaptureGeometry::captureSize(CaptureFilterGeometry{}, window.frame);
  const CaptureConfiguration configuration{static_cast<int>(size.width), static_cast<int>(size.height)};
  ScreenCapture& capture = pass->services->capture;
  const uint32_t id = window.windowID;
  CompletionAwaiter<CaptureResult> still{[&capture, id, configuration](std::function<void(CaptureResult)> done) {
    capture.captureWindow(id, configuration, std::move(done));
  }};
  CaptureResult result = co_await still;
  if (!result.picture) co_return false;
  if (StillAcceptance::acceptsStill(*result.picture, result.drawnSinceMapped.value_or(false)))
    co_return store(*pass, *result.picture, id, true);
  Task<bool> fallback = displayFallback(pass, window, configuration);
  const bool stored = co_await std::move(fallback);
  co_return stored;
}

Task<bool> WindowCapture::displayFallback(std::shared_ptr<Pass> pass, ShareableWindow window,
                                          CaptureConfiguration configuration) {
  Services& s = *pass->services;
  if (!window.isOnScreen) co_return false;
  // A display picture shows whatever is on screen: while the overlay is up, only a service that
  // keeps the program's own windows out of it (and the setting that asks for that) gives the window.
  const bool presented = [&] {
    std::lock_guard guard(s.cache.lock());
    return s.cache.presentationDepth() > 0;
  }();
  if (presented) {
    const bool hidden = s.hideFromScreenSharing && s.hideFromScreenSharing();
    if (!hidden || !s.capture.excludesOwnWindows()) co_return false;
  }
  if (isCovered(window, pass->probes, pass->zOrder, s.ownPid)) co_return false;
  if (pass->cancelled()) co_return false;
  const std::optional<ShareableDisplay> display = displayFor(window.frame, pass->displays);
  if (!display) co_return false;
  const Rect source{window.frame.x - display->frame.x, window.frame.y - display->frame.y, window.frame.width,
                    window.frame.height};
  ScreenCapture& capture = s.capture;
  const uint32_t displayID = display->displayID;
  CompletionAwaiter<CaptureResult> shot{
      [&capture, displayID, source, configuration](std::function<void(CaptureResult)> done) {
        capture.captureDisplay(displayID, source, configuration, std::move(done));
      }};
  CaptureResult result = co_await shot;
  if (!result.picture || !(StillAcceptance::sampledLuminance(*result.picture) > StillAcceptance::kMinimumLuminance))
    co_return false;
  // The window may have left the screen since its still (minimized, closed): the display picture
  // then shows what lay behind it. A still asked after the display picture tells.
  const uint32_t id = window.windowID;
  CompletionAwaiter<CaptureResult> check{[&capture, id](std::function<void(CaptureResult)> done) {
    capture.captureWindow(id, {1, 1}, std::move(done));
  }};
  const CaptureResult stillThere = co_await check;
  if (!stillThere.picture) co_return false;
  co_return store(*pass, *result.picture, window.windowID, false);
}

bool WindowCapture::store(Pass& pass, const PixelBuffer& picture, uint32_t id, bool cropTabs) {
  Services& s = *pass.services;
  const bool blur = pass.blurred.count(id) > 0;
  std::optional<uint32_t> tab;
  if (auto it = pass.visibleTabs.find(id); it != pass.visibleTabs.end()) tab = it->second;
  const auto provenance = ThumbnailCache::Provenance::photograph(tab);
  if (auto entry = s.preparation.makeEntry(picture, provenance, CaptureExtent{})) {
    if (s.preparation.prepare(*entry, id, cropTabs, blur, provenance)) return true;
    // An unblurred copy of a window that must be blurred never reaches the store.
    if (blur) return false;
    entry->pixelBuffer.reset();
    s.cache.install(std::move(*entry), id, std::nullopt, ThumbnailCache::InstallKind::still);
    return true;
  }
  if (blur) return false;
  return s.preparation.storeCopied(picture, id, provenance);
}

}  // namespace quorvel
