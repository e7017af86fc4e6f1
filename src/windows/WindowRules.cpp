#include "windows/WindowRules.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <string_view>

#include "platform/AXSubrole.h"
#include "tabs/TabAdapter.h"
#include "windows/WindowFingerprints.h"

namespace quorvel {

namespace {

bool sharesAny(const std::set<int64_t>& a, const std::set<int64_t>& b) {
  return std::any_of(a.begin(), a.end(), [&](int64_t id) { return b.contains(id); });
}

bool tabsAreWindows(const std::optional<std::string>& bundleID) {
  const TabAdapter* adapter = bundleID ? TabAdapter::find(*bundleID) : nullptr;
  return adapter && adapter->tabsAreWindows;
}

bool within(double a, double b) { return std::fabs(a - b) <= 1; }

const std::set<int64_t>* spacesOf(const SpaceMap::Snapshot* snapshot, uint32_t id) {
  if (!snapshot) return nullptr;
  const auto found = snapshot->spacesByWindow.find(id);
  return found == snapshot->spacesByWindow.end() ? nullptr : &found->second;
}

}  // namespace

bool WindowRules::hiddenByUser(const WindowFacts& facts, const PassSettings& settings) {
  return settings.hidesByUserRules(facts.window.bundleID, facts.window.title);
}

bool WindowRules::opensBlankWindows(const std::optional<std::string>& bundleID) {
  static constexpr std::array<std::string_view, 6> prefixes = {
      "com.valvesoftware.steam", "com.jetbrains.", "com.google.android.studio",
      "com.image-line.",         "com.autodesk.fusion360", "org.qemu."};
  if (!bundleID) return false;
  return std::any_of(prefixes.begin(), prefixes.end(),
                     [&](std::string_view prefix) { return bundleID->starts_with(prefix); });
}

bool WindowRules::droppedBySubrole(const WindowFacts& facts) {
  if (!facts.listedByAX() || !facts.ax->subrole) return false;
  const AXSubrole subrole = *facts.ax->subrole;
  if (AXSubroles::isStandard(subrole)) return facts.blank && opensBlankWindows(facts.window.bundleID);
  if (facts.blank) return true;
  if (facts.snapshot) return facts.spaces.empty();
  return AXSubroles::isFloating(subrole);
}

bool WindowRules::isStrayOwnWindow(const WindowFacts& facts) { return facts.own && !facts.ownOpen; }

bool WindowRules::failsAXPresence(const WindowFacts& facts, bool onScreen) {
  return facts.trusted && !facts.own && !facts.ax && !onScreen && !facts.axNamedBefore && facts.appAnsweredAX;
}

bool WindowRules::isVisible(const WindowFacts& facts, const std::vector<Rect>& displays) {
  const RawWindow& w = facts.window;
  // Each branch ends in a drop, the presence rule (with the on-screen flag it is judged by), the
  // strip rule, or an acceptance.
  enum class Next { drop, presence, strip, accept };
  Next next = Next::drop;
  bool onScreen = w.isOnScreen;
  auto offScreenRule = [&] {
    onScreen = false;
    if (facts.own) return Next::presence;
    return sharesAny(facts.spaces, facts.snapshot->visibleSpaceIDs) ? Next::drop : Next::presence;
  };
  if (facts.snapshot) {
    if (facts.minimized) {
      next = isBackgroundTabWindow(w, facts.sameApp, *facts.snapshot) ? Next::drop : Next::presence;
    } else if (!facts.spaces.empty() || (facts.own && !facts.hiddenApp)) {
      if (w.isOnScreen) {
        next = Next::presence;
      } else if (facts.hiddenApp) {
        next = Next::presence;
        onScreen = false;
      } else {
        next = offScreenRule();
      }
    } else if (facts.hiddenApp) {
      next = Next::presence;
    } else if (!facts.placedBefore) {
      next = Next::drop;
    } else if (w.isOnScreen) {
      next = Next::presence;
    } else {
      next = offScreenRule();
    }
  } else if (facts.trusted && !w.isOnScreen && !facts.ax) {
    next = facts.own ? Next::accept : Next::drop;
  } else {
    next = Next::strip;
  }

  if (next == Next::presence) {
    if (facts.trusted && facts.own) return true;
    next = failsAXPresence(facts, onScreen) ? Next::drop : Next::strip;
  }
  if (next == Next::strip) return facts.own || !isFullscreenStrip(w, facts.sameApp, displays, facts.snapshot);
  return next == Next::accept;
}

WindowState WindowRules::stateOf(const WindowFacts& facts) {
  if (facts.hiddenApp) return WindowState::hiddenApp;
  if (facts.minimized) return WindowState::minimized;
  if (facts.snapshot && !facts.spaces.empty()) {
    return sharesAny(facts.spaces, facts.snapshot->currentSpaceIDs) ? WindowState::onCurrentSpace
                                                                    : WindowState::onOtherSpace;
  }
  return facts.window.isOnScreen ? WindowState::onCurrentSpace : WindowState::onOtherSpace;
}

WindowRules::CategoryDisplay WindowRules::governingDisplay(WindowState state, const PassSettings& settings) {
  switch (state) {
    case WindowState::hiddenApp:
      return settings.hiddenAppsDisplay;
    case WindowState::minimized:
      return settings.minimizedDisplay;
    case WindowState::onOtherSpace:
      return settings.otherSpacesDisplay;
    default:
      return CategoryDisplay::show;
  }
}

std::optional<int64_t> WindowRules::onlyOtherSpace(const WindowFacts& facts, WindowState state) {
  if (state != WindowState::onOtherSpace || !facts.snapshot || facts.spaces.size() != 1) return std::nullopt;
  return *facts.spaces.begin();
}

std::optional<int> WindowRules::spaceNumber(const WindowFacts& facts, WindowState state) {
  const std::optional<int64_t> only = onlyOtherSpace(facts, state);
  if (!only) return std::nullopt;
  const auto number = facts.snapshot->indexBySpaceID.find(*only);
  if (number == facts.snapshot->indexBySpaceID.end()) return std::nullopt;
  return number->second;
}

bool WindowRules::isOnFullscreenSpace(const WindowFacts& facts, WindowState state) {
  const std::optional<int64_t> only = onlyOtherSpace(facts, state);
  return only && facts.snapshot->fullscreenSpaceIDs.contains(*only);
}

bool WindowRules::isBackgroundTabWindow(const RawWindow& window, const std::vector<const RawWindow*>& sameApp,
                                        const SpaceMap::Snapshot& snapshot) {
  if (!tabsAreWindows(window.bundleID)) return false;
  const std::set<int64_t>* own = spacesOf(&snapshot, window.id);
  if (own && !own->empty()) return false;
  for (const RawWindow* other : sameApp) {
    if (other->id == window.id || !WindowFingerprints::sameIntegerFrame(other->frame, window.frame)) continue;
    const std::set<int64_t>* spaces = spacesOf(&snapshot, other->id);
    if (spaces && !spaces->empty()) return true;
  }
  return false;
}

bool WindowRules::isFullscreenStrip(const RawWindow& window, const std::vector<const RawWindow*>& sameApp,
                                    const std::vector<Rect>& displays, const SpaceMap::Snapshot* snapshot) {
  const Rect& w = window.frame;
  std::vector<const Rect*> candidates;
  for (const Rect& display : displays) {
    if (within(w.minX(), display.minX()) && within(w.width, display.width) && w.height <= 0.3 * display.height) {
      candidates.push_back(&display);
    }
  }
  if (candidates.empty()) return false;
  const std::set<int64_t>* windowSpaces = spacesOf(snapshot, window.id);
  for (const RawWindow* other : sameApp) {
    if (other->id == window.id) continue;
    const Rect& r = other->frame;
    if (!within(r.minY(), w.minY())) continue;
    const bool fillsOne = std::any_of(candidates.begin(), candidates.end(), [&](const Rect* d) {
      return within(r.minX(), d->minX()) && within(r.width, d->width) && within(r.maxY(), d->maxY()) &&
             r.height >= 0.9 * d->height;
    });
    if (!fillsOne) continue;
    const std::set<int64_t>* otherSpaces = spacesOf(snapshot, other->id);
    if (!windowSpaces || !otherSpaces || sharesAny(*windowSpaces, *otherSpaces)) return true;
  }
  return false;
}

uint32_t WindowRules::orderingID(const RawWindow& window, const std::vector<const RawWindow*>& sameApp) {
  if (!tabsAreWindows(window.bundleID)) return window.id;
  uint32_t smallest = window.id;
  for (const RawWindow* other : sameApp) {
    if (!other->isOnScreen && WindowFingerprints::sameIntegerFrame(other->frame, window.frame)) {
      smallest = std::min(smallest, other->id);
    }
  }
  return smallest;
}

std::optional<uint32_t> WindowRules::openingOrder(const RawWindow& window,
                                                  const std::vector<const RawWindow*>& sameApp) {
  if (!window.openingOrder || !tabsAreWindows(window.bundleID)) return window.openingOrder;
  uint32_t earliest = *window.openingOrder;
  for (const RawWindow* other : sameApp) {
    if (other->openingOrder && !other->isOnScreen && WindowFingerprints::sameIntegerFrame(other->frame, window.frame)) {
      earliest = std::min(earliest, *other->openingOrder);
    }
  }
  return earliest;
}

}  // namespace quorvel
