#include "pictures/LiveHero.h"

#include <algorithm>
#include <map>
#include <mutex>
#include <set>
#include <utility>

#include "base/Lock.h"
#include "pictures/CaptureGeometry.h"
#include "pictures/CompletionAwaiter.h"

namespace quorvel {

struct LiveHero::State {
  State(ThumbnailCache& cache, PicturePreparation& preparation, ShareableContent& content, ScreenCapture& capture)
      : cache(cache), preparation(preparation), content(content), capture(capture) {}

  ThumbnailCache& cache;
  PicturePreparation& preparation;
  ShareableContent& content;
  ScreenCapture& capture;

  // The live slot and the request order; taken before the store's live-slot lock.
  Lock streamLock;
  std::shared_ptr<CaptureStream> stream;
  uint64_t output = 0;  // the token of the stream's frame and stop handlers; 0 when empty
  std::optional<uint32_t> windowID, showingTab;
  uint64_t generation = 0;
  uint64_t newestRequest = 0;
  uint64_t nextOutput = 0;
  // Streams being started, and the newest frame each delivered before its start had finished: a
  // stream reads its first frame at once, and a window that does not change sends no other.
  std::set<uint64_t> starting;
  std::map<uint64_t, StreamFrame> early;

  // Frames are stored one at a time; `lastStored` is the output whose frame was stored last.
  std::mutex frameMutex;
  uint64_t lastStored = 0;
  // Set under frameMutex when the LiveHero goes: a stream's handlers may still run on its own
  // thread, and the store and preparation they would use may be gone.
  bool closed = false;

  struct Taken {
    std::shared_ptr<CaptureStream> stream;
    std::optional<uint32_t> windowID, showingTab;
  };
  // Empties the slot (under streamLock) and gives back what it held.
  Taken takeLocked() {
    generation += 1;
    Taken taken{std::exchange(stream, nullptr), std::exchange(windowID, std::nullopt),
                std::exchange(showingTab, std::nullopt)};
    output = 0;
    cache.takeLiveStream();
    return taken;
  }

  // The last live frame of `window` becomes a prepared still.
  void settle(uint32_t window, std::optional<uint32_t> tab) {
    std::optional<ThumbnailCache::Entry> entry = cache.entryCopy(window);
    if (!entry || !entry->pixelBuffer) return;
    const auto provenance = ThumbnailCache::Provenance::photograph(tab);
    entry->provenance = provenance;
    preparation.prepare(std::move(*entry), window, false, false, provenance);
  }

  void handleFrame(uint64_t token, uint32_t window, StreamFrame frame) {
    if (frame.status != StreamFrameStatus::complete || !frame.picture || !frame.picture->hasPixels()) return;
    std::lock_guard frames(frameMutex);
    if (closed) return;
    const bool current = streamLock.withLock([&] {
      if (output == token) return true;
      if (starting.count(token)) early[token] = std::move(frame);
      return false;
    });
    if (current) storeFrame(token, window, *frame.picture, frame);
  }

  // A frame that came while its stream was starting, stored once the stream is kept, unless a
  // newer frame of it was stored meanwhile.
  void storeEarlyFrame(uint64_t token, uint32_t window, StreamFrame frame) {
    std::lock_guard frames(frameMutex);
    if (closed || lastStored == token) return;
    if (!streamLock.withLock([&] { return output == token; })) return;
    storeFrame(token, window, *frame.picture, frame);
  }

  // Under frameMutex.
  void storeFrame(uint64_t token, uint32_t window, const PixelBuffer& picture, const StreamFrame& frame) {
    lastStored = token;
    cache.storeLiveFrame(picture.width, picture.height, window, frame.contentRect, frame.scale,
                         [&](const CaptureExtent& extent, const ThumbnailCache::Provenance& provenance) {
                           return preparation.makeEntry(picture, provenance, extent);
                         });
  }

