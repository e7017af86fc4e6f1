#include <gtest/gtest.h>

#include <map>
#include <set>
#include <vector>

#include "base/ManualLoop.h"
#include "platform/DesktopServer.h"
#include "platform/sim/SimApp.h"
#include "platform/sim/SimDesktop.h"
#include "platform/sim/SimWindow.h"
#include "windows/SpaceMap.h"

namespace quorvel {
namespace {

// A window server whose desktop answers a test writes out, shapes the simulated desktop never
// produces included (a desktop listed twice, malformed entries, windows on no desktop).
class ScriptedDesktopServer final : public DesktopServer {
 public:
  bool isAvailable(Group group) override { return !unavailable.contains(group); }
  std::optional<std::vector<ManagedDisplaySpaces>> copyManagedDisplaySpaces() override { return displays; }
  std::optional<std::vector<uint32_t>> copyWindowsOnSpace(int64_t spaceID, uint32_t options) override {
    ++windowsOnSpaceCalls;
    lastOptions = options;
    if (failWindowsOnSpace) return std::nullopt;
    auto it = windowsBySpace.find(spaceID);
    return it == windowsBySpace.end() ? std::vector<uint32_t>{} : it->second;
  }
  std::optional<std::vector<int64_t>> copySpacesForWindows(const std::vector<uint32_t>& windows,
                                                           uint32_t mask) override {
    spacesForWindowsCalls.push_back(windows);
    lastMask = mask;
    if (failSpacesForWindows) return std::nullopt;
    std::vector<int64_t> spaces;
    for (uint32_t window : windows) {
      auto it = spacesByWindow.find(window);
      if (it != spacesByWindow.end()) spaces.insert(spaces.end(), it->second.begin(), it->second.end());
    }
    return spaces;
  }
  bool moveWindowsToSpace(const std::vector<uint32_t>&, int64_t) override {
    ++moves;
    return true;
  }
  int32_t setWindowBackgroundBlur(uint32_t window, int32_t radius) override {
    blurs.emplace_back(window, radius);
    return 0;
  }

