#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base/Geometry.h"
#include "windows/PassSettings.h"
#include "windows/WindowFacts.h"
#include "windows/WindowState.h"

namespace quorvel {

// The rules that decide whether a shareable window becomes a card, and in which state, each a
// small predicate over the window's facts. The snapshot filter asks them in this order: the user's
// hide rules, the private-window rule (PrivateWindowRule), the subrole rule, this program's own
// windows, visibility (desktops, Accessibility presence, full-screen strips), then the state and
// the category display that governs it. Plain functions; no state.
class WindowRules {
 public:
  using RawWindow = RegistryState::RawWindow;
  using CategoryDisplay = SettingEnums::CategoryDisplay;

  // The user hid the window: its application is listed as hidden, with no title words or with one
  // its title contains.
  static bool hiddenByUser(const WindowFacts& facts, const PassSettings& settings);
  // Accessibility names the window something other than a switchable window: a blank window of
  // an application known to open blank standard windows; a blank non-standard window; a
  // non-standard window on no desktop; without desktop facts, a floating panel.
  static bool droppedBySubrole(const WindowFacts& facts);
  // Applications known to open blank standard windows that stand for nothing the user can switch to.
  static bool opensBlankWindows(const std::optional<std::string>& bundleID);
  // A window of this program that the program does not count among its open windows.
  static bool isStrayOwnWindow(const WindowFacts& facts);
  // Whether the window is one the user can see or reach: on a desktop or on screen, minimized but
  // no background tab, present in Accessibility, and no full-screen title strip.
  static bool isVisible(const WindowFacts& facts, const std::vector<Rect>& displays);
  // Accessibility answered for the window's application this pass but has never listed this
  // window, which is not on screen either.
  static bool failsAXPresence(const WindowFacts& facts, bool onScreen);
  // The card state of an accepted window, and the category display that governs it (show for the
  // current desktop, which nothing hides).
  static WindowState stateOf(const WindowFacts& facts);
  static CategoryDisplay governingDisplay(WindowState state, const PassSettings& settings);
  // The badge number of a window on exactly one other desktop, and whether that desktop is a
  // full-screen one.
  static std::optional<int> spaceNumber(const WindowFacts& facts, WindowState state);
  static bool isOnFullscreenSpace(const WindowFacts& facts, WindowState state);

  // A window of an application whose tabs are windows, on no desktop, while another window of it
  // with the same integer frame lies on one: a background tab of a native tab group.
  static bool isBackgroundTabWindow(const RawWindow& window, const std::vector<const RawWindow*>& sameApp,
                                    const SpaceMap::Snapshot& snapshot);
  // A thin window along the top of a display beside a full-height window of the same application:
  // the title strip of a full-screen window.
  static bool isFullscreenStrip(const RawWindow& window, const std::vector<const RawWindow*>& sameApp,
                                const std::vector<Rect>& displays, const SpaceMap::Snapshot* snapshot);
  // The smallest id of the window's native tab group (off-screen windows of the same application
  // with the same integer frame) for applications whose tabs are windows; else the window's id.
  static uint32_t orderingID(const RawWindow& window, const std::vector<const RawWindow*>& sameApp);
  // The window's opening order, by the same rule: the earliest of its native tab group for
  // applications whose tabs are windows. None when the window model gives none.
  static std::optional<uint32_t> openingOrder(const RawWindow& window, const std::vector<const RawWindow*>& sameApp);

 private:
  // The only desktop of a window on exactly one other desktop.
  static std::optional<int64_t> onlyOtherSpace(const WindowFacts& facts, WindowState state);
};

}  // namespace quorvel
