#pragma once

#include "pictures/PicturePreparation.h"

namespace quorvel {

// The plainest way captured pictures enter the store: the pixels are uploaded as they are, at full
// size; a still keeps its full-size texture (no half-size copy, no mips beyond what the copy route
// builds) and tab crops are not cut. A picture that must be blurred cannot be prepared here, so it
// is dropped (prepare answers false): an unblurred picture of such a window never reaches the
// store. Used until the GPU preparation is available; stateless beyond the store it feeds.
class CpuPicturePreparation final : public PicturePreparation {
 public:
  explicit CpuPicturePreparation(ThumbnailCache& cache) : cache_(cache) {}

  std::optional<Entry> makeEntry(const PixelBuffer& buffer, const Provenance& provenance,
                                 const CaptureExtent& extent) override;
  bool prepare(Entry source, uint32_t id, bool cropTabs, bool blur, const Provenance& provenance) override;
  bool storeCopied(const PixelBuffer& buffer, uint32_t id, const Provenance& provenance) override;

 private:
  ThumbnailCache& cache_;
};

}  // namespace quorvel
