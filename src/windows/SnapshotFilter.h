#pragma once

#include <cstdint>
#include <optional>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "ax/WindowAXInfo.h"
#include "base/Geometry.h"
#include "base/Task.h"
#include "windows/PassSettings.h"
#include "windows/PrivateWindowRule.h"
#include "windows/RegistryServices.h"
#include "windows/RegistryState.h"
#include "windows/SpaceMap.h"
#include "windows/WindowCard.h"
#include "windows/WindowFacts.h"

namespace quorvel {

// The first step of a refresh pass: takes the running applications, reads the Accessibility windows
// of every application that owns a shareable window (through a per-application cache), and runs
// every shareable window through the filter that decides whether it becomes a card and in which
// state: each window's facts are looked up once (WindowFacts) and the rules asked in turn
// (WindowRules, PrivateWindowRule). Ordering and "at end" placement are decided at summon time.
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

  // The registry fields the step reads and writes, each only under `lock`: its per-application
  // Accessibility cache, and what earlier passes remembered (private windows, answers, handles).
  struct Shared {
    Lock& lock;
    std::unordered_map<int32_t, RegistryState::CachedAppAX>& axCacheByPID;
    const std::unordered_set<uint32_t>& axPrivateWindows;
    const RegistryState::PriorAnswers& priorAnswers;
    const RegistryState::LastKnownHandles& lastKnownHandles;
  };

  SnapshotFilter(Shared shared, const RegistryServices& services);

  // The whole step: settings, running applications, Accessibility windows, the filter, and the
  // pruning of the tab code's record of switched-on Accessibility trees.
  Task<Result> run(const Inputs& inputs);

  // Main thread.
  RunningApps runningAppsSnapshot();
  Task<AXRead> readAXWindows(const std::vector<RawWindow>& rawWindows, std::optional<int32_t> deepVerifiedPid,
                             bool trusted);
  Result collectRawWindows(const Inputs& inputs, AXRead read, const PassSettings& settings);

 private:
  // The card of an accepted window.
  static WindowCard makeCard(const WindowFacts& facts, WindowState state, const PrivateWindowRule::Treatment& privacy,
                             const RegistryState::LastKnownHandles& lastHandles);

  Shared shared_;
  const RegistryServices& services_;
};

}  // namespace quorvel
