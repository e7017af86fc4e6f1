#pragma once

#include <vector>

#include "tabs/FaviconResolver.h"
#include "windows/WindowCard.h"

namespace quorvel {

// The site-icon requests of a card list, as the registry's tab-card sink and the overlay build them
// before they hand them to the site-icon resolver. No state; any thread.
class FaviconRequests {
 public:
  // In card order, one request for each tab card that is not private, has a title, and belongs to a
  // browser with a site-icon database family (found from its identity, reverse-DNS or X11).
  static std::vector<FaviconResolver::Request> requests(const std::vector<WindowCard>& cards);
};

}  // namespace quorvel
