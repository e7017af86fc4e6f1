// Pictures coming into the store: captured stills prepared on the GPU (half size, mipmaps, the
// privacy blur, the tab crops), copied stills, and the live picture's window and frames.
#include "pictures/ThumbnailCache.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "pictures/CaptureGeometry.h"

namespace quorvel {

namespace {

// Pixels to read, in rows wide enough, of a size a texture can take.
bool acceptable(const PixelBuffer& buffer) {
  constexpr int kMaxSide = 16384;
  return buffer.hasPixels() && buffer.width <= kMaxSide && buffer.height <= kMaxSide &&
         buffer.bytesPerRow >= static_cast<size_t>(buffer.width) * 4;
}

// Whether every pixel of an acceptable buffer has alpha 255.
bool everyPixelOpaque(const PixelBuffer& buffer) {
  for (int y = 0; y < buffer.height; ++y) {
    const uint8_t* row = buffer.row(y);
    uint8_t all = 255;
    for (int x = 0; x < buffer.width; ++x) all &= row[static_cast<size_t>(x) * 4 + 3];
    if (all != 255) return false;
  }
  return true;
}

}  // namespace

std::optional<ThumbnailCache::Entry> ThumbnailCache::makeEntry(const PixelBuffer& buffer, const Provenance& provenance,
                                                               const CaptureExtent& extent) {
  if (!acceptable(buffer)) return std::nullopt;
  auto texture = context->device->makeTexture(
      {static_cast<uint32_t>(buffer.width), static_cast<uint32_t>(buffer.height), 1, false, "Quorvel captured picture"});
  if (!texture || !texture->replaceLevel(0, buffer.bytes.get(), buffer.bytesPerRow)) return std::nullopt;
  Entry entry;
  entry.bytes = Entry::bytesOf(*texture);
  entry.texture = std::move(texture);
  entry.pixelBuffer = buffer.bytes;
  entry.provenance = provenance;
  entry.contentExtent = extent;
  entry.opaque = everyPixelOpaque(buffer);
  return entry;
}

std::vector<PicturePreparer::CropRequest> ThumbnailCache::cropRequests(uint32_t width, uint32_t height, uint32_t id) {
  std::optional<CropBatch> batch = lock_.withLock([&]() -> std::optional<CropBatch> {
    if (!faviconSink_) return std::nullopt;
    auto it = cropTargets_.find(id);
    if (it == cropTargets_.end()) return std::nullopt;
    return it->second;
  });
  std::vector<PicturePreparer::CropRequest> out;
  if (!batch || batch->targets.empty() || !CaptureGeometry::aspectMatches(width, height, batch->hostFrame)) return out;
  for (const CropTarget& target : batch->targets)
    if (auto region = CaptureGeometry::pixelExtent(width, height, target.unit)) out.push_back({target.tab, *region});
  return out;
}

bool ThumbnailCache::prepare(const Entry& source, uint32_t id, bool cropTabs, bool blur, const Provenance& provenance) {
  if (!source.texture) return false;
  auto commands = prepQueue_->makeCommandBuffer();
  if (!commands) return false;
  commands->setLabel(blur ? "Quorvel thumbnail scale + blur + mipmaps" : "Quorvel thumbnail scale + mipmaps");
  std::vector<PicturePreparer::CropRequest> crops;
  if (cropTabs && !blur) crops = cropRequests(source.texture->width(), source.texture->height(), id);
  std::optional<float> sigma;
  if (blur)
    sigma = PicturePreparer::blurSigma(PicturePreparer::halfSide(source.texture->width()),
                                       PicturePreparer::halfSide(source.texture->height()));
  auto prepared = preparer_->encode(*commands, source.texture, sigma, crops);
  // Abandoned work is never committed and leaves no trace: the job number is drawn only now.
  if (!prepared) return false;
  Entry fresh;
  fresh.texture = prepared->texture;
  fresh.bytes = Entry::bytesOf(*fresh.texture);
  fresh.provenance = provenance;
  fresh.contentExtent = source.contentExtent;
  fresh.opaque = source.opaque;  // half size, blur and mips average opaque texels into opaque ones
  const uint64_t sequence = beginJob(id);
  std::weak_ptr<int> alive = alive_;
  // The handler keeps the command buffer until it has run, to ask how the work ended.
  commands->addCompletedHandler([this, alive, commands, source, fresh = std::move(fresh), id, sequence,
                                 tabCrops = std::move(prepared->crops)]() mutable {
    if (!alive.lock()) return;
    if (commands->status() == GpuCommandStatus::error) {
      // Failed work leaves undefined pixels: nothing is stored and the window is taken again.
      lock_.withLock([&] {
        if (auto pending = pendingStills_.find(id); pending != pendingStills_.end() && pending->second == sequence)
          pendingStills_.erase(pending);
        retiredThisCycle_.push_back(std::move(fresh));
      });
      return;
    }
    finishStill(std::move(fresh), id, sequence, std::move(tabCrops));
  });
  commands->commit();
  return true;
}

void ThumbnailCache::finishStill(Entry entry, uint32_t id, uint64_t sequence,
                                 std::vector<PicturePreparer::TabCrop> crops) {
  if (!install(std::move(entry), id, sequence, InstallKind::still) || crops.empty()) return;
  FaviconSink sink = lock_.withLock([&] { return faviconSink_; });
  if (!sink) return;
  for (auto& crop : crops) sink(crop.tab, std::move(crop.texture));
}

bool ThumbnailCache::storeCopied(const PixelBuffer& buffer, uint32_t id, const Provenance& provenance) {
  if (!acceptable(buffer)) return false;
  GpuTextureDescriptor d;
  d.width = static_cast<uint32_t>(buffer.width);
  d.height = static_cast<uint32_t>(buffer.height);
  d.mipLevels = GpuTextureDescriptor::fullMipCount(d.width, d.height);
  d.renderTarget = true;
  d.label = "Quorvel thumbnail (copied)";
  auto texture = context->device->makeTexture(d);
  if (!texture || !texture->replaceLevel(0, buffer.bytes.get(), buffer.bytesPerRow)) return false;
  Entry entry;
  entry.bytes = Entry::bytesOf(*texture);
  entry.texture = texture;
  entry.provenance = provenance;
  entry.opaque = everyPixelOpaque(buffer);
  if (texture->mipLevelCount() >= 2) {
    if (auto commands = prepQueue_->makeCommandBuffer()) {
      if (auto blit = commands->makeBlitEncoder()) {
        commands->setLabel("Quorvel thumbnail mipmaps (copied)");
        blit->generateMipmaps(texture);
        blit->endEncoding();
        const uint64_t sequence = beginJob(id);
        std::weak_ptr<int> alive = alive_;
        commands->addCompletedHandler([this, alive, entry = std::move(entry), id, sequence]() mutable {
          if (!alive.lock()) return;
          install(std::move(entry), id, sequence, InstallKind::still);
        });
        commands->commit();
        return true;
      }
    }
  }
  install(std::move(entry), id, std::nullopt, InstallKind::still);
  return true;
}

void ThumbnailCache::storeLiveFrame(const PixelBuffer& buffer, uint32_t id, std::optional<Rect> contentRect,
                                    std::optional<double> scale) {
  if (!acceptable(buffer)) return;
  storeLiveFrame(buffer.width, buffer.height, id, contentRect, scale,
                 [&](const CaptureExtent& extent, const Provenance& provenance) {
                   return makeEntry(buffer, provenance, extent);
                 });
}

void ThumbnailCache::setLiveWindow(uint32_t windowID, std::optional<uint32_t> showingTab) {
  streamLock_.withLock([&] {
    live_ = LiveSlot{windowID, showingTab, std::nullopt, std::nullopt};
  });
}

std::optional<uint32_t> ThumbnailCache::liveWindowID() {
  return streamLock_.withLock([&] { return live_.windowID; });
}

void ThumbnailCache::setLiveGeometry(const std::vector<ShareableWindow>& windows) {
  const auto id = streamLock_.withLock([&] { return live_.windowID; });
  if (!id) return;
  auto it = std::find_if(windows.begin(), windows.end(), [&](const ShareableWindow& w) { return w.windowID == *id; });
  if (it == windows.end()) return;
  const Rect frame = it->frame;
  const Rect region = CaptureGeometry::appRegion(*it, windows);
  streamLock_.withLock([&] {
    if (live_.windowID != id) return;
    live_.windowFrame = frame;
    live_.region = region;
  });
}

std::optional<std::pair<uint32_t, std::optional<uint32_t>>> ThumbnailCache::takeLiveStream() {
  return streamLock_.withLock([&]() -> std::optional<std::pair<uint32_t, std::optional<uint32_t>>> {
    liveGeneration_ += 1;
    LiveSlot old = std::exchange(live_, LiveSlot{});
    if (!old.windowID) return std::nullopt;
    return std::pair{*old.windowID, old.showingTab};
  });
}

CaptureExtent ThumbnailCache::liveFrameExtent(double bufferWidth, double bufferHeight, std::optional<Rect> contentRect,
                                              std::optional<double> scale, const std::optional<Rect>& windowFrame,
                                              const std::optional<Rect>& region) {
  CaptureExtent whole;
  if (!(bufferWidth >= 1) || !(bufferHeight >= 1) || !contentRect || !scale) return whole;
  if (!std::isfinite(*scale) || !(*scale > 0)) return whole;
  if (!std::isfinite(contentRect->width) || !std::isfinite(contentRect->height) || !(contentRect->width > 0) ||
      !(contentRect->height > 0))
    return whole;
  const double u = contentRect->width * *scale / bufferWidth, v = contentRect->height * *scale / bufferHeight;
  if (!(u >= 0.1 && u <= 1.005 && v >= 0.1 && v <= 1.005)) return whole;
  const double w = std::min(u, 1.0), h = std::min(v, 1.0);
  if (auto crop = CaptureExtent::liveCropExtent(windowFrame, region, w, h, *contentRect)) return *crop;
  if (w >= 0.995 && h >= 0.995) return whole;
  return CaptureExtent{0, 0, w, h};
}

void ThumbnailCache::storeLiveFrame(double bufferWidth, double bufferHeight, uint32_t id,
                                    std::optional<Rect> contentRect, std::optional<double> scale,
                                    const FrameWrapper& wrap) {
  std::optional<LiveSlot> snapshot;
  uint64_t generation = 0;
  streamLock_.withLock([&] {
    if (live_.windowID != id) return;
    snapshot = live_;
    generation = liveGeneration_;
  });
  if (!snapshot) return;
  const CaptureExtent extent =
      liveFrameExtent(bufferWidth, bufferHeight, contentRect, scale, snapshot->windowFrame, snapshot->region);
  std::optional<Entry> entry;
  textureCacheLock_.withLock([&] { entry = wrap(extent, Provenance::photograph(snapshot->showingTab)); });
  if (!entry || !entry->texture) return;
  if (streamLock_.withLock([&] { return liveGeneration_ != generation; })) return;
  std::vector<IdleTrim::Demotion> demotions;
  lock_.withLock([&] {
    if (auto old = replace(std::move(*entry), id, InstallKind::live)) {
      if (liveRetirementRing_.size() >= kLiveRingCapacity) liveRetirementRing_.erase(liveRetirementRing_.begin());
      liveRetirementRing_.push_back(std::move(*old));
    }
    pendingStills_.erase(id);
    demotions = enforceBudget();
  });
  demote(demotions);
  wake();
}

void ThumbnailCache::clearLiveRing() {
  lock_.withLock([&] { liveRetirementRing_.clear(); });
}

}  // namespace quorvel