  void handleStop(uint64_t token) {
    std::lock_guard frames(frameMutex);
    if (closed) return;
    std::optional<Taken> taken;
    streamLock.withLock([&] {
      if (output != token || token == 0) return;
      taken = takeLocked();
    });
    if (taken && taken->windowID) settle(*taken->windowID, taken->showingTab);
  }
};

namespace {

CompletionAwaiter<std::optional<std::string>> stopping(std::shared_ptr<CaptureStream> stream) {
  return {[stream](std::function<void(std::optional<std::string>)> done) { stream->stopCapture(std::move(done)); }};
}

CompletionAwaiter<std::optional<std::string>> starting(std::shared_ptr<CaptureStream> stream) {
  return {[stream](std::function<void(std::optional<std::string>)> done) { stream->startCapture(std::move(done)); }};
}

}  // namespace

LiveHero::LiveHero(ThumbnailCache& cache, PicturePreparation& preparation, ShareableContent& content,
                   ScreenCapture& capture)
    : state_(std::make_shared<State>(cache, preparation, content, capture)) {}

LiveHero::~LiveHero() {
  {
    // Waits for a handler at work, and turns the later ones away.
    std::lock_guard frames(state_->frameMutex);
    state_->closed = true;
  }
  std::shared_ptr<CaptureStream> stream = state_->streamLock.withLock([&] { return state_->takeLocked().stream; });
  if (stream) stream->stopCapture([stream](std::optional<std::string>) {});
}

std::optional<uint32_t> LiveHero::liveWindowID() {
  return state_->streamLock.withLock([&]() -> std::optional<uint32_t> {
    if (!state_->stream) return std::nullopt;
    return state_->windowID;
  });
}

Task<void> LiveHero::startLiveHero(uint64_t request, uint32_t windowID, std::optional<uint32_t> showingTab) {
  std::shared_ptr<State> s = state_;
  const bool permitted = s->capture.preflightAccess();
  uint64_t generation = 0;
  std::optional<State::Taken> old;
  const bool proceed = s->streamLock.withLock([&] {
    if (request < s->newestRequest) return false;
    s->newestRequest = request;
    if (!permitted) return false;
    if (s->stream && s->windowID == windowID) return false;
    old = s->takeLocked();
    generation = s->generation;
    return true;
  });
  if (!proceed) co_return;
  if (old->stream) {
    auto stop = stopping(old->stream);
    co_await stop;
  }
  if (old->windowID) s->settle(*old->windowID, old->showingTab);
  s->cache.clearLiveRing();

  CompletionAwaiter<ShareableContentResult> fetch{
      [s](std::function<void(ShareableContentResult)> done) { s->content.getShareableContent(false, true, done); }};
  ShareableContentResult content = co_await fetch;
  if (content.error) co_return;
  auto window = std::find_if(content.windows.begin(), content.windows.end(),
                             [&](const ShareableWindow& w) { return w.windowID == windowID; });
  if (window == content.windows.end()) co_return;

  const PixelSize size = CaptureGeometry::captureSize(CaptureFilterGeometry{}, window->frame);
  StreamConfiguration configuration;
  configuration.width = static_cast<int>(size.width);
  configuration.height = static_cast<int>(size.height);
  configuration.minimumFrameInterval = 1.0 / 30;
  configuration.queueDepth = 8;

  const uint64_t token = s->streamLock.withLock([&] {
    s->starting.insert(++s->nextOutput);
    return s->nextOutput;
  });
  auto abandon = [&] {
    s->streamLock.withLock([&] {
      s->starting.erase(token);
      s->early.erase(token);
    });
  };
  std::weak_ptr<State> weak = s;
  StreamHandlers handlers;
  handlers.onFrame = [weak, token, windowID](StreamFrame frame) {
    if (auto strong = weak.lock()) strong->handleFrame(token, windowID, std::move(frame));
  };
  handlers.onStop = [weak, token](std::string) {
    if (auto strong = weak.lock()) strong->handleStop(token);
  };
  std::shared_ptr<CaptureStream> stream = s->capture.makeStream(windowID, configuration, std::move(handlers));
  if (!stream) {
    abandon();
    co_return;
  }
  auto begin = starting(stream);
  if (std::optional<std::string> error = co_await begin) {
    abandon();
    co_return;
  }

  std::optional<StreamFrame> first;
  const bool kept = s->streamLock.withLock([&] {
    s->starting.erase(token);
    if (auto it = s->early.find(token); it != s->early.end()) {
      first = std::move(it->second);
      s->early.erase(it);
    }
    if (s->generation != generation) return false;
    s->stream = stream;
    s->output = token;
    s->windowID = windowID;
    s->showingTab = showingTab;
    s->cache.setLiveWindow(windowID, showingTab);
    return true;
  });
  if (kept) {
    s->cache.setLiveGeometry(content.windows);
    if (first) s->storeEarlyFrame(token, windowID, std::move(*first));
  } else {
    auto stop = stopping(stream);
    co_await stop;
  }
}

Task<void> LiveHero::stopLiveHero(uint64_t request) {
  std::shared_ptr<State> s = state_;
  std::optional<State::Taken> taken;
  s->streamLock.withLock([&] {
    if (request < s->newestRequest) return;
    s->newestRequest = request;
    taken = s->takeLocked();
  });
  if (!taken) co_return;
  if (taken->stream) {
    auto stop = stopping(taken->stream);
    co_await stop;
  }
  if (taken->windowID) s->settle(*taken->windowID, taken->showingTab);
  s->cache.clearLiveRing();
}

}  // namespace quorvel
