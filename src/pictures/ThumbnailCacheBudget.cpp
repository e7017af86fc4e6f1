// The picture store's memory budget and idle trimming: which pictures are evicted or demoted to a
// smaller copy when the store is over budget, and the trim that runs while the switcher is hidden.
#include "pictures/ThumbnailCache.h"

#include <algorithm>
#include <utility>

#include "base/FreedMemory.h"

namespace quorvel {

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
  const Duration wait = std::max(Duration{0}, deadline - idleClock_.now());
  return idleExecutor_.postAfter(wait, [this, alive, generation, deadline] {
    if (!alive.lock()) return;
    if (idleClock_.now() >= deadline) {
      runIdle(generation);
      return;
    }
    // Not yet (an executor whose clock is not the idle clock): wait again, unless a presentation
    // began meanwhile.
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

}  // namespace quorvel
