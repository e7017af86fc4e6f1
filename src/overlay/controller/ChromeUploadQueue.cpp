#include "overlay/controller/ChromeUploadQueue.h"

#include <optional>
#include <utility>

namespace quorvel {

ChromeUploadQueue::ChromeUploadQueue(std::shared_ptr<Executor> queue, Sink sink)
    : queue_(std::move(queue)), shared_(std::make_shared<Shared>()) {
  shared_->sink = std::move(sink);
}

ChromeUploadQueue::ChromeUploadQueue(std::shared_ptr<Executor> queue, WholeSink sink)
    : ChromeUploadQueue(std::move(queue), [whole = std::move(sink)](const RasterBitmap& bitmap, const RasterRegions&) {
        return whole(bitmap);
      }) {}

ChromeUploadQueue::~ChromeUploadQueue() { close(); }

void ChromeUploadQueue::close() {
  std::lock_guard held(shared_->mutex);
  shared_->newest.reset();
  shared_->spare.reset();
  shared_->sink = nullptr;
}

std::optional<ChromeUploadQueue::Painted> ChromeUploadQueue::takeSpare() {
  std::lock_guard held(shared_->mutex);
  return std::exchange(shared_->spare, std::nullopt);
}

void ChromeUploadQueue::submit(RasterBitmap bitmap) {
  RasterRegions whole = RasterRegions::whole(bitmap.width(), bitmap.height());
  submit(std::move(bitmap), std::move(whole));
}

void ChromeUploadQueue::submit(RasterBitmap bitmap, RasterRegions painted) {
  {
    std::lock_guard held(shared_->mutex);
    if (!shared_->sink) return;
    // One replaced before it went up is spare at once.
    if (shared_->newest) shared_->spare = std::move(shared_->newest);
    shared_->newest = Shared::Painted{std::move(bitmap), std::move(painted)};
    if (shared_->posted) return;  // the drain under way takes it
    shared_->posted = true;
  }
  queue_->post([shared = shared_] { drain(shared); });
}

void ChromeUploadQueue::drain(const std::shared_ptr<Shared>& shared) {
  for (;;) {
    std::optional<Shared::Painted> painted;
    Sink sink;
    {
      std::lock_guard held(shared->mutex);
      if (!shared->newest || !shared->sink) {
        shared->posted = false;
        return;
      }
      painted = std::move(shared->newest);
      shared->newest.reset();
      sink = shared->sink;  // a copy: the upload runs without the lock
    }
    sink(painted->bitmap, painted->regions);
    std::lock_guard held(shared->mutex);
    if (shared->sink) shared->spare = std::move(painted);
  }
}

}  // namespace quorvel
