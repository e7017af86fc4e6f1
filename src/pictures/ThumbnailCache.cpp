#include "pictures/ThumbnailCache.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "base/FreedMemory.h"
#include "pictures/CaptureGeometry.h"

namespace quorvel {

std::array<uint8_t, 5> ThumbnailCache::Provenance::encoded() const {
  const uint32_t value = payload.value_or(0);
  std::array<uint8_t, 5> out{static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
                             static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24), 0};
  if (kind == Kind::banked) out[4] = 0x80;
  else if (!payload) out[4] = 0x01;
  return out;
}

ThumbnailCache::Provenance ThumbnailCache::Provenance::decoded(const std::array<uint8_t, 5>& b) {
  const uint32_t value = uint32_t{b[0]} | uint32_t{b[1]} << 8 | uint32_t{b[2]} << 16 | uint32_t{b[3]} << 24;
  if (b[4] & 0x80) return banked(value);
  if (b[4] & 0x01) return photograph(std::nullopt);
  return photograph(value);
}

int64_t ThumbnailCache::Entry::bytesOf(const GpuTexture& texture) {
  const int64_t area = int64_t{texture.width()} * texture.height();
  return texture.mipLevelCount() >= 2 ? area * 16 / 3 : area * 4;
}

ThumbnailCache::ThumbnailCache(std::shared_ptr<MetalContext> context, Executor& idleExecutor, const Clock& idleClock,
                               std::function<void()> wakeScene)
    : context(std::move(context)), idleExecutor_(idleExecutor), idleClock_(idleClock), wakeScene_(std::move(wakeScene)) {
  prepQueue_ = this->context->device->makeCommandQueue("Quorvel thumbnail-prep");
  if (!prepQueue_) prepQueue_ = this->context->commandQueue;
  preparer_ = std::make_unique<PicturePreparer>(this->context->device);
}

ThumbnailCache::~ThumbnailCache() {
  std::optional<TimerId> task;
  lock_.withLock([&] { task = std::exchange(idleTrimTask_, std::nullopt); });
  if (task) idleExecutor_.cancel(*task);
  alive_.reset();
  context->device->waitIdle();
}

void ThumbnailCache::wake() {
  if (wakeScene_) wakeScene_();
}

void ThumbnailCache::setFaviconSink(FaviconSink sink) {
  lock_.withLock([&] { faviconSink_ = std::move(sink); });
}

std::optional<CardPicture> ThumbnailCache::entry(uint32_t id) {
  auto it = entries_.find(id);
  if (it == entries_.end()) return std::nullopt;
  if (it->second.lastPresentedSession != presentedSession_) it->second.lastPresentedSession = presentedSession_;
  return CardPicture{it->second.texture, it->second.contentExtent, it->second.opaque};
}

size_t ThumbnailCache::countCached(const std::vector<uint32_t>& ids) {
  return lock_.withLock([&] {
    return static_cast<size_t>(std::count_if(ids.begin(), ids.end(), [&](uint32_t id) { return entries_.count(id) > 0; }));
  });
}

void ThumbnailCache::beginSession(const std::vector<WindowCard>& cards) {
  // What the previous cycle held is released now; this cycle's pictures wait one more session.
  retiredPreviousCycle_.swap(retiredThisCycle_);
  retiredThisCycle_.clear();
  presentedSession_ += 1;
  currentSpaceIDs_.clear();
  minimizedIDs_.clear();
  groupByWindow_.clear();
  cropTargets_.clear();
  for (const auto& card : cards) {
    if (card.state == WindowState::onCurrentSpace && (!card.isPrivate || card.blursPicture))
      currentSpaceIDs_.insert(card.id);
    if (card.state == WindowState::minimized) minimizedIDs_.insert(card.id);
    if (card.orderingID != card.id) groupByWindow_.try_emplace(card.id, card.orderingID);
    if (card.tab && card.tab->faviconCrop && !card.isPrivate) {
      CropBatch& batch = cropTargets_[card.tab->hostWindowID];
      if (batch.targets.size() >= kMaxCropTargets) continue;
      batch.targets.push_back({card.id, *card.tab->faviconCrop});
      batch.hostFrame = card.frame;
    }
  }
}

std::unordered_map<uint32_t, ThumbnailCache::Provenance> ThumbnailCache::bankedProvenances() const {
  std::unordered_map<uint32_t, Provenance> out;
  for (const auto& [id, e] : entries_)
    if (e.provenance.kind == Provenance::Kind::banked) out.emplace(id, e.provenance);
  return out;
}

void ThumbnailCache::forgetStamps(const std::unordered_set<uint32_t>& ids) {
  for (uint32_t id : ids) captureStamps_.erase(id);
}

