#pragma once

#include <cstdint>
#include <optional>

#include "pictures/CaptureExtent.h"
#include "pictures/ThumbnailCache.h"
#include "platform/PixelBuffer.h"

namespace quorvel {

// How captured pictures become entries of the picture store: what window capture and the live
// stream hand their pixels to. Every operation may run on any thread and takes the store's locks
// only briefly; none is called with a store lock held.
class PicturePreparation {
 public:
  using Entry = ThumbnailCache::Entry;
  using Provenance = ThumbnailCache::Provenance;

  virtual ~PicturePreparation() = default;

  // The buffer as a full-size entry (a texture of its pixels, `pixelBuffer` set to keep the
  // capture alive) with the given provenance and extent; installs nothing. None when the buffer
  // has no pixels or no texture can be made.
  virtual std::optional<Entry> makeEntry(const PixelBuffer& buffer, const Provenance& provenance,
                                         const CaptureExtent& extent) = 0;

  // Schedules the preparation of a still whose source came from makeEntry: a half-size copy with
  // a full mip chain (blurred when `blur`), and with `cropTabs` the tab crops of the store's crop
  // targets for `id`. The result enters the store through ThumbnailCache::install with the job
  // number drawn for it, so a newer job for the same id wins. True when the work was scheduled;
  // false leaves no trace.
  virtual bool prepare(Entry source, uint32_t id, bool cropTabs, bool blur, const Provenance& provenance) = 0;

  // The copy route for a picture that could not be wrapped: stores a copy of the pixels with a full
  // mip chain as the id's still. True when a picture was stored or scheduled.
  virtual bool storeCopied(const PixelBuffer& buffer, uint32_t id, const Provenance& provenance) = 0;
};

}  // namespace quorvel
