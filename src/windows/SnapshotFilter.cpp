#include "windows/SnapshotFilter.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <string_view>

#include "base/TextServices.h"
#include "platform/Accessibility.h"
#include "platform/Workspace.h"
#include "settings/AppSettings.h"
#include "tabs/TabAdapter.h"
#include "windows/ax/AXFunnel.h"
#include "windows/ax/AXWindow.h"
#include "windows/ChromeWindowCensus.h"
#include "windows/PrivateWindowMarkers.h"
#include "windows/WindowFingerprints.h"

namespace quorvel {

namespace {

using CategoryDisplay = AppSettings::CategoryDisplay;
using PrivateDisplay = AppSettings::PrivateWindowsDisplay;

// Applications known to open blank standard windows that stand for nothing the user can switch to.
bool opensBlankWindows(const std::optional<std::string>& bundleID) {
  static constexpr std::array<std::string_view, 6> prefixes = {
      "com.valvesoftware.steam", "com.jetbrains.", "com.google.android.studio",
      "com.image-line.",         "com.autodesk.fusion360", "org.qemu."};
  if (!bundleID) return false;
  return std::any_of(prefixes.begin(), prefixes.end(),
                     [&](std::string_view prefix) { return bundleID->starts_with(prefix); });
}

bool isBlank(const std::string& title) { return TextServices::trimmed(title).empty(); }

bool sharesAny(const std::set<int64_t>& a, const std::set<int64_t>& b) {
  for (int64_t id : a) {
    if (b.contains(id)) return true;
  }
  return false;
}

const TabAdapter* adapterFor(const std::optional<std::string>& bundleID) {
  return bundleID ? TabAdapter::find(*bundleID) : nullptr;
}

bool within(double a, double b) { return std::fabs(a - b) <= 1; }

}  // namespace

SnapshotFilter::SnapshotFilter(RegistryState& state, const RegistryServices& services)
    : state_(state), services_(services) {}

Task<SnapshotFilter::Result> SnapshotFilter::run(const Inputs& inputs) {
  AXRead read = co_await readAXWindows(inputs.rawWindows, inputs.deepVerifiedPid, inputs.trusted);
  const PassSettings settings = PassSettings::read(services_.settings);
  Result result = collectRawWindows(inputs, std::move(read), settings);
  if (inputs.trusted && (settings.tabsDisplay != AppSettings::TabsDisplay::off ||
                         settings.privateWindowsDisplay != PrivateDisplay::show)) {
    TabAdapter::NudgeRecord& nudges = services_.nudges;
    const std::unordered_set<int32_t>& keeping = result.browserPids;
    co_await services_.axFunnel.run([&nudges, &keeping] { nudges.pruneNudged(keeping); });
  }
  co_return result;
}

SnapshotFilter::RunningApps SnapshotFilter::runningAppsSnapshot() {
  RunningApps apps;
  for (const RunningApplication& app : services_.platform.workspace.runningApplications()) {
    apps.runningPids.insert(app.pid);
    if (app.isHidden) apps.hiddenPids.insert(app.pid);
    if (app.activationPolicy == ActivationPolicy::regular) {
      RegularApp regular;
      regular.pid = app.pid;
      regular.bundleID = app.bundleIdentifier;
      regular.name = app.localizedName.value_or(app.bundleIdentifier.value_or(""));
      apps.regularApps.push_back(std::move(regular));
    }
  }
  const auto own = services_.chromeWindows.openWindowNumbers();
  apps.ownWindowNumbers.insert(own.begin(), own.end());
  return apps;
}

Task<SnapshotFilter::AXRead> SnapshotFilter::readAXWindows(const std::vector<RawWindow>& rawWindows,
                                                           std::optional<int32_t> deepVerifiedPid, bool trusted) {
  AXRead read;
  read.apps = co_await runOn(services_.runtime.main(), [this] { return runningAppsSnapshot(); });
  if (!trusted) {
    state_.lock.withLock([&] { state_.axCacheByPID.clear(); });
    co_return read;
  }

  // The raw windows by process, processes in order of first appearance.
  std::vector<int32_t> pids;
  std::unordered_map<int32_t, std::vector<const RawWindow*>> byPid;
  for (const RawWindow& window : rawWindows) {
    auto [it, inserted] = byPid.try_emplace(window.pid);
    if (inserted) pids.push_back(window.pid);
    it->second.push_back(&window);
  }

  read.axWindowsByID.reserve(rawWindows.size());
  Accessibility& accessibility = services_.platform.accessibility;
  for (int32_t pid : pids) {
    const int64_t subFingerprint = WindowFingerprints::windowSubFingerprint(byPid[pid]);
    if (pid != deepVerifiedPid) {
      const bool served = state_.lock.withLock([&] {
        const auto cached = state_.axCacheByPID.find(pid);
        if (cached == state_.axCacheByPID.end() || cached->second.subFingerprint != subFingerprint) return false;
        for (const auto& [id, info] : cached->second.windows) read.axWindowsByID[id] = info;
        return true;
      });
      if (served) continue;
    }
    AXWindows windows = co_await services_.axFunnel.run([&accessibility, pid] {
      return AXWindow::windows(accessibility, pid);
    });
    state_.lock.withLock([&] {
      state_.axCacheByPID[pid] = RegistryState::CachedAppAX{subFingerprint, windows};
    });
    for (auto& [id, info] : windows) read.axWindowsByID[id] = std::move(info);
  }

  state_.lock.withLock([&] {
    std::erase_if(state_.axCacheByPID, [&](const auto& entry) { return !byPid.contains(entry.first); });
  });
  co_return read;
}

SnapshotFilter::Result SnapshotFilter::collectRawWindows(const Inputs& inputs, AXRead read,
                                                         const PassSettings& settings) {
  Result result;
  result.settings = settings;
  result.axWindowsByID = std::move(read.axWindowsByID);
  result.apps = std::move(read.apps);
  const AXWindows& axWindows = result.axWindowsByID;
  const RunningApps& apps = result.apps;
  const bool trusted = inputs.trusted;
  const std::optional<SpaceMap::Snapshot>& snapshot = inputs.snapshot;

  const auto privateWindows = state_.lock.withLock([&] { return state_.axPrivateWindows; });
  const auto prior = state_.lock.withLock([&] { return state_.priorAnswers; });
  const auto lastHandles = state_.lock.withLock([&] { return state_.lastKnownHandles; });
  const int32_t ownPid = services_.platform.workspace.ownPid();

  std::unordered_map<int32_t, std::vector<const RawWindow*>> byPid;
  std::unordered_set<int32_t> pidsWithAXWindows;
  for (const RawWindow& window : inputs.rawWindows) {
    byPid[window.pid].push_back(&window);
    if (trusted && axWindows.contains(window.id)) pidsWithAXWindows.insert(window.pid);
  }
  static const std::set<int64_t> kNoSpaces;

  result.windowCards.reserve(inputs.rawWindows.size());
  for (const RawWindow& w : inputs.rawWindows) {
    // 1. Look-ups.
    const auto axIt = axWindows.find(w.id);
    const WindowAXInfo* ax = axIt == axWindows.end() ? nullptr : &axIt->second;
    const std::set<int64_t>* spacesPtr = &kNoSpaces;
    if (snapshot) {
      const auto found = snapshot->spacesByWindow.find(w.id);
      if (found != snapshot->spacesByWindow.end()) spacesPtr = &found->second;
    }
    const std::set<int64_t>& spaces = *spacesPtr;
    if (trusted && ax) result.axNamedNow.insert(w.id);
    if (!spaces.empty()) result.placedNow.insert(w.id);

    // 2. Applications and titles the user hid.
    if (settings.hidesByUserRules(w.bundleID, w.title)) {
      result.pidsWithWindows.insert(w.pid);
      continue;
    }

    // 3. Private windows.
    const bool marked = privateWindows.contains(w.id) ||
                        (settings.privateWindowsDisplay != PrivateDisplay::show &&
                         PrivateWindowMarkers::isPrivate(w.bundleID, w.title));
    bool blurs = false;
    bool hidesPicture = false;
    if (marked) {
      if (settings.privateWindowsDisplay == PrivateDisplay::hide) {
        result.pidsWithWindows.insert(w.pid);
        continue;
      }
      blurs = settings.privateWindowsDisplay == PrivateDisplay::blur;
      hidesPicture = settings.privateWindowsDisplay == PrivateDisplay::hidePicture;
    }
    const bool realTitle =
        !marked || settings.privateWindowsDisplay == PrivateDisplay::show || settings.privateWindowNames;

    // 4. Subroles.
    if (trusted && ax && ax->subrole) {
      const bool blank = isBlank(w.title);
      if (AXSubroles::isStandard(*ax->subrole)) {
        if (blank && opensBlankWindows(w.bundleID)) continue;
      } else {
        if (blank) continue;
        if (snapshot) {
          if (spaces.empty()) continue;
        } else if (AXSubroles::isFloating(*ax->subrole)) {
          continue;
        }
      }
    }

    // 5. This program's own windows.
    const bool own = w.pid == ownPid;
    if (own && !apps.ownWindowNumbers.contains(w.id)) continue;

    // 6. Facts.
    const bool hiddenApp = apps.hiddenPids.contains(w.pid);
    const bool minimized = trusted && ax && ax->isMinimized;
    const auto& sameApp = byPid[w.pid];

    // 7. Visibility. Each branch ends in a drop, the presence rule (with the on-screen flag), the
    // strip rule, or an acceptance.
    enum class Next { drop, presence, strip, accept };
    Next next = Next::drop;
    bool onScreenFlag = w.isOnScreen;
    auto offScreenRule = [&] {
      if (own) return Next::presence;
      if (sharesAny(spaces, snapshot->visibleSpaceIDs)) return Next::drop;
      return Next::presence;
    };
    if (snapshot) {
      if (minimized) {
        next = isBackgroundTabWindow(w, sameApp, *snapshot) ? Next::drop : Next::presence;
        onScreenFlag = w.isOnScreen;
      } else if (!spaces.empty() || (own && !hiddenApp)) {
        if (w.isOnScreen) {
          next = Next::presence;
          onScreenFlag = true;
        } else if (hiddenApp) {
          next = Next::presence;
          onScreenFlag = false;
        } else {
          next = offScreenRule();
          onScreenFlag = false;
        }
      } else if (hiddenApp) {
        next = Next::presence;
        onScreenFlag = w.isOnScreen;
      } else if (!prior.placedOnASpace.contains(w.id)) {
        next = Next::drop;
      } else if (w.isOnScreen) {
        next = Next::presence;
        onScreenFlag = true;
      } else {
        next = offScreenRule();
        onScreenFlag = false;
      }
    } else if (trusted && !w.isOnScreen && !ax) {
      next = own ? Next::accept : Next::drop;
    } else {
      next = Next::strip;
    }

    // 8. Accessibility presence.
    if (next == Next::presence) {
      next = Next::strip;
      if (trusted) {
        if (own) {
          next = Next::accept;
        } else if (!ax && !onScreenFlag && !prior.axNamed.contains(w.id) && pidsWithAXWindows.contains(w.pid)) {
          next = Next::drop;
        }
      }
    }
    // 9. Full-screen title strips.
    if (next == Next::strip) {
      next = (!own && isFullscreenStrip(w, sameApp, inputs.displayBounds, snapshot)) ? Next::drop : Next::accept;
    }
    if (next != Next::accept) continue;

    // 10. Accept.
    result.pidsWithWindows.insert(w.pid);
    WindowState windowState;
    CategoryDisplay governing = CategoryDisplay::show;
    if (hiddenApp) {
      windowState = WindowState::hiddenApp;
      governing = settings.hiddenAppsDisplay;
    } else if (minimized) {
      windowState = WindowState::minimized;
      governing = settings.minimizedDisplay;
    } else if (snapshot && !spaces.empty()) {
      windowState = sharesAny(spaces, snapshot->currentSpaceIDs) ? WindowState::onCurrentSpace
                                                                 : WindowState::onOtherSpace;
    } else {
      windowState = w.isOnScreen ? WindowState::onCurrentSpace : WindowState::onOtherSpace;
    }
    if (windowState == WindowState::onOtherSpace) governing = settings.otherSpacesDisplay;
    if (governing == CategoryDisplay::hide) continue;

    WindowCard card;
    card.id = w.id;
    card.orderingID = orderingID(w, sameApp);
    card.title = realTitle ? w.title : kPrivateWindowTitle;
    card.appName = w.appName;
    card.bundleID = w.bundleID;
    card.pid = w.pid;
    card.frame = w.frame;
    if (ax) {
      card.ax = ax->handle;
    } else if (trusted) {
      const auto handle = lastHandles.handles.find(w.id);
      if (handle != lastHandles.handles.end()) card.ax = handle->second;
    }
    card.state = windowState;
    if (windowState == WindowState::onOtherSpace && snapshot && spaces.size() == 1) {
      const int64_t only = *spaces.begin();
      const auto number = snapshot->indexBySpaceID.find(only);
      if (number != snapshot->indexBySpaceID.end()) card.spaceNumber = number->second;
      card.isOnFullscreenSpace = snapshot->fullscreenSpaceIDs.contains(only);
    }
    card.spaceIDs = spaces;
    card.isPrivate = blurs || hidesPicture;
    card.blursPicture = blurs;
    result.windowCards.push_back(std::move(card));
  }

  for (const WindowCard& card : result.windowCards) {
    if (adapterFor(card.bundleID) || PrivateWindowMarkers::family(card.bundleID)) result.browserPids.insert(card.pid);
  }
  return result;
}

bool SnapshotFilter::isBackgroundTabWindow(const RawWindow& window, const std::vector<const RawWindow*>& sameApp,
                                           const SpaceMap::Snapshot& snapshot) {
  const TabAdapter* adapter = adapterFor(window.bundleID);
  if (!adapter || !adapter->tabsAreWindows) return false;
  const auto own = snapshot.spacesByWindow.find(window.id);
  if (own != snapshot.spacesByWindow.end() && !own->second.empty()) return false;
  for (const RawWindow* other : sameApp) {
    if (other->id == window.id || !WindowFingerprints::sameIntegerFrame(other->frame, window.frame)) continue;
    const auto spaces = snapshot.spacesByWindow.find(other->id);
    if (spaces != snapshot.spacesByWindow.end() && !spaces->second.empty()) return true;
  }
  return false;
}

bool SnapshotFilter::isFullscreenStrip(const RawWindow& window, const std::vector<const RawWindow*>& sameApp,
                                       const std::vector<Rect>& displays,
                                       const std::optional<SpaceMap::Snapshot>& snapshot) {
  const Rect& w = window.frame;
  std::vector<const Rect*> candidates;
  for (const Rect& display : displays) {
    if (within(w.minX(), display.minX()) && within(w.width, display.width) && w.height <= 0.3 * display.height) {
      candidates.push_back(&display);
    }
  }
  if (candidates.empty()) return false;
  const std::set<int64_t>* windowSpaces = nullptr;
  if (snapshot) {
    const auto found = snapshot->spacesByWindow.find(window.id);
    if (found != snapshot->spacesByWindow.end()) windowSpaces = &found->second;
  }
  for (const RawWindow* other : sameApp) {
    if (other->id == window.id) continue;
    const Rect& r = other->frame;
    if (!within(r.minY(), w.minY())) continue;
    const bool fillsOne = std::any_of(candidates.begin(), candidates.end(), [&](const Rect* d) {
      return within(r.minX(), d->minX()) && within(r.width, d->width) && within(r.maxY(), d->maxY()) &&
             r.height >= 0.9 * d->height;
    });
    if (!fillsOne) continue;
    const std::set<int64_t>* otherSpaces = nullptr;
    if (snapshot) {
      const auto found = snapshot->spacesByWindow.find(other->id);
      if (found != snapshot->spacesByWindow.end()) otherSpaces = &found->second;
    }
    if (!windowSpaces || !otherSpaces || sharesAny(*windowSpaces, *otherSpaces)) return true;
  }
  return false;
}

uint32_t SnapshotFilter::orderingID(const RawWindow& window, const std::vector<const RawWindow*>& sameApp) {
  const TabAdapter* adapter = adapterFor(window.bundleID);
  if (!adapter || !adapter->tabsAreWindows) return window.id;
  uint32_t smallest = window.id;
  for (const RawWindow* other : sameApp) {
    if (!other->isOnScreen && WindowFingerprints::sameIntegerFrame(other->frame, window.frame)) {
      smallest = std::min(smallest, other->id);
    }
  }
  return smallest;
}

}  // namespace quorvel
