#pragma once

#include <atomic>

#include "base/Executor.h"
#include "overlay/controller/OverlayPictureSource.h"

namespace quorvel {

class ThumbnailCache;

// The overlay controller's pictures on the picture cache alone: the presentation brackets, the
// flush and the live slot with its request numbers. Taking pictures belongs to the capture service;
// this source takes none (stills end at once, the live stream never runs) and stands in until one
// is wired. Main thread only.
class ThumbnailPictureSource final : public OverlayPictureSource {
 public:
  ThumbnailPictureSource(ThumbnailCache& cache, Executor& main) : cache_(cache), main_(main) {}

  void beginPresentation() override;
  void endPresentation() override;
  void flushRetired() override;
  void captureStills(const std::vector<WindowCard>& cards,
                     const std::unordered_map<uint32_t, uint32_t>& showingTabByHost,
                     const std::unordered_map<uint32_t, uint64_t>& visitTicks, std::function<bool()> cancelled,
                     std::function<void()> done) override;
  uint64_t nextLiveSequence() override { return ++sequence_; }
  void startLiveHero(uint64_t sequence, uint32_t windowID, std::optional<uint32_t> showingTab,
                     std::function<void(bool running)> started) override;
  void stopLiveHero(uint64_t sequence) override;
  std::optional<uint32_t> liveWindowID() override;

 private:
  // Whether `sequence` is the newest request seen (and notes it).
  bool admit(uint64_t sequence);

  ThumbnailCache& cache_;
  Executor& main_;
  std::atomic<uint64_t> sequence_{0};
  std::atomic<uint64_t> newest_{0};
};

}  // namespace quorvel
