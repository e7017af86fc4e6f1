#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "tabs/FaviconBrowser.h"

namespace quorvel {

// Where the browsers that the tab adapters know keep their profiles on this system, and which
// database family they use, found from the application's identity:
//   - an X11 identity, "x11." and the window class lower-cased ("x11.google-chrome",
//     "x11.firefox"), names one browser build by its class;
//   - a reverse-DNS identity ("com.google.Chrome.beta") finds its tab adapter by prefix and the
//     build by the adapter's suffix rule (the longest matching suffix, the empty one by default).
// Chromium-family browsers keep their data under ~/.config (google-chrome, chromium,
// BraveSoftware/Brave-Browser, microsoft-edge, vivaldi, opera and their other channels);
// Gecko-family browsers under ~/.mozilla/firefox. No state; safe from any thread.
class BrowserDataFolders {
 public:
  // The database family of the browser, none for an application without one (Safari, the
  // tabbed-window applications, unknown classes).
  static std::optional<FaviconBrowser> family(std::string_view bundleID);
  // The browser's data folder, relative to the home folder; none when this system knows none.
  static std::optional<std::string> folder(std::string_view bundleID);
};

}  // namespace quorvel
