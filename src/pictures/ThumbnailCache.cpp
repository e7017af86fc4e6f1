// The picture store: its entries and their provenance, sessions, capture stamps, tab crops, jobs and
// installs (the budget is in ThumbnailCacheBudget.cpp, pictures coming in in ThumbnailCacheIntake.cpp).
#include "pictures/ThumbnailCache.h"

#include <algorithm>
#include <utility>

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

ThumbnailCache::ThumbnailCache(std::shared_ptr<GpuContext> context, Executor& idleExecutor, const Clock& idleClock,
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
