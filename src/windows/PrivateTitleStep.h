#pragma once

#include <cstdint>
#include <optional>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "base/Task.h"
#include "settings/SettingEnums.h"
#include "windows/RegistryServices.h"
#include "windows/RegistryState.h"
#include "windows/WindowCard.h"

namespace quorvel {

// The step of a refresh pass that reads the Accessibility titles of browser windows and remembers
// the windows whose title marks them private, for the filter of the next pass and for the cards of
// hidden applications carried over. It changes no card of its own pass. A per-application cache
// keeps it from asking an application again while its windows do not change.
class PrivateTitleStep {
 public:
  using RawWindow = RegistryState::RawWindow;

  // The registry fields the step reads and writes, each only under `lock`: its per-application
  // title cache and the windows found private.
  struct Shared {
    Lock& lock;
    std::unordered_map<int32_t, RegistryState::CachedAXTitles>& axTitleCacheByPID;
    std::unordered_set<uint32_t>& axPrivateWindows;
  };

  PrivateTitleStep(Shared shared, const RegistryServices& services);

  // `coveredPids`: the processes whose windows the tab step walked (it read their titles itself).
  Task<void> readPrivateTitles(const std::vector<WindowCard>& windowCards, const std::vector<RawWindow>& rawWindows,
                               const std::unordered_set<int32_t>& coveredPids, std::optional<int32_t> deepVerifiedPid,
                               bool trusted, SettingEnums::PrivateWindowsDisplay privateWindowsDisplay);

 private:
  Shared shared_;
  const RegistryServices& services_;
};

}  // namespace quorvel
