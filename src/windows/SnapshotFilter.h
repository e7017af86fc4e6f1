#pragma once

#include <cstdint>
#include <optional>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "base/Geometry.h"
#include "base/Task.h"
#include "windows/PassSettings.h"
#include "windows/RegistryServices.h"
#include "windows/RegistryState.h"
#include "windows/SpaceMap.h"
#include "windows/ax/WindowAXInfo.h"
#include "windows/WindowCard.h"

namespace quorvel {

// The first step of a refresh pass: takes the running applications, reads the Accessibility windows
// of every application that owns a shareable window (through a per-application cache), and runs
// every shareable window through the filter that decides whether it becomes a card and in which
// state. Ordering and "at end" placement are decided at summon time, not here.
class SnapshotFilter {
 public:
  using RawWindow = RegistryState::RawWindow;
  using RegularApp = RegistryState::RegularApp;
  using AXWindows = std::unordered_map<uint32_t, WindowAXInfo>;

  // The running applications, taken together on the main thread.
  struct RunningApps {
    std::unordered_set<int32_t> hiddenPids;
    std::unordered_set<int32_t> runningPids;
    std::vector<RegularApp> regularApps;  // the workspace's order
    std::unordered_set<uint32_t> ownWindowNumbers;  // this program's open windows
  };

  // What the pass driver hands over.
  struct Inputs {
    const std::vector<RawWindow>& rawWindows;
    const std::optional<SpaceMap::Snapshot>& snapshot;
    const std::vector<Rect>& displayBounds;
    bool trusted = false;
    std::optional<int32_t> deepVerifiedPid;
  };

  struct AXRead {
    RunningApps apps;
    AXWindows axWindowsByID;
  };

  struct Result {
    PassSettings settings;
    std::vector<WindowCard> windowCards;  // raw-window order
    AXWindows axWindowsByID;
    std::unordered_set<uint32_t> axNamedNow;
    std::unordered_set<uint32_t> placedNow;
    // Processes that kept a window card, or lost a window only to the user's hide rules.
    std::unordered_set<int32_t> pidsWithWindows;
    std::unordered_set<int32_t> browserPids;
    RunningApps apps;
  };

  static constexpr const char* kPrivateWindowTitle = "Private window";

  SnapshotFilter(RegistryState& state, const RegistryServices& services);

  // The whole step: settings, running applications, Accessibility windows, the filter, and the
  // pruning of the tab code's record of switched-on Accessibility trees.
  Task<Result> run(const Inputs& inputs);

  // Main thread.
  RunningApps runningAppsSnapshot();
  Task<AXRead> readAXWindows(const std::vector<RawWindow>& rawWindows, std::optional<int32_t> deepVerifiedPid,
                             bool trusted);
  Result collectRawWindows(const Inputs& inputs, AXRead read, const PassSettings& settings);

  // A window of an application whose tabs are windows, on no desktop, while another window of it
  // with the same integer frame lies on one: a background tab of a native tab group.
  static bool isBackgroundTabWindow(const RawWindow& window, const std::vector<const RawWindow*>& sameApp,
                                    const SpaceMap::Snapshot& snapshot);
  // A thin window along the top of a display beside a full-height window of the same application:
  // the title strip of a full-screen window.
  static bool isFullscreenStrip(const RawWindow& window, const std::vector<const RawWindow*>& sameApp,
                                const std::vector<Rect>& displays, const std::optional<SpaceMap::Snapshot>& snapshot);
  // The smallest id of the window's native tab group (off-screen windows of the same application
  // with the same integer frame) for applications whose tabs are windows; else the window's id.
  static uint32_t orderingID(const RawWindow& window, const std::vector<const RawWindow*>& sameApp);

 private:
  RegistryState& state_;
  const RegistryServices& services_;
};

}  // namespace quorvel
