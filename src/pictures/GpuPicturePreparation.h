#pragma once

#include "pictures/PicturePreparation.h"

namespace quorvel {

// Captured pictures prepared on the GPU by the store itself (ThumbnailCache::makeEntry, prepare
// and storeCopied): stills at half size with a full mip chain, blurred when asked (a picture that
// cannot be blurred is not stored at all), with their tab crops cut and delivered. Holds nothing
// but the store it feeds, which must outlive it.
class GpuPicturePreparation final : public PicturePreparation {
 public:
  explicit GpuPicturePreparation(ThumbnailCache& cache) : cache_(cache) {}

  std::optional<Entry> makeEntry(const PixelBuffer& buffer, const Provenance& provenance,
                                 const CaptureExtent& extent) override {
    return cache_.makeEntry(buffer, provenance, extent);
  }
  bool prepare(Entry source, uint32_t id, bool cropTabs, bool blur, const Provenance& provenance) override {
    return cache_.prepare(source, id, cropTabs, blur, provenance);
  }
  bool storeCopied(const PixelBuffer& buffer, uint32_t id, const Provenance& provenance) override {
    return cache_.storeCopied(buffer, id, provenance);
  }

 private:
  ThumbnailCache& cache_;
};

}  // namespace quorvel
