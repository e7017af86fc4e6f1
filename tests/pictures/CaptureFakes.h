#pragma once

#include <map>
#include <mutex>
#include <vector>

#include "gpu/recording/RecordingDevice.h"
#include "pictures/PicturePreparation.h"

namespace quorvel {

// A picture preparation that remembers what it was handed: the colour at the centre of every
// picture (its texture keeps that colour as a label-free tag), and every prepare and copy call.
// Prepared and copied pictures are installed at once, as a finished GPU job would install them.
class RecordingPreparation final : public PicturePreparation {
 public:
  struct Call {
    enum class Kind { prepare, copy } kind;
    uint32_t id = 0;
    uint32_t color = 0;
    bool cropTabs = false, blur = false;
    Provenance provenance;
  };

  RecordingPreparation(ThumbnailCache& cache, std::shared_ptr<GpuDevice> device)
      : cache_(cache), device_(std::move(device)) {}

  static uint32_t centerColor(const PixelBuffer& buffer) {
    if (!buffer.hasPixels()) return 0;
    const uint8_t* p = buffer.pixel(buffer.width / 2, buffer.height / 2);
    return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
  }

  std::optional<Entry> makeEntry(const PixelBuffer& buffer, const Provenance& provenance,
                                 const CaptureExtent& extent) override {
    std::lock_guard guard(mutex_);
    if (failWraps || !buffer.hasPixels()) return std::nullopt;
    Entry e = texture(buffer.width, buffer.height, centerColor(buffer));
    e.pixelBuffer = buffer.bytes;
    e.provenance = provenance;
    e.contentExtent = extent;
    wraps += 1;
    return e;
  }
  bool prepare(Entry source, uint32_t id, bool cropTabs, bool blur, const Provenance& provenance) override {
    Entry e;
    {
      std::lock_guard guard(mutex_);
      if (failPrepares) return false;
      const uint32_t color = colors_[source.texture.get()];
      calls_.push_back({Call::Kind::prepare, id, color, cropTabs, blur, provenance});
      e = texture(std::max(1u, source.texture->width() / 2), std::max(1u, source.texture->height() / 2), color);
    }
    e.provenance = provenance;
    e.contentExtent = source.contentExtent;
    cache_.install(std::move(e), id, cache_.beginJob(id), ThumbnailCache::InstallKind::still);
    return true;
  }
  bool storeCopied(const PixelBuffer& buffer, uint32_t id, const Provenance& provenance) override {
    Entry e;
    {
      std::lock_guard guard(mutex_);
      calls_.push_back({Call::Kind::copy, id, centerColor(buffer), false, false, provenance});
      e = texture(buffer.width, buffer.height, centerColor(buffer));
    }
    e.provenance = provenance;
    cache_.install(std::move(e), id, std::nullopt, ThumbnailCache::InstallKind::still);
    return true;
  }

  std::vector<Call> calls() {
    std::lock_guard guard(mutex_);
    return calls_;
  }
  // The colour of the id's stored picture (0 when it has none).
  uint32_t storedColor(uint32_t id) {
    auto e = cache_.entryCopy(id);
    std::lock_guard guard(mutex_);
    return e ? colors_[e->texture.get()] : 0;
  }

  bool failWraps = false, failPrepares = false;
  int wraps = 0;

 private:
  Entry texture(uint32_t w, uint32_t h, uint32_t color) {
    GpuTextureDescriptor d;
    d.width = w;
    d.height = h;
    d.label = "captured picture";
    Entry e;
    e.texture = device_->makeTexture(d);
    e.bytes = Entry::bytesOf(*e.texture);
    colors_[e.texture.get()] = color;
    keep_.push_back(e.texture);  // keeps the addresses unique
    return e;
  }

  ThumbnailCache& cache_;
  std::shared_ptr<GpuDevice> device_;
  std::mutex mutex_;
  std::map<const GpuTexture*, uint32_t> colors_;
  std::vector<std::shared_ptr<GpuTexture>> keep_;
  std::vector<Call> calls_;
};

}  // namespace quorvel
