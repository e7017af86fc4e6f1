#pragma once

#include <cstdint>
#include <cstddef>
#include <string>
#include <unordered_set>
#include <vector>

#include "pictures/CardLabel.h"
#include "scene/render/CardRenderer.h"
#include "windows/WindowCard.h"

namespace quorvel {

// What the overlay controller asks of the chrome texture caches (application icons, status badges,
// label, title and count plates, action badges) and of the site-icon store: drawing ahead what the
// first frames need, the icon sweep, the site-icon pruning after a dismissal, and the eight texture
// providers a new card renderer reads on its render thread. Main thread only (the providers excepted).
class OverlayChromeTextures {
 public:
  // The plate opacity of every summon (this exact value).
  static constexpr double kPlateOpacity = 0.8533392676479687;

  struct IconRequest {
    int32_t pid = 0;
    std::optional<std::string> bundleID;
    bool operator==(const IconRequest&) const = default;
  };

  virtual ~OverlayChromeTextures() = default;
  // Status badges, then label plates (under the label cache's lock): redrawn when the opacity changed.
  virtual void setPlateOpacity(double opacity) = 0;
  // The screen of this summon, for the size plates are drawn at: its pixels per point, its height in
  // pixels and the scale of the cards' chrome. A change draws every plate again.
  virtual void setPlateScreen(double /*pixelsPerPoint*/, double /*heightPixels*/, double /*chromeScale*/) {}
  // A summon begins: the plates its frames ask for are kept until the next summon.
  virtual void beginSummon() {}
  // Draws what is missing.
  virtual void prepareIcons(const std::vector<IconRequest>& requests) = 0;
  // Queues what is missing: the plates are drawn on later turns of the main queue, one a turn, so
  // that the caller (a summon on its way to the screen) and input wait for none of them.
  virtual void prepareLabels(const std::vector<CardLabel>& labels) = 0;
  virtual void prepareTitles(const std::vector<CardTitle>& titles) = 0;
  // How many title plates the cache keeps; drawing more ahead only evicts the first ones drawn.
  virtual size_t titleCapacity() const { return SIZE_MAX; }
  // Drops the icons of applications no longer running.
  virtual void sweepIcons() = 0;
  // Keeps the tab crops (and, with site icons wanted, the tab sites) of `liveTabs` only; without
  // site icons drops every site texture, tab site and pending icon.
  virtual void pruneSiteIcons(const std::unordered_set<uint32_t>& liveTabs, bool siteIconsWanted) = 0;
  // The site key of a tab card (host name, with ":" and the port when the address has one), if known.
  virtual std::optional<std::string> tabSite(uint32_t tabID) = 0;
  // Resolves the site icons of the cards' tabs in the background.
  virtual void requestSiteIcons(const std::vector<WindowCard>& cards, bool siteIconsWanted) = 0;
  // The card renderer's texture providers, in the renderer's order.
  virtual CardRenderer::Providers providers() = 0;
};

}  // namespace quorvel
