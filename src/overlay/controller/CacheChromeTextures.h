#pragma once

#include "overlay/controller/OverlayChromeTextures.h"

namespace quorvel {

class ActionBadgeCache;
class CardLabelCache;
class FaviconResolver;
class FaviconStore;
class IconCache;
class StatusBadgeCache;
class ThumbnailCache;

// The overlay controller's chrome textures on the program's texture caches, the picture cache (the
// picture provider) and the site-icon store. The providers hold the caches by reference: every cache
// outlives every renderer. Main thread only, the providers excepted (any thread, each taking its
// cache's lock for one lookup).
class CacheChromeTextures final : public OverlayChromeTextures {
 public:
  struct Caches {
    ThumbnailCache& pictures;
    IconCache& icons;
    StatusBadgeCache& statusBadges;
    ActionBadgeCache& actionBadges;
    CardLabelCache& labels;
    FaviconStore& favicons;
    // Resolves the site icons of tab cards (none: no site icons are looked up).
    FaviconResolver* resolver = nullptr;
  };
  explicit CacheChromeTextures(Caches caches) : caches_(caches) {}

  void setPlateOpacity(double opacity) override;
  void setPlateScreen(double pixelsPerPoint, double heightPixels, double chromeScale) override;
  void prepareIcons(const std::vector<IconRequest>& requests) override;
  void prepareLabels(const std::vector<CardLabel>& labels) override;
  void prepareTitles(const std::vector<CardTitle>& titles) override;
  void beginSummon() override;
  size_t titleCapacity() const override;
  void sweepIcons() override;
  void pruneSiteIcons(const std::unordered_set<uint32_t>& liveTabs, bool siteIconsWanted) override;
  std::optional<std::string> tabSite(uint32_t tabID) override;
  void requestSiteIcons(const std::vector<WindowCard>& cards, bool siteIconsWanted) override;
  CardRenderer::Providers providers() override;

 private:
  Caches caches_;
};

}  // namespace quorvel