std::optional<CaptureStamp> ThumbnailCache::stampOf(uint32_t id) const {
  auto it = captureStamps_.find(id);
  if (it == captureStamps_.end()) return std::nullopt;
  return it->second;
}

void ThumbnailCache::setCaptureStamp(uint32_t id, CaptureStamp stamp) {
  lock_.withLock([&] { captureStamps_[id] = stamp; });
}

std::optional<CaptureStamp> ThumbnailCache::captureStamp(uint32_t id) {
  return lock_.withLock([&]() -> std::optional<CaptureStamp> {
    auto it = captureStamps_.find(id);
    if (it == captureStamps_.end()) return std::nullopt;
    return it->second;
  });
}

std::optional<ThumbnailCache::CropBatch> ThumbnailCache::cropBatch(uint32_t host) {
  return lock_.withLock([&]() -> std::optional<CropBatch> {
    auto it = cropTargets_.find(host);
    if (it == cropTargets_.end()) return std::nullopt;
    return it->second;
  });
}

void ThumbnailCache::prune(const std::unordered_set<uint32_t>& keeping) {
  lock_.withLock([&] {
    if (keeping.empty()) {
      for (auto& [id, e] : entries_) retiredThisCycle_.push_back(std::move(e));
      entries_.clear();
      pendingStills_.clear();
      captureStamps_.clear();
      return;
    }
    doomedScratch_.clear();
    for (const auto& [id, e] : entries_)
      if (!keeping.count(id)) doomedScratch_.push_back(id);
    for (uint32_t id : doomedScratch_) {
      auto it = entries_.find(id);
      retiredThisCycle_.push_back(std::move(it->second));
      entries_.erase(it);
      captureStamps_.erase(id);
    }
    std::erase_if(pendingStills_, [&](const auto& kv) { return !keeping.count(kv.first); });
  });
  wake();
}

uint64_t ThumbnailCache::beginJob(uint32_t id) {
  return lock_.withLock([&] {
    stillSequence_ += 1;
    pendingStills_[id] = stillSequence_;
    return stillSequence_;
  });
}

std::optional<ThumbnailCache::Entry> ThumbnailCache::replace(Entry entry, uint32_t id, InstallKind kind) {
  std::optional<Entry> old;
  auto it = entries_.find(id);
  if (it != entries_.end()) {
    entry.lastPresentedSession = it->second.lastPresentedSession;
    old = std::move(it->second);
    it->second = std::move(entry);
  } else {
    entries_.emplace(id, std::move(entry));
  }
  if (old && kind != InstallKind::demotion && !old->pixelBuffer &&
      old->provenance.kind == Provenance::Kind::photograph && old->provenance.payload &&
      *old->provenance.payload != id) {
    const uint32_t tab = *old->provenance.payload;
    auto group = groupByWindow_.find(id);
    Entry banked = *old;
    banked.bytes = Entry::bytesOf(*banked.texture);
    banked.provenance = Provenance::banked(group != groupByWindow_.end() ? group->second : id);
    auto previous = entries_.find(tab);
    if (previous != entries_.end()) {
      retiredThisCycle_.push_back(std::move(previous->second));
      previous->second = std::move(banked);
    } else {
      entries_.emplace(tab, std::move(banked));
    }
  }
  return old;
}

bool ThumbnailCache::install(Entry entry, uint32_t id, std::optional<uint64_t> sequence, InstallKind kind) {
  std::vector<IdleTrim::Demotion> demotions;
  bool installed = false;
  lock_.withLock([&] {
    if (sequence) {
      auto pending = pendingStills_.find(id);
      if (pending == pendingStills_.end() || pending->second != *sequence) {
        retiredThisCycle_.push_back(std::move(entry));
        return;
      }
    }
    pendingStills_.erase(id);
    if (auto old = replace(std::move(entry), id, kind)) retiredThisCycle_.push_back(std::move(*old));
    demotions = enforceBudget();
    installed = true;
  });
  demote(demotions);
  wake();
  return installed;
}

void ThumbnailCache::enforceBudgetNow() {
  auto demotions = lock_.withLock([&] { return enforceBudget(); });
  demote(demotions);
  wake();
}

std::vector<IdleTrim::Candidate> ThumbnailCache::trimCandidates() const {
  std::unordered_map<const GpuTexture*, int> holders;
  for (const auto& [id, e] : entries_) holders[e.texture.get()] += 1;
  std::vector<IdleTrim::Candidate> out;
  out.reserve(entries_.size());
  for (const auto& [id, e] : entries_) {
    IdleTrim::Candidate c;
    c.id = id;
    c.bytes = e.bytes;
    c.lastPresentedSession = e.lastPresentedSession;
    c.isIrreplaceable = minimizedIDs_.count(id) > 0 || e.provenance.kind == Provenance::Kind::banked;
    c.isExempt = currentSpaceIDs_.count(id) > 0;
    c.generation = e.generation;
    const GpuTexture* t = e.texture.get();
    c.isDemotable = t && holders[t] == 1 && t->mipLevelCount() >= 2 && t->width() >= 2 && t->height() >= 2 &&
                    !pendingStills_.count(id);
    out.push_back(c);
  }
  return out;
}

