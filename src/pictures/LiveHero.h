#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>

#include "base/Task.h"
#include "pictures/PicturePreparation.h"
#include "pictures/ThumbnailCache.h"
#include "platform/ScreenCapture.h"
#include "platform/ShareableContent.h"

namespace quorvel {

// The live picture of the selected card: a stream of one window whose complete frames become that
// window's picture in the store, at most 30 a second. At most one stream runs; the store's live
// slot names its window, so the capture passes leave that window alone.
//
// Requests and their order. The overlay decides to start or stop the stream on the main thread
// and carries the request out later, from a task that may run on another executor; requests can
// therefore arrive out of order. Each request carries a number drawn with nextRequest() at the
// moment it is decided: a request older than one already honoured is ignored. So a stop decided
// after a start wins even when it runs first, and a start decided after a stop is honoured.
//
//   const uint64_t request = live.nextRequest();        // main thread, at the decision
//   ... co_await live.startLiveHero(request, window, tab);   // any executor, later
//   ... co_await live.stopLiveHero(live.nextRequest());
//
// Start: without capture permission nothing happens (a running stream keeps running). A start for
// the window already live does nothing (the slot keeps its showing tab). Otherwise the running
// stream is stopped and its last frame settled into a prepared still, then a stream of the window
// is set up; when the window is not on screen (minimized, another desktop, gone) or the service
// fails, the start ends with no stream. Starts may overlap: only the newest start (or stop) keeps
// a stream; a start overtaken while its stream was starting stops that stream itself.
//
// Stop: empties the slot, stops the stream (no frame is stored after the awaited stop returns) and
// settles the last live frame; works without permission too.
//
// A stream that the service ends by itself (its window closed) empties the slot if it is still the
// current one and settles its last frame; nothing is shown or logged.
//
// Threads: start and stop are tasks for any executor; frames are handled on the capture service's
// delivery thread, one at a time. The stream lock is taken before the store's live-slot lock,
// never the other way round, and no lock is held across an await or a service call. Keep the
// object alive until every task using it has finished.
class LiveHero {
 public:
  LiveHero(ThumbnailCache& cache, PicturePreparation& preparation, ShareableContent& content,
           ScreenCapture& capture);
  ~LiveHero();
  LiveHero(const LiveHero&) = delete;
  LiveHero& operator=(const LiveHero&) = delete;

  // The number of a request decided now; numbers grow, so a later decision has a larger one.
  uint64_t nextRequest() { return requests_.fetch_add(1, std::memory_order_relaxed) + 1; }

  Task<void> startLiveHero(uint64_t request, uint32_t windowID, std::optional<uint32_t> showingTab);
  Task<void> stopLiveHero(uint64_t request);

  // The window whose stream runs now; none while no stream runs.
  std::optional<uint32_t> liveWindowID();

  struct State;

 private:
  std::shared_ptr<State> state_;
  std::atomic<uint64_t> requests_{0};
};

}  // namespace quorvel
