#include "overlay/controller/CapturePictureSource.h"

#include "base/Task.h"
#include "pictures/LiveHero.h"
#include "pictures/ThumbnailCache.h"
#include "pictures/WindowCapture.h"

namespace quorvel {
namespace {

Task<void> missingThenReport(WindowCapture& capture, std::vector<WindowCard> cards, WindowCapture::ShowingTabs showing,
                             WindowCapture::VisitTicks ticks, Executor& main, std::function<void()> done) {
  co_await capture.captureMissing(std::move(cards), std::move(showing), std::move(ticks));
  if (done) main.post(std::move(done));
}

Task<void> startThenReport(LiveHero& live, uint64_t request, uint32_t window, std::optional<uint32_t> tab,
                           Executor& main, std::function<void(bool)> started) {
  co_await live.startLiveHero(request, window, tab);
  const bool running = live.liveWindowID() == window;
  if (started) main.post([started = std::move(started), running] { started(running); });
}

Task<void> refreshPictures(WindowCapture& capture, std::vector<WindowCard> cards, WindowCapture::ShowingTabs showing,
                           WindowCapture::VisitTicks ticks) {
  co_await capture.refreshForSummon(std::move(cards), std::move(showing), std::move(ticks));
}

Task<void> stop(LiveHero& live, uint64_t request) { co_await live.stopLiveHero(request); }

}  // namespace

void CapturePictureSource::beginPresentation() { cache_.beginPresentation(); }

void CapturePictureSource::endPresentation() { cache_.endPresentation(); }

void CapturePictureSource::flushRetired() { cache_.flushRetired(); }

std::function<void()> CapturePictureSource::captureStills(const std::vector<WindowCard>& cards,
                                                          const std::unordered_map<uint32_t, uint32_t>& showingTabByHost,
                                                          const std::unordered_map<uint32_t, uint64_t>& visitTicks,
                                                          std::function<void()> done) {
  WindowCapture::VisitTicks ticks;
  for (const auto& [id, tick] : visitTicks) ticks[id] = static_cast<int64_t>(tick);
  TaskHandle<void> task =
      spawn(captureExecutor_, missingThenReport(capture_, cards, showingTabByHost, std::move(ticks), main_, std::move(done)));
  return [task] { task.cancel(); };
}

void CapturePictureSource::refreshCaptures(const std::vector<WindowCard>& cards,
                                           const std::unordered_map<uint32_t, uint32_t>& showingTabByHost,
                                           const std::unordered_map<uint32_t, uint64_t>& visitTicks) {
  WindowCapture::VisitTicks ticks;
  for (const auto& [id, tick] : visitTicks) ticks[id] = static_cast<int64_t>(tick);
  (void)spawn(captureExecutor_, refreshPictures(capture_, cards, showingTabByHost, std::move(ticks)));
}

uint64_t CapturePictureSource::nextLiveSequence() { return live_.nextRequest(); }

void CapturePictureSource::startLiveHero(uint64_t sequence, uint32_t windowID, std::optional<uint32_t> showingTab,
                                         std::function<void(bool)> started) {
  (void)spawn(captureExecutor_, startThenReport(live_, sequence, windowID, showingTab, main_, std::move(started)));
}

void CapturePictureSource::stopLiveHero(uint64_t sequence) { (void)spawn(captureExecutor_, stop(live_, sequence)); }

std::optional<uint32_t> CapturePictureSource::liveWindowID() { return live_.liveWindowID(); }

}  // namespace quorvel
