#pragma once

#include <cstdint>
#include <optional>
#include <set>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "ax/WindowAXInfo.h"
#include "windows/RegistryState.h"
#include "windows/SpaceMap.h"

namespace quorvel {

// What the snapshot filter knows of one shareable window, looked up once per pass so that every
// rule (WindowRules) reads plain facts. A view: it refers into the pass's inputs, which outlive it.
struct WindowFacts {
  using RawWindow = RegistryState::RawWindow;

  // The inputs of one pass that every window's facts are read from.
  struct Pass {
    const std::unordered_map<uint32_t, WindowAXInfo>& axWindows;  // this pass's Accessibility windows
    const SpaceMap::Snapshot* snapshot;                           // none without desktop facts
    bool trusted = false;
    int32_t ownPid = 0;
    const std::unordered_set<uint32_t>& ownWindowNumbers;         // this program's open windows
    const std::unordered_set<int32_t>& hiddenPids;
    const std::unordered_set<uint32_t>& knownPrivate;             // windows known to be private
    const RegistryState::PriorAnswers& prior;
    const std::unordered_map<int32_t, std::vector<const RawWindow*>>& windowsByPid;
    const std::unordered_set<int32_t>& pidsWithAXWindows;         // applications Accessibility answered
  };

  const RawWindow& window;
  const WindowAXInfo* ax = nullptr;           // its Accessibility window this pass, when listed
  const std::set<int64_t>& spaces;            // the desktops it lies on; empty without a snapshot
  const std::vector<const RawWindow*>& sameApp;  // every raw window of its process, itself among them
  const SpaceMap::Snapshot* snapshot = nullptr;
  bool trusted = false;
  bool own = false;            // a window of this program
  bool ownOpen = false;        // ... that the program counts among its open windows
  bool hiddenApp = false;      // its application is hidden
  bool minimized = false;      // trusted, listed by Accessibility and minimized
  bool blank = false;          // its title is empty or white space only
  bool knownPrivate = false;   // known to be private from earlier Accessibility titles
  bool placedBefore = false;   // lay on some desktop in an earlier pass
  bool axNamedBefore = false;  // Accessibility listed it in an earlier pass
  bool appAnsweredAX = false;  // Accessibility listed other windows of its application this pass

  // Trusted and listed by Accessibility this pass.
  bool listedByAX() const { return trusted && ax; }

  static WindowFacts of(const RawWindow& window, const Pass& pass);
};

}  // namespace quorvel
