#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "ax/AXHandle.h"
#include "platform/AXElement.h"
#include "tabs/TabAdapter.h"
#include "tabs/TabRecord.h"
#include "tabs/TabTarget.h"

namespace quorvel {

class Accessibility;
class TabWalker;

// The result of pressing a tab, or of bringing a tab forward as a whole.
struct TabPressOutcome {
  enum class Kind {
    pressed,         // a tab or a "Window" menu item accepted the press
    nothingPressed,  // no tab facts, no adapter, the tab was not found, or the menu held no match
    refused,         // a press was made and the application refused it (`code`)
  };
  Kind kind = Kind::nothingPressed;
  int32_t code = 0;  // the Accessibility error code of a refusal

  static TabPressOutcome pressed() { return {Kind::pressed, 0}; }
  static TabPressOutcome nothingPressed() { return {Kind::nothingPressed, 0}; }
  static TabPressOutcome refused(int32_t code) { return {Kind::refused, code}; }
  bool operator==(const TabPressOutcome&) const = default;
};

// What a tab says of itself after a press.
enum class TabSelection { selected, notSelected, notTold };

// Brings a chosen tab forward in its browser: finds the tab again in the live tree (the card may be
// seconds old), presses it, and for applications whose tabs are windows falls back to the
// application's "Window" menu. Never raises or activates anything: the caller does that after.
// Every call blocks on the application's Accessibility server, so it runs on the serial
// Accessibility queue; no state between calls.
class TabActivation {
 public:
  static constexpr float kMessagingTimeout = 0.5f;

  TabActivation(Accessibility& accessibility, TabWalker& walker);

  // Makes the target tab the selected tab of its host window.
  TabPressOutcome activate(const TabTarget& target);
  // The application's main window, when it is the window that now shows the target tab (for
  // applications whose tabs are windows).
  AXHandleRef mainWindow(const TabTarget& target);

  // The windows to look for the tab in: the tab's host window, then (for applications whose tabs
  // are windows) the application's main window when it has the host's frame.
  std::vector<AXHandleRef> hostCandidates(const TabTarget& target, const TabAdapter& adapter);
  // The walked tab that is the target tab: by element, by a unique title, then by ordinal when the
  // strip kept its length.
  static std::optional<TabRecord> findTab(const std::vector<TabRecord>& walked, const TabTarget& target);
  // Presses a tab; answers pressed or refused, never nothingPressed.
  TabPressOutcome press(const TabRecord& tab);
  TabSelection readSelected(const AXElementRef& tab);
  // Every item of the application's "Window" menu, in order.
  std::vector<AXElementRef> windowMenuItems(const AXElementRef& application);
  // The menu item that names the target tab: a unique title, else the ordinal within the last
  // section when that section has as many items as the strip.
  static std::optional<size_t> menuIndex(const std::vector<std::optional<std::string>>& itemTitles,
                                         const TabTarget& target);
  TabPressOutcome pressThroughWindowMenu(const TabTarget& target);

 private:
  // The application's "AXMainWindow" when it is an element whose frame matches the host's.
  AXElementRef mainWindowMatching(const TabTarget& target);

  Accessibility& accessibility_;
  TabWalker& walker_;
};

}  // namespace quorvel
