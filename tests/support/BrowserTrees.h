#pragma once

// Accessibility trees of browsers and tabbed applications on the simulated desktop, modelled on
// how real applications lay out their tab strips:
//
//   Chromium-like  AXWindow > AXGroup > AXGroup > AXTabGroup > AXRadioButton tabs ("AXSelected")
//   Firefox-like   AXWindow > AXToolbar > AXTabGroup ("AXTabs" lists only the tabs; its children
//                  also hold the new-tab and list-all-tabs buttons)
//   Safari-like    AXWindow > AXGroup > AXOpaqueProviderGroup "TabBar-..." > AXRadioButton tabs
//                  ("AXValue" 1/0) with an "FaviconImageView" image child; a sidebar provider group
//                  without the identifier comes first
//   Tabbed windows AXWindow > AXTabGroup ("AXTabs" with AXTabButton tabs and a new-tab button),
//                  plus a "Window" menu that lists the windows in its last section
//
// Every tab answers "AXPress" by becoming the selected tab of its strip.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/Geometry.h"
#include "platform/sim/SimDesktop.h"

namespace quorvel {

struct BrowserTab {
  std::string title;                        // "AXTitle" (always present, may be empty)
  std::optional<std::string> description;   // "AXDescription"
  bool selected = false;
  bool pinned = false;                      // an icon-only tab, narrower than it is high x 1.5
};

// The style of a strip, for rebuilding it.
enum class StripStyle { chromium, firefox, safari, tabbedWindows };

struct BuiltStrip {
  StripStyle style = StripStyle::chromium;
  uint32_t window = 0;
  SimElementId container = SimElementId::none;
  std::vector<SimElementId> tabs;  // the tab elements, in strip order
  std::vector<SimElementId> favicons;  // Safari-like strips: each tab's icon element
};

class BrowserTrees {
 public:
  static constexpr double kTabHeight = 30;

  // `count` tabs titled "<prefix>1" .. "<prefix>count", the one at `selected` (from 0) selected.
  static std::vector<BrowserTab> numberedTabs(size_t count, std::string_view prefix = "Tab ", size_t selected = 0);
  // Where tab `index` of `count` sits: along the window's top edge, left to right.
  static Rect tabFrame(const Rect& window, size_t index, size_t count, bool pinned = false);

  static BuiltStrip chromium(SimDesktop& sim, uint32_t window, const std::vector<BrowserTab>& tabs);
  static BuiltStrip firefox(SimDesktop& sim, uint32_t window, const std::vector<BrowserTab>& tabs);
  static BuiltStrip safari(SimDesktop& sim, uint32_t window, const std::vector<BrowserTab>& tabs);
  static BuiltStrip tabbedWindows(SimDesktop& sim, uint32_t window, const std::vector<BrowserTab>& tabs);
  static BuiltStrip build(SimDesktop& sim, StripStyle style, uint32_t window, const std::vector<BrowserTab>& tabs);

  // The browser rebuilt its strip: every tab is a new element (the old ones answer "invalid element").
  static BuiltStrip rebuild(SimDesktop& sim, const BuiltStrip& strip, const std::vector<BrowserTab>& tabs);

  // A Chromium-like window whose strip the application builds only once a client switches its
  // Accessibility tree on ("AXManualAccessibility" or "AXEnhancedUserInterface" set to true). The
  // returned strip is filled in when that happens. With `titlesLater`, the tabs appear first with
  // empty titles (as a browser that is still filling its tree in).
  static std::shared_ptr<BuiltStrip> chromiumAfterNudge(SimDesktop& sim, uint32_t window,
                                                        std::vector<BrowserTab> tabs, bool titlesLater = false);
  // The application takes neither switch: both read back false after every write.
  static void refuseNudges(SimDesktop& sim, int32_t pid);

  // Buries the strip's container under `levels` extra groups (for the search limits).
  static BuiltStrip chromiumNested(SimDesktop& sim, uint32_t window, size_t levels,
                                   const std::vector<BrowserTab>& tabs);
  // Adds `count` plain leaf elements to the window before the strip (for the element limit).
  static void addClutter(SimDesktop& sim, uint32_t window, size_t count);

  // The application's menu bar ("Apple", "File", "Edit", "View", "Window", "Help"); the "Window"
  // menu holds `items` (none or an empty title is a separator). Answers the item elements.
  static std::vector<SimElementId> windowMenu(SimDesktop& sim, int32_t pid,
                                              const std::vector<std::optional<std::string>>& items);
  // A typical "Window" menu: the window commands, separators, then one item per title.
  static std::vector<std::optional<std::string>> standardWindowMenu(const std::vector<std::string>& windowTitles);
};

}  // namespace quorvel