  std::set<Group> unavailable;
  std::optional<std::vector<ManagedDisplaySpaces>> displays;
  std::map<int64_t, std::vector<uint32_t>> windowsBySpace;
  std::map<uint32_t, std::vector<int64_t>> spacesByWindow;
  bool failWindowsOnSpace = false;
  bool failSpacesForWindows = false;
  int windowsOnSpaceCalls = 0;
  std::vector<std::vector<uint32_t>> spacesForWindowsCalls;
  uint32_t lastOptions = 0;
  uint32_t lastMask = 0;
  int moves = 0;
  std::vector<std::pair<uint32_t, int32_t>> blurs;
};

ManagedSpace normal(int64_t id) { return ManagedSpace{id, 0}; }
ManagedSpace fullscreen(int64_t id) { return ManagedSpace{id, 4}; }

TEST(SpaceMap, NormalDesktopsAreNumberedAcrossDisplaysFullScreenOnesAreNot) {
  ManualLoop loop;
  SimDesktop sim(loop, {.displays = {SimDisplaySpec{.id = 1, .desktops = 2},
                                     SimDisplaySpec{.id = 2, .frame = {1920, 0, 1920, 1080}, .desktops = 2}}});
  auto& app = sim.launchApp({.pid = 10, .name = "Player"});
  auto& movie = app.openWindow({.title = "Movie"});
  const auto a = sim.desktops(1);
  const auto b = sim.desktops(2);
  const int64_t full = sim.addFullScreenDesktop(1, movie.number);

  SpaceMap spaces(sim.desktopServer());
  const auto topology = spaces.topology();
  ASSERT_TRUE(topology);
  ASSERT_EQ(topology->displays.size(), 2u);
  EXPECT_EQ(topology->displays[0].spaceIDs, (std::vector<int64_t>{a[0], full, a[1]}));
  EXPECT_EQ(topology->indexBySpaceID.at(a[0]), 1);
  EXPECT_EQ(topology->indexBySpaceID.at(a[1]), 2);
  EXPECT_EQ(topology->indexBySpaceID.at(b[0]), 3);
  EXPECT_EQ(topology->indexBySpaceID.at(b[1]), 4);
  EXPECT_FALSE(topology->indexBySpaceID.contains(full));
  EXPECT_EQ(topology->fullscreenSpaceIDs, std::set<int64_t>{full});
  EXPECT_EQ(topology->currentSpaceIDs, (std::set<int64_t>{full, b[0]}));
  EXPECT_EQ(topology->allSpaceIDs, (std::vector<int64_t>{a[0], full, a[1], b[0], b[1]}));
}

TEST(SpaceMap, ADesktopListedTwiceIsNumberedAndListedOnce) {
  ScriptedDesktopServer server;
  server.displays = std::vector<ManagedDisplaySpaces>{
      {"A", 11, {normal(11), normal(12), ManagedSpace{std::nullopt, 0}, ManagedSpace{13, 2}}},
      {std::nullopt, 12, {normal(12), normal(14)}},
      {"C", 99, {}},
  };
  const auto topology = SpaceMap(server).topology();
  ASSERT_TRUE(topology);
  EXPECT_EQ(topology->allSpaceIDs, (std::vector<int64_t>{11, 12, 13, 14, 99}))
      << "a current desktop no display lists comes last";
  EXPECT_EQ(topology->indexBySpaceID, (std::unordered_map<int64_t, int>{{11, 1}, {12, 2}, {14, 3}}));
  EXPECT_FALSE(topology->indexBySpaceID.contains(13)) << "other kinds get no number";
  EXPECT_TRUE(topology->fullscreenSpaceIDs.empty());
  EXPECT_EQ(topology->displays[0].spaceIDs, (std::vector<int64_t>{11, 12, 13})) << "an entry without id is skipped";
  EXPECT_EQ(topology->displays[1].identifier, "");
  EXPECT_EQ(topology->displays[1].spaceIDs, (std::vector<int64_t>{12, 14}));
}

TEST(SpaceMap, NoTopologyWithoutDisplaysOrCurrentDesktops) {
  ScriptedDesktopServer server;
  SpaceMap spaces(server);
  EXPECT_FALSE(spaces.topology());
  server.displays = std::vector<ManagedDisplaySpaces>{};
  EXPECT_FALSE(spaces.topology());
  server.displays = std::vector<ManagedDisplaySpaces>{{"A", std::nullopt, {normal(1)}}};
  EXPECT_FALSE(spaces.topology());
  server.displays = std::vector<ManagedDisplaySpaces>{{"A", 1, {normal(1)}}};
  EXPECT_TRUE(spaces.topology());
  server.unavailable.insert(DesktopServer::Group::spaces);
  EXPECT_FALSE(spaces.topology());
  EXPECT_FALSE(spaces.snapshot({1}));
}

TEST(SpaceMap, SnapshotReadsDesktopsAndConfirmsWindowsFoundOnNone) {
  ScriptedDesktopServer server;
  server.displays = std::vector<ManagedDisplaySpaces>{{"A", 1, {normal(1), normal(2), fullscreen(3)}}};
  server.windowsBySpace = {{1, {100, 101, 555}}, {2, {101}}, {3, {}}};
  SpaceMap spaces(server);

  const auto snapshot = spaces.snapshot({100, 101, 102});
  ASSERT_TRUE(snapshot);
  EXPECT_EQ(snapshot->spacesByWindow.size(), 3u);
  EXPECT_EQ(snapshot->spacesByWindow.at(100), std::set<int64_t>{1});
  EXPECT_EQ(snapshot->spacesByWindow.at(101), (std::set<int64_t>{1, 2}));
  EXPECT_TRUE(snapshot->spacesByWindow.at(102).empty()) << "confirmed on no desktop";
  EXPECT_FALSE(snapshot->spacesByWindow.contains(555)) << "only asked windows";
  EXPECT_EQ(server.windowsOnSpaceCalls, 3);
  EXPECT_EQ(server.lastOptions, 7u);
  ASSERT_EQ(server.spacesForWindowsCalls.size(), 1u);
  EXPECT_EQ(server.spacesForWindowsCalls[0], std::vector<uint32_t>{102});
  EXPECT_EQ(server.lastMask, 7u);
  EXPECT_EQ(snapshot->currentSpaceIDs, std::set<int64_t>{1});
  EXPECT_EQ(snapshot->visibleSpaceIDs, std::set<int64_t>{1});
  EXPECT_EQ(snapshot->fullscreenSpaceIDs, std::set<int64_t>{3});
  EXPECT_EQ(snapshot->indexBySpaceID.size(), 2u);
}

TEST(SpaceMap, SnapshotAsksWindowByWindowWhenReadingDesktopsMissedOne) {
  ScriptedDesktopServer server;
  server.displays = std::vector<ManagedDisplaySpaces>{{"A", 1, {normal(1), normal(2)}}};
  server.windowsBySpace = {{1, {100}}};
  // 101 is on desktop 7, which no display lists: the desktop reading misses it.
  server.spacesByWindow = {{100, {1}}, {101, {7}}};
  const auto snapshot = SpaceMap(server).snapshot({100, 101, 101});
  ASSERT_TRUE(snapshot);
  EXPECT_EQ(snapshot->spacesByWindow.at(100), std::set<int64_t>{1});
  EXPECT_EQ(snapshot->spacesByWindow.at(101), std::set<int64_t>{7});
  // One confirmation call, then one call per distinct window.
  ASSERT_EQ(server.spacesForWindowsCalls.size(), 3u);
  EXPECT_EQ(server.spacesForWindowsCalls[1], std::vector<uint32_t>{100});
  EXPECT_EQ(server.spacesForWindowsCalls[2], std::vector<uint32_t>{101});
}

TEST(SpaceMap, SnapshotFallsBackWhenTheWindowListCallsAreMissingAndFailsWhenBothWaysFail) {
  ScriptedDesktopServer server;
  server.displays = std::vector<ManagedDisplaySpaces>{{"A", 1, {normal(1)}}};
  server.spacesByWindow = {{100, {1}}};
  SpaceMap spaces(server);

  server.unavailable.insert(DesktopServer::Group::windowList);
  auto snapshot = spaces.snapshot({100, 200});
  ASSERT_TRUE(snapshot);
  EXPECT_EQ(server.windowsOnSpaceCalls, 0);
  EXPECT_EQ(snapshot->spacesByWindow.at(100), std::set<int64_t>{1});
  EXPECT_TRUE(snapshot->spacesByWindow.at(200).empty());

  server.unavailable.clear();
  server.failWindowsOnSpace = true;
  EXPECT_TRUE(spaces.snapshot({100}));
  server.failSpacesForWindows = true;
  EXPECT_FALSE(spaces.snapshot({100}));

  // With no window asked, the snapshot still carries the desktops.
  snapshot = spaces.snapshot({});
  ASSERT_TRUE(snapshot);
  EXPECT_TRUE(snapshot->spacesByWindow.empty());
  EXPECT_EQ(snapshot->currentSpaceIDs, std::set<int64_t>{1});
}

TEST(SpaceMap, SnapshotOfSimulatedWindowsAndTheFallbackThere) {
  ManualLoop loop;
  SimDesktop sim(loop, {.displays = {SimDisplaySpec{.id = 1, .desktops = 2}}});
  auto& app = sim.launchApp({.pid = 10, .name = "Editor"});
  const auto desktops = sim.desktops(1);
  auto& here = app.openWindow({.title = "Here"});
  auto& there = app.openWindow({.title = "There", .desktop = desktops[1]});
  auto& everywhere = app.openWindow({.title = "Everywhere", .sticky = true});
  SpaceMap spaces(sim.desktopServer());

  auto check = [&](const SpaceMap::Snapshot& snapshot) {
    EXPECT_EQ(snapshot.spacesByWindow.at(here.number), std::set<int64_t>{desktops[0]});
    EXPECT_EQ(snapshot.spacesByWindow.at(there.number), std::set<int64_t>{desktops[1]});
    EXPECT_EQ(snapshot.spacesByWindow.at(everywhere.number), (std::set<int64_t>{desktops[0], desktops[1]}));
  };
  auto snapshot = spaces.snapshot({here.number, there.number, everywhere.number});
  ASSERT_TRUE(snapshot);
  check(*snapshot);
  EXPECT_EQ(sim.desktopCalls(SimDesktopCall::spacesForWindows), 0);

  sim.resetCounters();
  sim.failDesktopCall(SimDesktopCall::windowsOnSpace);
  snapshot = spaces.snapshot({here.number, there.number, everywhere.number});
  ASSERT_TRUE(snapshot);
  check(*snapshot);
  EXPECT_EQ(sim.desktopCalls(SimDesktopCall::spacesForWindows), 3);

  sim.failDesktopCall(SimDesktopCall::spacesForWindows);
  EXPECT_FALSE(spaces.snapshot({here.number}));
  EXPECT_FALSE(spaces.spacesOfWindow(here.number));
  sim.failDesktopCall(SimDesktopCall::spacesForWindows, false);
  EXPECT_EQ(spaces.spacesOfWindow(there.number), std::set<int64_t>{desktops[1]});
}

TEST(SpaceMap, MovesAreAskedOnlyForRealDesktopsAndWindows) {
  ManualLoop loop;
  SimDesktop sim(loop, {.displays = {SimDisplaySpec{.id = 1, .desktops = 2}}});
  auto& window = sim.launchApp({.pid = 10, .name = "Editor"}).openWindow({.title = "Draft"});
  const auto desktops = sim.desktops(1);
  SpaceMap spaces(sim.desktopServer());

  EXPECT_FALSE(spaces.moveWindows({window.number}, 0));
  EXPECT_FALSE(spaces.moveWindows({window.number}, -3));
  EXPECT_FALSE(spaces.moveWindows({}, desktops[1]));
  EXPECT_EQ(sim.desktopCalls(SimDesktopCall::moveWindows), 0) << "refused without asking the window server";

  EXPECT_TRUE(spaces.moveWindows({window.number}, desktops[1]));
  EXPECT_EQ(spaces.spacesOfWindow(window.number), std::set<int64_t>{desktops[1]});

  sim.setDesktopGroupAvailable(DesktopServer::Group::move, false);
  EXPECT_FALSE(spaces.moveWindows({window.number}, desktops[0]));
}

TEST(SpaceMap, BackgroundBlurClampsTheRadiusAndRefusesNonWindows) {
  ScriptedDesktopServer server;
  SpaceMap spaces(server);
  EXPECT_TRUE(spaces.setBackgroundBlur(-4, 12));
  EXPECT_TRUE(spaces.setBackgroundBlur(30, 12));
  EXPECT_FALSE(spaces.setBackgroundBlur(30, 0));
  EXPECT_FALSE(spaces.setBackgroundBlur(30, int64_t{1} << 32)) << "no window number beyond 32 bits";
  EXPECT_TRUE(spaces.setBackgroundBlur(int64_t{1} << 40, 12));
  EXPECT_EQ(server.blurs, (std::vector<std::pair<uint32_t, int32_t>>{{12, 0}, {12, 30}, {12, 2147483647}}));
  server.unavailable.insert(DesktopServer::Group::blur);
  EXPECT_FALSE(spaces.setBackgroundBlur(30, 12));
  EXPECT_EQ(server.blurs.size(), 3u);

  ManualLoop loop;
  SimDesktop sim(loop);
  SpaceMap simSpaces(sim.desktopServer());
  EXPECT_TRUE(simSpaces.setBackgroundBlur(20, 77));
  EXPECT_EQ(sim.blurRadius(77), 20);
  sim.failDesktopCall(SimDesktopCall::backgroundBlur);
  EXPECT_FALSE(simSpaces.setBackgroundBlur(20, 77)) << "a failing status answers false";
}

}  // namespace
}  // namespace quorvel
