#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace quorvel {

// The icon bytes of one site, exactly as a browser's icon database stored them (decoded later by
// the site-icon store).
struct SiteIcon {
  std::string site;           // the site key: the page's host name in lower case
  std::vector<uint8_t> data;  // the image file's bytes (PNG, ICO, SVG, ...)
  bool operator==(const SiteIcon&) const = default;
};

}  // namespace quorvel
