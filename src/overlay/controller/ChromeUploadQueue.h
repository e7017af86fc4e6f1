#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <optional>

#include "base/Executor.h"
#include "platform/RasterBitmap.h"
#include "platform/RasterRegions.h"

namespace quorvel {

// Hands the overlay's chrome bitmaps to the card renderer on a serial queue of their own. An upload
// to the GPU waits for the frames already queued before it (on a CPU renderer, a whole frame of
// drawing), and the main thread, which paints the chrome, must not wait with it: input would wait
// too. Only the newest bitmap counts, so one submitted while another waits replaces it (with the
// rectangles painted in it, which go up with it).
//
// A bitmap the sink is done with (or one replaced before it went up) is kept, with the rectangles
// painted in it, for the painter to paint the next chrome into (takeSpare), so that a change of the
// chrome costs the main thread no fresh memory while a summon's first frame is being drawn.
//
// submit() and takeSpare() from one thread (the main queue); the sink runs on `queue`, one bitmap
// at a time.
// close() stops the uploads not begun yet; one under way ends on its own, and keeps what the sink
// holds alive until then.
class ChromeUploadQueue {
 public:
  // Uploads a bitmap's painted rectangles.
  using Sink = std::function<bool(const RasterBitmap&, const RasterRegions&)>;
  // Uploads whole bitmaps.
  using WholeSink = std::function<bool(const RasterBitmap&)>;

  ChromeUploadQueue(std::shared_ptr<Executor> queue, Sink sink);
  ChromeUploadQueue(std::shared_ptr<Executor> queue, WholeSink sink);
  ~ChromeUploadQueue();
  ChromeUploadQueue(const ChromeUploadQueue&) = delete;
  ChromeUploadQueue& operator=(const ChromeUploadQueue&) = delete;

  void submit(RasterBitmap bitmap, RasterRegions painted);
  // The whole bitmap painted.
  void submit(RasterBitmap bitmap);
  void close();

  struct Painted {
    RasterBitmap bitmap;
    RasterRegions regions;
  };
  // A bitmap no longer needed, with the rectangles painted in it; none while every bitmap is
  // still on its way.
  std::optional<Painted> takeSpare();

 private:
  struct Shared {
    std::mutex mutex;
    using Painted = ChromeUploadQueue::Painted;
    std::optional<Painted> newest;  // under mutex
    std::optional<Painted> spare;   // under mutex
    bool posted = false;                 // under mutex: a drain is queued or running
    Sink sink;                           // under mutex; empty once closed
  };
  static void drain(const std::shared_ptr<Shared>& shared);

  std::shared_ptr<Executor> queue_;
  std::shared_ptr<Shared> shared_;
};

}  // namespace quorvel
