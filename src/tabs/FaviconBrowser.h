#pragma once

#include <string_view>

namespace quorvel {

// The database layout a browser keeps its history and site icons in.
enum class FaviconBrowser { gecko, chromium };

// The browser name the site-icon log lines and temporary copies use for a family.
constexpr std::string_view faviconBrowserName(FaviconBrowser family) {
  return family == FaviconBrowser::chromium ? "Chrome" : "Firefox";
}

}  // namespace quorvel
