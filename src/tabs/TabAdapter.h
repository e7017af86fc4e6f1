#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "base/Clock.h"
#include "tabs/FaviconBrowser.h"

namespace quorvel {

class Accessibility;

// What a nudge did to an application's Accessibility tree.
enum class NudgeResult {
  fresh,    // switched on less than 5 s ago (now or by an earlier nudge): the tree may still be empty
  settled,  // switched on 5 s or more ago
  refused,  // neither switch took; nothing was recorded
};

// How one application exposes its tabs in a window's Accessibility tree: where the tab strip sits,
// how to list the tabs, which attributes carry a tab's title and selected state, whether the tree
// must first be switched on, how to place a tab's site icon and where the browser keeps its
// profiles. A plain value; the fixed table of every known application is built once.
struct TabAdapter {
  // How the tab strip's container element is recognised.
  struct ContainerMatch {
    std::string role;                             // the container's "AXRole"
    std::optional<std::string> identifierPrefix;  // when set, its "AXIdentifier" must begin with it
    bool operator==(const ContainerMatch&) const = default;
  };
  // Where the container lists its tabs.
  enum class ContainerRoute {
    tabsAttribute,  // "AXTabs"
    children,       // "AXChildren"
  };

  std::vector<ContainerMatch> containers;
  std::vector<ContainerRoute> routes;
  std::optional<std::string> tabSubrole;
  bool tabsAreWindows = false;
  std::vector<std::string> titleAttributes;
  std::string selectedAttribute;
  bool trimsMemoryAnnotation = false;
  bool needsNudge = false;
  bool hasSiteIcon = false;
  double faviconSideFraction = 0;
  double faviconInsetFraction = 0;
  double pinnedWidthFactor = 1.5;
  std::optional<std::string> faviconChildIdentifier;
  std::optional<FaviconBrowser> family;
  // Lower-case identifier prefixes: the browser's bundle identifiers, and the X11 identities of
  // its Linux builds ("x11." and the window class, e.g. "x11.firefox" for firefox and firefox-esr).
  std::vector<std::string> bundlePrefixes;
  std::map<std::string, std::string> supportPaths;  // bundle-identifier suffix -> folder under home
  std::string name;

  // Every adapter in lookup order: the eight browsers, then the four tabbed-window applications.
  static const std::vector<TabAdapter>& table();
  // The first adapter of the table one of whose prefixes begins the lower-cased identifier.
  static std::optional<TabAdapter> adapter(const std::optional<std::string>& bundleID);
  static const TabAdapter* find(std::string_view bundleID);

  // The profile data folder (relative to the home folder) of one identifier of this adapter: the
  // longest matching suffix entry, the empty suffix being the default.
  std::optional<std::string> supportFolder(std::string_view bundleID) const;

  // The nudge record: which processes had their Accessibility tree switched on, and when. Touched
  // only on the serial Accessibility queue, so it has no lock of its own. One lives for the process.
  class NudgeRecord {
   public:
    static constexpr Duration kFreshFor = std::chrono::seconds(5);
    static constexpr float kMessagingTimeout = 0.5f;

    NudgeRecord(Accessibility& accessibility, const Clock& clock);

    // Switches the process's tree on ("AXManualAccessibility", then "AXEnhancedUserInterface"), at
    // most once while its entry lives.
    NudgeResult nudge(int32_t pid);
    // Keeps only the entries of the given processes.
    void pruneNudged(const std::unordered_set<int32_t>& keeping);
    const std::unordered_map<int32_t, Instant>& nudgedAt() const { return nudgedAt_; }

   private:
    Accessibility& accessibility_;
    const Clock& clock_;
    std::unordered_map<int32_t, Instant> nudgedAt_;
  };
};

}  // namespace quorvel
