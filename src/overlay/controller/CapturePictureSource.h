#pragma once

#include "base/Executor.h"
#include "overlay/controller/OverlayPictureSource.h"

namespace quorvel {

class LiveHero;
class ThumbnailCache;
class WindowCapture;

// The overlay controller's pictures on the picture store, the still captures and the live stream.
// Captures and the stream's requests run as tasks on `captureExecutor` (never the main queue); what
// they report comes back on `main`. The live requests carry the numbers the controller drew when
// it decided them, so the stream honours them in that order whatever order they run in. Main
// thread only; every service outlives the source and the tasks it starts.
class CapturePictureSource final : public OverlayPictureSource {
 public:
  CapturePictureSource(ThumbnailCache& cache, WindowCapture& capture, LiveHero& live, Executor& captureExecutor,
                       Executor& main)
      : cache_(cache), capture_(capture), live_(live), captureExecutor_(captureExecutor), main_(main) {}

  void beginPresentation() override;
  void endPresentation() override;
  void flushRetired() override;
  std::function<void()> captureStills(const std::vector<WindowCard>& cards,
                                      const std::unordered_map<uint32_t, uint32_t>& showingTabByHost,
                                      const std::unordered_map<uint32_t, uint64_t>& visitTicks,
                                      std::function<void()> done) override;
  void refreshCaptures(const std::vector<WindowCard>& cards,
                       const std::unordered_map<uint32_t, uint32_t>& showingTabByHost,
                       const std::unordered_map<uint32_t, uint64_t>& visitTicks) override;
  uint64_t nextLiveSequence() override;
  void startLiveHero(uint64_t sequence, uint32_t windowID, std::optional<uint32_t> showingTab,
                     std::function<void(bool running)> started) override;
  void stopLiveHero(uint64_t sequence) override;
  std::optional<uint32_t> liveWindowID() override;

 private:
  ThumbnailCache& cache_;
  WindowCapture& capture_;
  LiveHero& live_;
  Executor& captureExecutor_;
  Executor& main_;
};

}  // namespace quorvel
