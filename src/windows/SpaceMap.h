#pragma once

#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

namespace quorvel {

class DesktopServer;

// The desktops (spaces) of every display and of windows, read through the window server's desktop
// calls, which live outside its public interface: each group of calls may be missing for the whole
// run, and then the operations that need it answer none or false. Every operation is a plain
// synchronous call, safe from any thread; none keeps state. Desktop identifiers are the window
// server's 64-bit ids; window numbers are 32-bit.
class SpaceMap {
 public:
  // One display as the window server lists it.
  struct DisplaySpaces {
    std::string identifier;                 // a display UUID, or "Main"; "" when missing
    std::optional<int64_t> currentSpaceID;  // the desktop the display shows now
    std::vector<int64_t> spaceIDs;          // every desktop of the display, in order
    bool operator==(const DisplaySpaces&) const = default;
  };

  struct Topology {
    std::vector<DisplaySpaces> displays;
    std::set<int64_t> currentSpaceIDs;
    // Normal desktops numbered 1, 2, 3, ... across all displays in the window server's order.
    std::unordered_map<int64_t, int> indexBySpaceID;
    std::set<int64_t> fullscreenSpaceIDs;
    // Every desktop once in first-seen order, then current desktops no display listed, ascending.
    std::vector<int64_t> allSpaceIDs;
  };

  // What one refresh pass needs.
  struct Snapshot {
    std::set<int64_t> currentSpaceIDs;
    std::set<int64_t> visibleSpaceIDs;  // the same as currentSpaceIDs
    // For every asked window, the desktops it is on (empty when the window server places it on none).
    std::unordered_map<uint32_t, std::set<int64_t>> spacesByWindow;
    std::unordered_map<int64_t, int> indexBySpaceID;
    std::set<int64_t> fullscreenSpaceIDs;
  };

  // The options and mask the desktop calls are made with: every window of a desktop, every kind of
  // desktop of a window.
  static constexpr uint32_t kAllWindowsOptions = 7;
  static constexpr uint32_t kAllSpacesMask = 7;

  explicit SpaceMap(DesktopServer& server) : server_(server) {}

  // The desktops of every display; none when the calls are missing or fail, or when no display or
  // no current desktop is reported.
  std::optional<Topology> topology() const;
  // The desktops of the asked windows beside the topology; none when the calls are missing, there
  // is no topology, or neither way of reading windows' desktops works.
  std::optional<Snapshot> snapshot(const std::vector<uint32_t>& windows) const;
  // The desktops of one window; none when the calls are missing or fail.
  std::optional<std::set<int64_t>> spacesOfWindow(uint32_t window) const;
  // Asks the window server to move the windows to a desktop. True means the request was made, not
  // that the windows moved (check with spacesOfWindow).
  bool moveWindows(const std::vector<uint32_t>& windows, int64_t spaceID) const;
  // Sets the background blur behind one of our own windows (a negative radius is sent as 0).
  bool setBackgroundBlur(int64_t radius, int64_t windowNumber) const;

 private:
  std::optional<std::unordered_map<uint32_t, std::set<int64_t>>> spacesByReadingDesktops(
      const Topology& topology, const std::vector<uint32_t>& windows) const;
  std::optional<std::unordered_map<uint32_t, std::set<int64_t>>> spacesByAskingWindows(
      const std::vector<uint32_t>& windows) const;

  DesktopServer& server_;
};

}  // namespace quorvel
