#pragma once

#include <cstdint>
#include <optional>
#include <set>
#include <string>

#include "ax/AXHandle.h"
#include "base/Geometry.h"
#include "tabs/TabTarget.h"
#include "windows/CardStatus.h"
#include "windows/WindowState.h"

namespace quorvel {

// One switchable item: a window, a browser tab, or a windowless application. Cards are plain values
// built by the window registry's refresh pass and copied freely by everyone else; the only shared
// references inside a card are its Accessibility handles, which copies share.
//
// Card ids share one 32-bit space: a window card's id is the window server's window number (below
// 0x80000000); an application card's id is its process id with the top bit set; a tab card's id
// comes from the tab identity store and has both top bits set.
struct WindowCard {
  // What a tab card knows of its tab.
  struct TabFacts {
    uint32_t hostWindowID = 0;       // window number of the browser window holding the tab
    AXHandleRef element;             // the tab's own element (its tab button), when known
    int ordinal = 0;                 // position in the tab strip, from 0
    int stripCount = 0;              // number of tabs in that strip
    bool isSelected = false;         // the tab is the one its window shows
    bool deminimizeHost = false;     // the host window is minimized and must be restored first
    std::optional<Rect> faviconCrop; // the site icon inside the host's picture, in unit coordinates
  };

  static constexpr uint32_t kApplicationIDBit = 0x80000000u;
  static constexpr uint32_t kTabIDFloor = 0xC0000000u;

  uint32_t id = 0;
  // The id, except on a window of an application whose tabs are windows, where the windows of one
  // native tab group share its smallest window id (the group's window wherever a window id is
  // meant). The last sort key where no opening order is known (see sortKey).
  uint32_t orderingID = 0;
  // A window card's place in the order the window model first saw the windows, where it knows one
  // (the earliest of its native tab group for applications whose tabs are windows); always below
  // kApplicationIDBit. None on tab and application cards.
  std::optional<uint32_t> openingOrder;
  std::string title;
  std::string appName;
  std::optional<std::string> bundleID;  // never an empty text
  int32_t pid = 0;
  Rect frame;  // global top-left coordinates; the host's frame for a tab; zero for an application
  AXHandleRef ax;
  WindowState state = WindowState::onCurrentSpace;
  std::optional<int> spaceNumber;  // badge number: a window on exactly one other desktop
  std::set<int64_t> spaceIDs;
  bool isPrivate = false;
  bool blursPicture = false;
  std::optional<TabFacts> tab;  // present exactly on tab cards
  bool isOnFullscreenSpace = false;
  int tabsOutOfReach = 0;

  // The card id of a process's application card.
  static constexpr uint32_t applicationCardID(int32_t pid) {
    return static_cast<uint32_t>(pid) | kApplicationIDBit;
  }
  static constexpr bool isTabID(uint32_t id) { return id >= kTabIDFloor; }
  static constexpr bool isApplicationID(uint32_t id) { return id >= kApplicationIDBit && id < kTabIDFloor; }
  // An empty bundle identifier is stored as none.
  static std::optional<std::string> normalizedBundleID(std::optional<std::string> bundleID);

  // The card that stands for a running application without windows.
  static WindowCard applicationCard(int32_t pid, std::string name, std::optional<std::string> bundleID);
  // A tab card of `host`: it takes the host's process, application, frame, handle and desktops.
  static WindowCard tabCard(const WindowCard& host, uint32_t tabID, std::string title, TabFacts facts);

  // The stable last key of every order of the cards (unsigned, smaller first): the opening order
  // where known, else the ordering id. Window ids do not follow the opening order everywhere, so
  // the opening order is the one the user can see. Opening numbers and window ids both stay below
  // the application and tab card ids, so a window sorts before those cards it ties with either way.
  uint32_t sortKey() const { return openingOrder.value_or(orderingID); }

  CardStatus status() const;
  // What bringing this card's tab forward needs (TabActivation); none for a card without tab facts.
  std::optional<TabTarget> tabTarget() const;
};

}  // namespace quorvel
