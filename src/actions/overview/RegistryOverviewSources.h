#pragma once

#include <memory>

#include "actions/overview/OverviewSources.h"
#include "base/Executor.h"

namespace quorvel {

class ThumbnailCache;
class WindowCapture;
class WindowRegistry;

// The overview's cards from the window registry. The registry's lock is held only to copy its
// lists and tables and to ask for a refresh, never across a wait.
class RegistryOverviewCards final : public OverviewCardSource {
 public:
  explicit RegistryOverviewCards(std::shared_ptr<WindowRegistry> registry) : registry_(std::move(registry)) {}
  std::vector<WindowCard> cards() override;
  // Marks the next pass as one that cannot be skipped, asks for it and waits for it.
  Task<void> refreshAfterMove() override;

 private:
  std::shared_ptr<WindowRegistry> registry_;
};

// The overview's pictures from the picture store; captures run on `captureExecutor` with the
// registry's tables of shown tabs and visits, copied under its lock.
class CacheOverviewPictures final : public OverviewPictureSource {
 public:
  CacheOverviewPictures(ThumbnailCache& cache, WindowCapture& capture, std::shared_ptr<WindowRegistry> registry,
                        Executor& captureExecutor)
      : cache_(cache), capture_(capture), registry_(std::move(registry)), captureExecutor_(captureExecutor) {}
  std::optional<CardPicture> entry(uint32_t windowID) override;
  Task<void> captureMissing(std::vector<WindowCard> cards) override;
  void beginPresentation() override;
  void endPresentation() override;

 private:
  ThumbnailCache& cache_;
  WindowCapture& capture_;
  std::shared_ptr<WindowRegistry> registry_;
  Executor& captureExecutor_;
};

}  // namespace quorvel
