#include "tabs/FaviconStore.h"

#include <algorithm>
#include <iterator>

namespace quorvel {

std::shared_ptr<FaviconStore> FaviconStore::create(IconTextureMaker& textures, const IconDecoder& decoder,
                                                   std::function<void()> wakeScene, Executor& mainQueue,
                                                   Executor& decodeQueue) {
  return std::make_shared<FaviconStore>(Token{}, textures, decoder, std::move(wakeScene), mainQueue, decodeQueue);
}

FaviconStore::FaviconStore(Token, IconTextureMaker& textures, const IconDecoder& decoder,
                           std::function<void()> wakeScene, Executor& mainQueue, Executor& decodeQueue)
    : textures_(textures),
      decoder_(decoder),
      wakeScene_(std::move(wakeScene)),
      mainQueue_(mainQueue),
      decodeQueue_(decodeQueue) {}

IconTextureRef FaviconStore::texture(uint32_t tab) const {
  return lock_.withLock([&]() -> IconTextureRef {
    if (const std::string* site = tabSite_.find(tab)) {
      if (const IconTextureRef* icon = bySite_.find(*site)) return *icon;
    }
    if (const IconTextureRef* crop = byTab_.find(tab)) return *crop;
    return nullptr;
  });
}

std::optional<std::string> FaviconStore::tabSite(uint32_t tab) const {
  return lock_.withLock([&]() -> std::optional<std::string> {
    const std::string* site = tabSite_.find(tab);
    return site ? std::optional(*site) : std::nullopt;
  });
}

void FaviconStore::forgetTabSite(uint32_t tab) {
  // The removed value is released after the lock.
  std::optional<std::string> removed = lock_.withLock([&] { return tabSite_.removeValue(tab); });
}

void FaviconStore::setTabSite(uint32_t tab, std::string site) {
  lock_.withLock([&] { tabSite_.insert(std::move(site), tab); });
}

bool FaviconStore::hasSiteTexture(const std::string& site) const {
  return lock_.withLock([&] { return bySite_.contains(site); });
}

void FaviconStore::enqueue(std::vector<SiteIcon> icons) {
  if (icons.empty()) return;
  const bool startDrain = lock_.withLock([&] {
    for (SiteIcon& icon : icons) {
      if (bySite_.contains(icon.site) || pendingBytes_ + icon.data.size() > kPendingBytes) continue;
      pendingBytes_ += icon.data.size();
      pending_.push_back(std::move(icon));
    }
    if (pending_.empty() || isDraining_) return false;
    isDraining_ = true;
    return true;
  });
  if (startDrain) scheduleDecoding();
}

void FaviconStore::scheduleDecoding() {
  decodeQueue_.post([weak = weak_from_this()] {
    if (auto store = weak.lock()) store->decodePending();
  });
}

std::optional<SiteIcon> FaviconStore::takeNextPending() {
  return lock_.withLock([&]() -> std::optional<SiteIcon> {
    if (pending_.empty()) return std::nullopt;
    SiteIcon icon = std::move(pending_.front());
    pending_.erase(pending_.begin());
    pendingBytes_ -= icon.data.size();
    return icon;
  });
}

void FaviconStore::decodePending() {
  const Clock& clock = decodeQueue_.clock();
  const Instant start = clock.now();
  std::vector<Decoded> decoded;
  while (decoded.size() < kTexturesPerTurn && clock.now() - start < kDecodeBudget) {
    std::optional<SiteIcon> icon = takeNextPending();
    if (!icon) break;
    // Another turn may have made this site's texture while the icon waited, or this turn decoded
    // other bytes of the site.
    if (hasSiteTexture(icon->site)) continue;
    if (std::any_of(decoded.begin(), decoded.end(), [&](const Decoded& d) { return d.site == icon->site; })) continue;
    IconDecoder::Result bitmap = decoder_.render(icon->data);
    if (!bitmap.ok()) {
      logger_.debug("The site icon of %{private}s was not made: %{public}s.", icon->site,
                    IconDecoder::describe(*bitmap.failure));
      continue;
    }
    decoded.push_back(Decoded{std::move(icon->site), std::move(*bitmap.bitmap)});
  }
  if (!decoded.empty()) {
    mainQueue_.post([weak = weak_from_this(), decoded = std::move(decoded)]() mutable {
      if (auto store = weak.lock()) store->makeTextures(std::move(decoded));
    });
  }
  const bool more = lock_.withLock([&] {
    isDraining_ = !pending_.empty();
    return isDraining_;
  });
  if (more) scheduleDecoding();
}

void FaviconStore::makeTextures(std::vector<Decoded> decoded) {
  for (Decoded& icon : decoded) {
    // A turn before this one may have made the site's texture from other bytes.
    if (hasSiteTexture(icon.site)) continue;
    IconTextureRef texture = textures_.makeMipmappedTexture(icon.bitmap, kMipmapLabel);
    if (!texture) {
      logger_.debug("The site icon of %{private}s was not made: no texture could be allocated.", icon.site);
      continue;
    }
    // The texture is in the table before the scene is woken, so the frame the wake brings finds it.
    lock_.withLock([&] { bySite_.insert(std::move(texture), icon.site); });
    if (wakeScene_) wakeScene_();
  }
}

void FaviconStore::insertCrop(uint32_t tab, IconTextureRef texture) {
  IconTextureRef released;  // a replaced crop is released after the lock
  lock_.withLock([&] {
    if (const IconTextureRef* old = byTab_.find(tab)) released = *old;
    byTab_.insert(std::move(texture), tab);
  });
}

void FaviconStore::pruneToTabs(const std::unordered_set<uint32_t>& tabs, bool siteIconsOn) {
  lock_.withLock([&] {
    byTab_.retainOnly(tabs);
    if (siteIconsOn) {
      tabSite_.retainOnly(tabs);
    } else {
      bySite_.removeAll();
      tabSite_.removeAll();
      pending_.clear();
      pendingBytes_ = 0;
    }
  });
}

size_t FaviconStore::pendingCount() const {
  return lock_.withLock([&] { return pending_.size(); });
}

bool FaviconStore::isDraining() const {
  return lock_.withLock([&] { return isDraining_; });
}

std::vector<std::string> FaviconStore::siteOrder() const {
  return lock_.withLock([&] { return bySite_.order(); });
}

std::vector<uint32_t> FaviconStore::cropOrder() const {
  return lock_.withLock([&] { return byTab_.order(); });
}

size_t FaviconStore::tabSiteCount() const {
  return lock_.withLock([&] { return tabSite_.size(); });
}

}  // namespace quorvel
