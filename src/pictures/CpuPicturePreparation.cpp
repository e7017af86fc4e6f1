#include "pictures/CpuPicturePreparation.h"

namespace quorvel {

std::optional<PicturePreparation::Entry> CpuPicturePreparation::makeEntry(const PixelBuffer& buffer,
                                                                          const Provenance& provenance,
                                                                          const CaptureExtent& extent) {
  if (!buffer.hasPixels()) return std::nullopt;
  GpuTextureDescriptor descriptor;
  descriptor.width = static_cast<uint32_t>(buffer.width);
  descriptor.height = static_cast<uint32_t>(buffer.height);
  descriptor.label = "Quorvel thumbnail (captured)";
  auto texture = cache_.context->device->makeTexture(descriptor);
  if (!texture || !texture->replaceLevel(0, buffer.bytes.get(), buffer.bytesPerRow)) return std::nullopt;
  Entry entry;
  entry.texture = texture;
  entry.pixelBuffer = buffer.bytes;
  entry.bytes = Entry::bytesOf(*texture);
  entry.provenance = provenance;
  entry.contentExtent = extent;
  return entry;
}

bool CpuPicturePreparation::prepare(Entry source, uint32_t id, bool cropTabs, bool blur,
                                    const Provenance& provenance) {
  (void)cropTabs;
  if (blur || !source.texture) return false;
  source.pixelBuffer.reset();
  source.provenance = provenance;
  source.lastPresentedSession = 0;
  source.generation = 0;
  const uint64_t job = cache_.beginJob(id);
  cache_.install(std::move(source), id, job, ThumbnailCache::InstallKind::still);
  return true;
}

bool CpuPicturePreparation::storeCopied(const PixelBuffer& buffer, uint32_t id, const Provenance& provenance) {
  auto entry = makeEntry(buffer, provenance, CaptureExtent{});
  if (!entry) return false;
  entry->pixelBuffer.reset();
  cache_.install(std::move(*entry), id, std::nullopt, ThumbnailCache::InstallKind::still);
  return true;
}

}  // namespace quorvel
