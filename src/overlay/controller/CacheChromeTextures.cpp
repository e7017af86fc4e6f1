#include "overlay/controller/CacheChromeTextures.h"

#include <mutex>

#include "pictures/ActionBadgeCache.h"
#include "pictures/CardLabelCache.h"
#include "pictures/GpuChromeUploader.h"
#include "pictures/IconCache.h"
#include "pictures/SiteIconUploader.h"
#include "pictures/StatusBadgeCache.h"
#include "pictures/ThumbnailCache.h"
#include "tabs/FaviconResolver.h"
#include "tabs/FaviconStore.h"
#include "windows/FaviconRequests.h"

namespace quorvel {

void CacheChromeTextures::setPlateOpacity(double opacity) {
  if (caches_.statusBadges.setPlateOpacity(opacity)) caches_.statusBadges.prewarm();
  std::unique_lock held(caches_.labels.lock());
  caches_.labels.setPlateOpacity(held, opacity);
}

void CacheChromeTextures::setPlateScreen(double pixelsPerPoint, double heightPixels, double chromeScale) {
  caches_.labels.setPlateScreen({pixelsPerPoint, heightPixels, chromeScale});
}

void CacheChromeTextures::prepareIcons(const std::vector<IconRequest>& requests) {
  std::vector<IconCache::Request> converted;
  converted.reserve(requests.size());
  for (const IconRequest& r : requests) converted.push_back(IconCache::Request{r.pid, r.bundleID});
  caches_.icons.prepare(converted);
}

void CacheChromeTextures::prepareLabels(const std::vector<CardLabel>& labels) { caches_.labels.queueLabels(labels); }

void CacheChromeTextures::prepareTitles(const std::vector<CardTitle>& titles) { caches_.labels.queueTitles(titles); }

void CacheChromeTextures::beginSummon() { caches_.labels.beginSummon(); }

size_t CacheChromeTextures::titleCapacity() const { return CardLabelCache::kMaxTitles; }

void CacheChromeTextures::sweepIcons() { caches_.icons.sweep(caches_.icons.runningRequests()); }

void CacheChromeTextures::pruneSiteIcons(const std::unordered_set<uint32_t>& liveTabs, bool siteIconsWanted) {
  caches_.favicons.pruneToTabs(liveTabs, siteIconsWanted);
}

std::optional<std::string> CacheChromeTextures::tabSite(uint32_t tabID) { return caches_.favicons.tabSite(tabID); }

void CacheChromeTextures::requestSiteIcons(const std::vector<WindowCard>& cards, bool siteIconsWanted) {
  if (!caches_.resolver) return;
  (void)spawn(caches_.resolver->queue(), caches_.resolver->request(FaviconRequests::requests(cards), siteIconsWanted));
}

CardRenderer::Providers CacheChromeTextures::providers() {
  CardRenderer::Providers p;
  ThumbnailCache* pictures = &caches_.pictures;
  IconCache* icons = &caches_.icons;
  StatusBadgeCache* status = &caches_.statusBadges;
  ActionBadgeCache* actions = &caches_.actionBadges;
  CardLabelCache* labels = &caches_.labels;
  FaviconStore* favicons = &caches_.favicons;
  p.picture = [pictures](uint32_t id) {
    std::lock_guard held(pictures->lock());
    return pictures->entry(id);
  };
  p.icon = [icons](int32_t pid) { return GpuChromeUploader::gpuTexture(icons->liveTexture(pid)); };
  p.favicon = [favicons](uint32_t tab) {
    return GpuChromeUploader::gpuTexture(SiteIconUploader::chromeTexture(favicons->texture(tab)));
  };
  p.status = [status](const CardStatus& s) { return GpuChromeUploader::gpuTexture(status->texture(s)); };
  p.label = [labels](const CardLabel& l, bool request) {
    return GpuChromeUploader::gpuTexture(labels->labelTexture(l, request));
  };
  p.title = [labels](const CardTitle& t, bool request) {
    return GpuChromeUploader::gpuTexture(labels->titleTexture(t.text, request));
  };
  p.action = [actions](CardAction a, bool hovered) { return GpuChromeUploader::gpuTexture(actions->texture(a, hovered)); };
  p.count = [labels](int n) { return GpuChromeUploader::gpuTexture(labels->countTexture(n)); };
  return p;
}

}  // namespace quorvel
