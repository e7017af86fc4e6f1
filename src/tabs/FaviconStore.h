#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <unordered_set>
#include <vector>

#include "base/Executor.h"
#include "base/Lock.h"
#include "base/Logger.h"
#include "tabs/CappedStore.h"
#include "tabs/IconDecoder.h"
#include "tabs/IconTexture.h"
#include "tabs/IconTextureMaker.h"
#include "tabs/SiteIcon.h"

namespace quorvel {

// The site-icon textures that tab cards show, and the answer to "which texture for this tab?".
//
// Fed from two sides: the site-icon resolver hands it each tab's site and each site's icon bytes
// (decoded here into 128 by 128 bitmaps, then made into mipmapped textures); the picture cache
// hands it each tab's tab-strip crop. A lookup prefers the site's icon and falls back to the crop.
// Every table is bounded by key count, oldest insertion dropped first.
//
// Icon bytes come from other programs' files, so their decoding is kept off the main queue: it
// runs on the decoding queue in turns that end once kDecodeBudget has passed on that queue's clock
// (or kTexturesPerTurn bitmaps are ready), and each turn hands its bitmaps to one main-queue turn
// that makes their textures. The decoder bounds the bytes and the work of each single icon.
//
// Threads: every method is safe from any thread; one lock guards the tables, the pending icons and
// the draining flag, and is held only around single table operations, never across decoding, GPU
// work or the scene wake. Decoding runs only on the decoding queue, texture making only on the
// main queue. One store lives for the process, owned through a shared pointer (its turns hold it
// weakly).
class FaviconStore : public std::enable_shared_from_this<FaviconStore> {
 public:
  static constexpr size_t kSiteLimit = 256;      // site -> texture made from database bytes
  static constexpr size_t kTabLimit = 128;       // tab -> tab-strip crop texture
  static constexpr size_t kTabSiteLimit = 1024;  // tab -> site of the tab's page
  static constexpr size_t kTexturesPerTurn = 16;      // bitmaps decoded, and textures made, per turn
  static constexpr Duration kDecodeBudget = std::chrono::milliseconds(50);  // decoding per turn
  static constexpr size_t kPendingBytes = size_t{32} << 20;  // icon bytes waiting at most
  static constexpr const char* kMipmapLabel = "Quorvel favicon mipmaps";

  // `wakeScene` makes a resting renderer draw again; it is called after each new texture is in
  // the table, outside the lock. The texture maker, the decoder and both queues outlive the store;
  // `decodeQueue` is a serial queue off the main thread.
  static std::shared_ptr<FaviconStore> create(IconTextureMaker& textures, const IconDecoder& decoder,
                                              std::function<void()> wakeScene, Executor& mainQueue,
                                              Executor& decodeQueue);

  // ---- Lookups (the renderer's provider, the overlay) ----
  // The site icon of the tab's site when there is one, else the tab's crop, else none.
  IconTextureRef texture(uint32_t tab) const;
  // The site key the tab's page belongs to, when known.
  std::optional<std::string> tabSite(uint32_t tab) const;

  // ---- The resolver's side ----
  void forgetTabSite(uint32_t tab);
  void setTabSite(uint32_t tab, std::string site);
  bool hasSiteTexture(const std::string& site) const;
  // Queues icon bytes to become textures; sites that already have one are dropped, and so are
  // icons past kPendingBytes of waiting bytes (a later hand-over of their bytes tries again).
  // Starts a decoding turn when none is scheduled or running.
  void enqueue(std::vector<SiteIcon> icons);

  // ---- The picture cache's side ----
  void insertCrop(uint32_t tab, IconTextureRef texture);

  // ---- The overlay's pruning, when its card set changes ----
  // Keeps crops (and, with site icons on, tab sites) only for `tabs`. With site icons off, drops
  // every site texture, every tab site and every pending icon. Site textures are otherwise kept
  // until they are the oldest past the limit.
  void pruneToTabs(const std::unordered_set<uint32_t>& tabs, bool siteIconsOn);

  // ---- State, for diagnostics and tests ----
  size_t pendingCount() const;
  bool isDraining() const;  // a decoding turn is scheduled or running
  std::vector<std::string> siteOrder() const;
  std::vector<uint32_t> cropOrder() const;
  size_t tabSiteCount() const;

  // One decoding turn (decoding queue): decodes pending icons until the budget has passed or
  // kTexturesPerTurn bitmaps are ready, hands them to a main-queue turn, and schedules the next
  // decoding turn while icons remain.
  void decodePending();

 private:
  struct Token {};

 public:
  FaviconStore(Token, IconTextureMaker& textures, const IconDecoder& decoder, std::function<void()> wakeScene,
               Executor& mainQueue, Executor& decodeQueue);

 private:
  struct Decoded {
    std::string site;
    RasterBitmap bitmap;
  };
  std::optional<SiteIcon> takeNextPending();
  void scheduleDecoding();
  // One main-queue turn: the textures of a decoding turn's bitmaps.
  void makeTextures(std::vector<Decoded> decoded);

  IconTextureMaker& textures_;
  const IconDecoder& decoder_;
  const std::function<void()> wakeScene_;
  Executor& mainQueue_;
  Executor& decodeQueue_;
  const Logger logger_{"Favicons"};

  mutable Lock lock_;
  CappedStore<std::string, IconTextureRef> bySite_{kSiteLimit};
  CappedStore<uint32_t, IconTextureRef> byTab_{kTabLimit};
  CappedStore<uint32_t, std::string> tabSite_{kTabSiteLimit};
  std::vector<SiteIcon> pending_;
  size_t pendingBytes_ = 0;
  bool isDraining_ = false;
};

}  // namespace quorvel
