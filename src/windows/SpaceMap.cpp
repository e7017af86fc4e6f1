#include "windows/SpaceMap.h"

#include <algorithm>
#include <limits>
#include <unordered_set>

#include "platform/DesktopServer.h"

namespace quorvel {

namespace {
constexpr int64_t kNormalDesktop = 0;
constexpr int64_t kFullscreenDesktop = 4;
}  // namespace

std::optional<SpaceMap::Topology> SpaceMap::topology() const {
  if (!server_.isAvailable(DesktopServer::Group::spaces)) return std::nullopt;
  const auto listed = server_.copyManagedDisplaySpaces();
  if (!listed || listed->empty()) return std::nullopt;

  Topology topology;
  std::unordered_set<int64_t> seen;
  int counter = 1;  // runs across all displays
  for (const ManagedDisplaySpaces& display : *listed) {
    DisplaySpaces entry;
    entry.currentSpaceID = display.currentSpaceID;
    if (display.currentSpaceID) topology.currentSpaceIDs.insert(*display.currentSpaceID);
    for (const ManagedSpace& space : display.spaces) {
      if (!space.id64) continue;
      const int64_t id = *space.id64;
      entry.spaceIDs.push_back(id);
      if (seen.insert(id).second) topology.allSpaceIDs.push_back(id);
      if (space.type == kNormalDesktop) {
        if (topology.indexBySpaceID.emplace(id, counter).second) ++counter;
      } else if (space.type == kFullscreenDesktop) {
        topology.fullscreenSpaceIDs.insert(id);
      }
    }
    entry.identifier = display.displayIdentifier.value_or("");
    topology.displays.push_back(std::move(entry));
  }
  if (topology.currentSpaceIDs.empty()) return std::nullopt;
  for (int64_t current : topology.currentSpaceIDs) {  // ascending
    if (seen.insert(current).second) topology.allSpaceIDs.push_back(current);
  }
  return topology;
}

std::optional<SpaceMap::Snapshot> SpaceMap::snapshot(const std::vector<uint32_t>& windows) const {
  if (!server_.isAvailable(DesktopServer::Group::spaces)) return std::nullopt;
  auto topology = this->topology();
  if (!topology) return std::nullopt;

  Snapshot snapshot;
  if (!windows.empty()) {
    auto found = spacesByReadingDesktops(*topology, windows);
    if (!found) found = spacesByAskingWindows(windows);
    if (!found) return std::nullopt;
    snapshot.spacesByWindow = std::move(*found);
  }
  snapshot.currentSpaceIDs = topology->currentSpaceIDs;
  snapshot.visibleSpaceIDs = topology->currentSpaceIDs;
  snapshot.indexBySpaceID = std::move(topology->indexBySpaceID);
  snapshot.fullscreenSpaceIDs = std::move(topology->fullscreenSpaceIDs);
  return snapshot;
}

// Reads each desktop's window list; the windows it finds on none are confirmed by asking for their
// desktops once. Fails when a call fails or when that confirmation places any of them somewhere.
std::optional<std::unordered_map<uint32_t, std::set<int64_t>>> SpaceMap::spacesByReadingDesktops(
    const Topology& topology, const std::vector<uint32_t>& windows) const {
  if (!server_.isAvailable(DesktopServer::Group::windowList)) return std::nullopt;
  std::unordered_map<uint32_t, std::set<int64_t>> spaces;
  for (uint32_t window : windows) spaces.try_emplace(window);
  for (int64_t spaceID : topology.allSpaceIDs) {
    const auto onSpace = server_.copyWindowsOnSpace(spaceID, kAllWindowsOptions);
    if (!onSpace) return std::nullopt;
    for (uint32_t window : *onSpace) {
      auto it = spaces.find(window);
      if (it != spaces.end()) it->second.insert(spaceID);
    }
  }
  std::vector<uint32_t> unplaced;
  for (uint32_t window : windows) {
    if (spaces[window].empty() && std::find(unplaced.begin(), unplaced.end(), window) == unplaced.end()) {
      unplaced.push_back(window);
    }
  }
  if (!unplaced.empty()) {
    const auto confirmation = server_.copySpacesForWindows(unplaced, kAllSpacesMask);
    if (!confirmation || !confirmation->empty()) return std::nullopt;
  }
  return spaces;
}

std::optional<std::unordered_map<uint32_t, std::set<int64_t>>> SpaceMap::spacesByAskingWindows(
    const std::vector<uint32_t>& windows) const {
  std::unordered_map<uint32_t, std::set<int64_t>> spaces;
  for (uint32_t window : windows) {
    if (spaces.contains(window)) continue;
    const auto answer = server_.copySpacesForWindows({window}, kAllSpacesMask);
    if (!answer) return std::nullopt;
    spaces[window] = std::set<int64_t>(answer->begin(), answer->end());
  }
  return spaces;
}

std::optional<std::set<int64_t>> SpaceMap::spacesOfWindow(uint32_t window) const {
  if (!server_.isAvailable(DesktopServer::Group::spaces)) return std::nullopt;
  const auto answer = server_.copySpacesForWindows({window}, kAllSpacesMask);
  if (!answer) return std::nullopt;
  return std::set<int64_t>(answer->begin(), answer->end());
}

bool SpaceMap::moveWindows(const std::vector<uint32_t>& windows, int64_t spaceID) const {
  if (!server_.isAvailable(DesktopServer::Group::move) || windows.empty() || spaceID < 1) return false;
  return server_.moveWindowsToSpace(windows, spaceID);
}

bool SpaceMap::setBackgroundBlur(int64_t radius, int64_t windowNumber) const {
  if (!server_.isAvailable(DesktopServer::Group::blur) || windowNumber < 1) return false;
  // A window number beyond 32 bits names no window; a radius beyond 32 bits is held at the largest.
  if (windowNumber > std::numeric_limits<uint32_t>::max()) return false;
  const int32_t sent = static_cast<int32_t>(
      std::clamp<int64_t>(radius, 0, std::numeric_limits<int32_t>::max()));
  return server_.setWindowBackgroundBlur(static_cast<uint32_t>(windowNumber), sent) == 0;
}

}  // namespace quorvel
