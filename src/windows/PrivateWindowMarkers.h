#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace quorvel {

// Browsers mark a private (incognito) window only in its title. Decides, from an application's
// bundle identifier and a title, whether the title is that of a private window. Matching is exact
// and case-sensitive, with canonically equivalent Unicode forms counting as equal; only the bundle
// identifier is lower-cased.
class PrivateWindowMarkers {
 public:
  enum class Family { firefox, chrome, edge, brave, opera, vivaldi, safari };

  // The browser family of a bundle identifier, by its longest matching prefix; none for an absent
  // or empty identifier or an application that is not a known browser.
  static std::optional<Family> family(const std::optional<std::string>& bundleID);
  // Whether a window title carries the family's private-window marker.
  static bool isPrivate(const std::optional<std::string>& bundleID, std::string_view title);
  // Whether a tab or menu title ends with one of the family's private-tab suffixes.
  static bool isPrivateTabTitle(const std::optional<std::string>& bundleID, std::string_view title);
};

}  // namespace quorvel
