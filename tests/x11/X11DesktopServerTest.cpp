#include "platform/x11/X11DesktopServer.h"

#include <gtest/gtest.h>

#include "X11PlatformTest.h"
#include "windows/SpaceMap.h"

namespace quorvel {
namespace {

using X11DesktopServerTest = X11PlatformTest;

bool contains(const std::optional<std::vector<uint32_t>>& list, uint32_t id) {
  return list && std::find(list->begin(), list->end(), id) != list->end();
}

TEST_F(X11DesktopServerTest, OneMainDisplayHoldsEveryDesktopNumberedFromOne) {
  DesktopServer& server = platform->desktopServer();
  EXPECT_TRUE(server.isAvailable(DesktopServer::Group::spaces));
  EXPECT_TRUE(server.isAvailable(DesktopServer::Group::windowList));
  EXPECT_TRUE(server.isAvailable(DesktopServer::Group::move));
  EXPECT_FALSE(server.isAvailable(DesktopServer::Group::blur));
  EXPECT_NE(server.setWindowBackgroundBlur(1, 20), 0);

  auto displays = server.copyManagedDisplaySpaces();
  ASSERT_TRUE(displays);
  ASSERT_EQ(displays->size(), 1u);
  const ManagedDisplaySpaces& main = (*displays)[0];
  EXPECT_EQ(main.displayIdentifier, "Main");
  EXPECT_EQ(main.currentSpaceID, 1);
  ASSERT_EQ(main.spaces.size(), 4u);
  for (int64_t i = 0; i < 4; ++i) {
    EXPECT_EQ(main.spaces[i].id64, i + 1);
    EXPECT_EQ(main.spaces[i].type, 0);
  }

  // Bringing forward a window on the third desktop switches there: desktop id 3 is current.
  const uint32_t away = launch({"--title", "away", "--desktop", "2"});
  ASSERT_NE(away, 0u);
  ASSERT_TRUE(activate(away));
  displays = server.copyManagedDisplaySpaces();
  ASSERT_TRUE(displays);
  EXPECT_EQ((*displays)[0].currentSpaceID, 3);

  // The topology the registry reads numbers them the same way.
  const std::optional<SpaceMap::Topology> topology = SpaceMap(server).topology();
  ASSERT_TRUE(topology);
  EXPECT_EQ(topology->currentSpaceIDs, (std::set<int64_t>{3}));
  EXPECT_EQ(topology->indexBySpaceID.at(1), 1);
  EXPECT_EQ(topology->indexBySpaceID.at(4), 4);
}

TEST_F(X11DesktopServerTest, WindowsAreFoundOnTheirDesktopsAndStickyOnesOnEvery) {
  DesktopServer& server = platform->desktopServer();
  const uint32_t here = launch({"--title", "here"});
  const uint32_t moved = launch({"--title", "moved"});
  const uint32_t sticky = launch({"--title", "sticky"});
  ASSERT_TRUE(here && moved && sticky);

  // The window manager's third desktop (index 2) is desktop id 3.
  ASSERT_TRUE(server.moveWindowsToSpace({moved}, 3));
  ASSERT_TRUE(eventually(moved, [](const X11Window& w) { return w.desktop == 2u; }));
  ASSERT_TRUE(actions->moveToDesktop(sticky, X11WindowActions::kAllDesktops));
  ASSERT_TRUE(eventually(sticky, [](const X11Window& w) { return w.onAllDesktops; }));

  const auto onFirst = server.copyWindowsOnSpace(1, SpaceMap::kAllWindowsOptions);
  const auto onThird = server.copyWindowsOnSpace(3, SpaceMap::kAllWindowsOptions);
  EXPECT_TRUE(contains(onFirst, here));
  EXPECT_FALSE(contains(onFirst, moved));
  EXPECT_TRUE(contains(onFirst, sticky));
  EXPECT_TRUE(contains(onThird, moved));
  EXPECT_TRUE(contains(onThird, sticky));
  EXPECT_FALSE(contains(onThird, here));
  // Ids that name no desktop hold no windows, not even sticky ones.
  EXPECT_EQ(server.copyWindowsOnSpace(0, 7), std::vector<uint32_t>{});
  EXPECT_EQ(server.copyWindowsOnSpace(5, 7), std::vector<uint32_t>{});

  EXPECT_EQ(server.copySpacesForWindows({moved}, 7), (std::vector<int64_t>{3}));
  EXPECT_EQ(server.copySpacesForWindows({sticky}, 7), (std::vector<int64_t>{1, 2, 3, 4}));
  EXPECT_EQ(server.copySpacesForWindows({here, moved}, 7), (std::vector<int64_t>{1, 3}));
  EXPECT_EQ(server.copySpacesForWindows({0x7777777u}, 7), std::vector<int64_t>{});
  EXPECT_EQ(server.copySpacesForWindows({}, 7), std::vector<int64_t>{});

  // The snapshot a refresh pass takes places each window by the same facts.
  const auto snapshot = SpaceMap(server).snapshot({here, moved, sticky});
  ASSERT_TRUE(snapshot);
  EXPECT_EQ(snapshot->spacesByWindow.at(here), (std::set<int64_t>{1}));
  EXPECT_EQ(snapshot->spacesByWindow.at(moved), (std::set<int64_t>{3}));
  EXPECT_EQ(snapshot->spacesByWindow.at(sticky), (std::set<int64_t>{1, 2, 3, 4}));
  EXPECT_EQ(snapshot->indexBySpaceID.at(3), 3);
}

TEST_F(X11DesktopServerTest, MovesToDesktopsThatDoNotExistAreRefused) {
  DesktopServer& server = platform->desktopServer();
  const uint32_t id = launch({"--title", "mover"});
  ASSERT_NE(id, 0u);
  EXPECT_FALSE(server.moveWindowsToSpace({id}, 0));
  EXPECT_FALSE(server.moveWindowsToSpace({id}, 5));
  EXPECT_FALSE(server.moveWindowsToSpace({}, 2));
  EXPECT_FALSE(server.moveWindowsToSpace({id}, int64_t{1} << 40));
  EXPECT_EQ(read(id)->desktop, 0u);

  // A list with a window that is gone moves the rest and reports that not all were asked.
  pid_t pid = 0;
  const uint32_t gone = launch({"--title", "gone"}, &pid);
  ASSERT_TRUE(actions->close(gone));
  ASSERT_TRUE(session->waitForExit(pid, std::chrono::milliseconds(5000)));
  EXPECT_FALSE(server.moveWindowsToSpace({gone, id}, 2));
  EXPECT_TRUE(eventually(id, [](const X11Window& w) { return w.desktop == 1u; }));
}

}  // namespace
}  // namespace quorvel
