#include "overlay/controller/ThumbnailPictureSource.h"

#include "pictures/ThumbnailCache.h"

namespace quorvel {

void ThumbnailPictureSource::beginPresentation() { cache_.beginPresentation(); }

void ThumbnailPictureSource::endPresentation() { cache_.endPresentation(); }

void ThumbnailPictureSource::flushRetired() { cache_.flushRetired(); }

void ThumbnailPictureSource::captureStills(const std::vector<WindowCard>&,
                                           const std::unordered_map<uint32_t, uint32_t>&,
                                           const std::unordered_map<uint32_t, uint64_t>&, std::function<bool()>,
                                           std::function<void()> done) {
  if (done) main_.post(std::move(done));
}

bool ThumbnailPictureSource::admit(uint64_t sequence) {
  uint64_t seen = newest_.load();
  while (sequence > seen)
    if (newest_.compare_exchange_weak(seen, sequence)) return true;
  return false;
}

void ThumbnailPictureSource::startLiveHero(uint64_t sequence, uint32_t windowID, std::optional<uint32_t> showingTab,
                                           std::function<void(bool)> started) {
  if (admit(sequence)) cache_.setLiveWindow(windowID, showingTab);
  // No stream is taken here: the card keeps its still picture.
  if (started) main_.post([started = std::move(started)] { started(false); });
}

void ThumbnailPictureSource::stopLiveHero(uint64_t sequence) {
  if (admit(sequence)) cache_.takeLiveStream();
}

std::optional<uint32_t> ThumbnailPictureSource::liveWindowID() { return std::nullopt; }

}  // namespace quorvel
