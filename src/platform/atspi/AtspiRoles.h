#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace quorvel {

// AT-SPI's role and state numbers that this program reads, and what they are called in the
// program's own Accessibility vocabulary (AXNames): a tab strip ("page tab list") is a tab group,
// a tab ("page tab") a radio button of subrole tab button, as the tab adapters expect of browsers.
class AtspiRoles {
 public:
  // Roles (AT-SPI's AtspiRole numbers).
  static constexpr uint32_t kDialog = 16;
  static constexpr uint32_t kFrame = 23;
  static constexpr uint32_t kMenu = 33;
  static constexpr uint32_t kMenuBar = 34;
  static constexpr uint32_t kMenuItem = 35;
  static constexpr uint32_t kPageTab = 37;
  static constexpr uint32_t kPageTabList = 38;
  static constexpr uint32_t kPopupMenu = 41;
  static constexpr uint32_t kPushButton = 43;
  static constexpr uint32_t kCheckMenuItem = 8;
  static constexpr uint32_t kRadioMenuItem = 45;
  static constexpr uint32_t kToggleButton = 62;
  static constexpr uint32_t kToolBar = 63;
  static constexpr uint32_t kWindow = 69;
  static constexpr uint32_t kApplication = 75;

  // States (bit numbers of AT-SPI's state set).
  static constexpr uint32_t kStateActive = 1;
  static constexpr uint32_t kStateFocused = 12;
  static constexpr uint32_t kStateIconified = 15;
  static constexpr uint32_t kStateSelected = 23;
  static constexpr uint32_t kStateVisible = 30;

  // The program's "AXRole" for an AT-SPI role: "AXApplication", "AXWindow", "AXTabGroup",
  // "AXRadioButton", "AXButton", "AXMenuBar", "AXMenu", "AXMenuItem", "AXToolbar", else "AXGroup".
  // A tab strip that is not visible (a browser's hidden second strip, say) is a plain group: it is
  // not where the window's tabs are.
  static std::string axRole(uint32_t role, uint64_t states);
  // The program's "AXSubrole", where it has one: "AXTabButton" for tabs, "AXStandardWindow" for
  // frames and windows, "AXDialog" for dialogs.
  static std::optional<std::string> axSubrole(uint32_t role);
  // Whether objects of the role are top-level windows of their application.
  static bool isWindow(uint32_t role);
  static bool hasState(uint64_t states, uint32_t state) { return state < 64 && (states >> state) & 1u; }
};

}  // namespace quorvel