std::vector<IdleTrim::Demotion> ThumbnailCache::enforceBudget() {
  int64_t total = 0;
  for (const auto& [id, e] : entries_) total += e.bytes;
  const bool trimmed = presentationDepth_ == 0 && trimmedWhileHidden_;
  const int64_t budget = trimmed ? kIdleBudget : kPresentedBudget;
  if (total <= budget) return {};
  // The trimmed budget, like the idle trim itself, never evicts a picture that cannot be captured
  // again: the current desktop's pictures, which can, may alone be above it.
  IdleTrim::Plan plan = IdleTrim::plan(trimCandidates(), budget, !trimmed);
  for (uint32_t id : plan.evictions) {
    auto it = entries_.find(id);
    if (it == entries_.end()) continue;
    retiredThisCycle_.push_back(std::move(it->second));
    entries_.erase(it);
  }
  return plan.demotions;
}

void ThumbnailCache::flushRetired() {
  lock_.withLock([&] {
    retiredThisCycle_.clear();
    retiredPreviousCycle_.clear();
    liveRetirementRing_.clear();
  });
  // The overlay has gone (this is its last call of a dismissal): what it freed goes back, once the
  // summon's last work (its live picture, captures, plates) has let go too.
  idleExecutor_.postAfter(kReturnMemoryDelay, [] { returnFreedMemory(); });
}

void ThumbnailCache::beginPresentation() {
  std::optional<TimerId> task;
  lock_.withLock([&] {
    presentationDepth_ += 1;
    idleGeneration_ += 1;
    task = std::exchange(idleTrimTask_, std::nullopt);
    trimmedWhileHidden_ = false;
  });
  if (task) idleExecutor_.cancel(*task);
}

void ThumbnailCache::endPresentation() {
  std::optional<uint64_t> generation;
  lock_.withLock([&] {
    if (presentationDepth_ == 0) return;
    presentationDepth_ -= 1;
    if (presentationDepth_ == 0) generation = ++idleGeneration_;
  });
  if (!generation) return;
  const uint64_t g = *generation;
  const TimerId task = scheduleIdle(g, idleClock_.now() + kIdleDelay);
  bool keep = false;
  lock_.withLock([&] {
    if (idleGeneration_ != g) return;
    idleTrimTask_ = task;
    keep = true;
  });
  if (!keep) idleExecutor_.cancel(task);
}

TimerId ThumbnailCache::scheduleIdle(uint64_t generation, Instant deadline) {
  std::weak_ptr<int> alive = alive_;
  const Duration wait = std::max(Duration{0}, std::min(kIdleCheck, deadline - idleClock_.now()));
  return idleExecutor_.postAfter(wait, [this, alive, generation, deadline] {
    if (!alive.lock()) return;
    if (idleClock_.now() >= deadline) {
      runIdle(generation);
      return;
    }
    // Not yet: wait again, unless a presentation began meanwhile.
    const bool current = lock_.withLock([&] { return idleGeneration_ == generation && idleTrimTask_.has_value(); });
    if (!current) return;
    const TimerId next = scheduleIdle(generation, deadline);
    const bool keep = lock_.withLock([&] {
      if (idleGeneration_ != generation) return false;
      idleTrimTask_ = next;
      return true;
    });
    if (!keep) idleExecutor_.cancel(next);
  });
}

void ThumbnailCache::runIdle(uint64_t generation) {
  const bool liveRunning = streamLock_.withLock([&] { return live_.windowID.has_value(); });
  std::optional<TrimReport> report = lock_.withLock([&] { return idleTrim(generation, liveRunning); });
  if (!report) return;
  demote(report->demotions);
  returnFreedMemory();
}

std::optional<ThumbnailCache::TrimReport> ThumbnailCache::idleTrim(uint64_t generation, bool liveRunning) {
  if (presentationDepth_ != 0 || idleGeneration_ != generation || liveRunning) return std::nullopt;
  idleTrimTask_.reset();
  trimmedWhileHidden_ = true;
  TrimReport report;
  for (const auto* list : {&retiredThisCycle_, &retiredPreviousCycle_, &liveRetirementRing_})
    for (const auto& e : *list) {
      report.retired += 1;
      report.retiredBytes += e.bytes;
    }
  retiredThisCycle_.clear();
  retiredPreviousCycle_.clear();
  liveRetirementRing_.clear();
  const auto candidates = trimCandidates();
  for (const auto& c : candidates) {
    report.beforeBytes += c.bytes;
    if (c.isIrreplaceable) report.spared += 1;
  }
  IdleTrim::Plan plan = IdleTrim::plan(candidates, kIdleBudget, false);
  for (uint32_t id : plan.evictions) {
    auto it = entries_.find(id);
    if (it == entries_.end()) continue;
    report.freedBytes += it->second.bytes;
    entries_.erase(it);  // nothing is presented: released at once
  }
  report.kept = entries_.size();
  report.dropped = plan.evictions.size();
  report.demoted = plan.demotions.size();
  report.stoppedShort = plan.stoppedShort;
  report.exempt = currentSpaceIDs_.size();
  report.demotions = std::move(plan.demotions);
  return report;
}

void ThumbnailCache::demote(const std::vector<IdleTrim::Demotion>& demotions) {
  for (const auto& demotion : demotions) {
    std::optional<Entry> old = lock_.withLock([&]() -> std::optional<Entry> {
      auto it = entries_.find(demotion.id);
      if (it == entries_.end() || pendingStills_.count(demotion.id) || it->second.generation >= demotion.toGeneration ||
          it->second.texture->mipLevelCount() < 2)
        return std::nullopt;
      return it->second;
    });
    if (!old) continue;
    const int levels = std::min(static_cast<int>(old->texture->mipLevelCount()) - 1, demotion.toGeneration - old->generation);
    if (levels < 1) continue;
    const uint32_t w = std::max(1u, old->texture->width() >> levels), h = std::max(1u, old->texture->height() >> levels);
    if (w >= old->texture->width() && h >= old->texture->height()) continue;
    GpuTextureDescriptor descriptor;
    descriptor.width = w;
    descriptor.height = h;
    descriptor.mipLevels = GpuTextureDescriptor::fullMipCount(w, h);
    descriptor.renderTarget = true;
    descriptor.label = "Quorvel thumbnail (demoted)";
    auto texture = context->device->makeTexture(descriptor);
    if (!texture) continue;
    auto commands = prepQueue_->makeCommandBuffer();
    if (!commands) continue;
    commands->setLabel("Quorvel thumbnail demotion");
    auto blit = commands->makeBlitEncoder();
    if (!blit) continue;
    if (!blit->copyLevel(old->texture, static_cast<uint32_t>(levels), texture, 0)) {
      blit->endEncoding();
      continue;
    }
    if (texture->mipLevelCount() > 1) blit->generateMipmaps(texture);
    blit->endEncoding();
    Entry fresh;
    fresh.texture = texture;
    fresh.bytes = Entry::bytesOf(*texture);
    fresh.generation = old->generation + levels;
    fresh.provenance = old->provenance;
    fresh.contentExtent = old->contentExtent;
    fresh.opaque = old->opaque;
    const uint64_t sequence = beginJob(demotion.id);
    lock_.withLock([&] { demotionsInFlight_ += 1; });
    std::weak_ptr<int> alive = alive_;
    const uint32_t id = demotion.id;
    commands->addCompletedHandler([this, alive, fresh = std::move(fresh), id, sequence, oldTexture = old->texture]() mutable {
      if (!alive.lock()) return;
      install(std::move(fresh), id, sequence, InstallKind::demotion);
      const bool flush = lock_.withLock([&] {
        demotionsInFlight_ = std::max<int64_t>(demotionsInFlight_ - 1, 0);
        return demotionsInFlight_ == 0 && presentationDepth_ == 0 && trimmedWhileHidden_;
      });
      if (flush) flushRetired();
    });
    commands->commit();
  }
}

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

ThumbnailCache::Counts ThumbnailCache::counts() {
  return lock_.withLock([&] {
    Counts c;
    c.entries = entries_.size();
    c.pending = pendingStills_.size();
    c.retiredThisCycle = retiredThisCycle_.size();
    c.retiredPreviousCycle = retiredPreviousCycle_.size();
    c.liveRing = liveRetirementRing_.size();
    c.presentedSession = presentedSession_;
    c.presentationDepth = presentationDepth_;
    c.trimmedWhileHidden = trimmedWhileHidden_;
    for (const auto& [id, e] : entries_) c.totalBytes += e.bytes;
    return c;
  });
}

std::optional<ThumbnailCache::Entry> ThumbnailCache::entryCopy(uint32_t id) {
  return lock_.withLock([&]() -> std::optional<Entry> {
    auto it = entries_.find(id);
    if (it == entries_.end()) return std::nullopt;
    return it->second;
  });
}

}  // namespace quorvel
