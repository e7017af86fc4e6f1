#include "platform/x11/X11DisplayReader.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "RandrMonitor.h"
#include "X11SessionTest.h"
#include "platform/x11/X11Backend.h"
#include "platform/x11/X11Connection.h"

namespace quorvel {
namespace {

std::vector<uint32_t> topStrut(uint32_t height, uint32_t startX, uint32_t endX) {
  return {0, 0, height, 0, 0, 0, 0, 0, startX, endX, 0, 0};
}

TEST(X11DisplayReaderStrutTest, StrutsTrimOnlyTheMonitorsTheyReach) {
  const X11Rect left{0, 0, 1920, 1080}, right{1920, 0, 1280, 1024};
  // A panel across the top of the left monitor only.
  const std::vector<std::vector<uint32_t>> panel{topStrut(30, 0, 1919)};
  EXPECT_EQ(X11DisplayReader::trimByStruts(left, panel, 3200, 1080), (X11Rect{0, 30, 1920, 1050}));
  EXPECT_EQ(X11DisplayReader::trimByStruts(right, panel, 3200, 1080), right);

  // A dock on the right edge of the root (the right monitor), and one at its bottom. The right monitor
  // is shorter than the root; the bottom strut still reaches 56 pixels into it.
  const std::vector<std::vector<uint32_t>> docks{{0, 48, 0, 0, 0, 0, 0, 1023, 0, 0, 0, 0},
                                                 {0, 0, 0, 112, 0, 0, 0, 0, 0, 0, 1920, 3199}};
  EXPECT_EQ(X11DisplayReader::trimByStruts(right, docks, 3200, 1080), (X11Rect{1920, 0, 1232, 968}));
  EXPECT_EQ(X11DisplayReader::trimByStruts(left, docks, 3200, 1080), left);
}

TEST(X11DisplayReaderStrutTest, BrokenStrutsNeverSwallowAMonitor) {
  const X11Rect monitor{0, 0, 1280, 800};
  // Larger than the root, and reversed ranges: the monitor stays usable.
  EXPECT_EQ(X11DisplayReader::trimByStruts(monitor, {topStrut(0xFFFFFFFF, 0, 0xFFFFFFFF)}, 1280, 800), monitor);
  EXPECT_EQ(X11DisplayReader::trimByStruts(monitor, {topStrut(40, 900, 100)}, 1280, 800), monitor);
  // Too short to be a strut at all.
  EXPECT_EQ(X11DisplayReader::trimByStruts(monitor, {{0, 0, 40}}, 1280, 800), monitor);
}

using X11DisplayReaderTest = X11SessionTest;

TEST_F(X11DisplayReaderTest, TheWholeScreenIsOnePrimaryMonitor) {
  const std::vector<X11Monitor> monitors = displays->monitors();
  ASSERT_EQ(monitors.size(), 1u);
  EXPECT_TRUE(monitors[0].isPrimary);
  EXPECT_EQ(monitors[0].frame, (X11Rect{0, 0, 1920, 1080}));
  EXPECT_EQ(monitors[0].visibleFrame, monitors[0].frame);
  EXPECT_FALSE(monitors[0].name.empty());
}

TEST_F(X11DisplayReaderTest, ADockWithAStrutShrinksTheVisibleFrame) {
  const uint32_t dock = launch({"--title", "panel", "--class", "panel,Panel", "--type", "dock", "--geometry",
                                "1920x30+0+0", "--strut-top", "30"});
  ASSERT_NE(dock, 0u);
  EXPECT_TRUE(eventually(dock, [](const X11Window& w) { return w.type == X11Window::Type::dock; }));
  EXPECT_NE(read(dock)->layer, 0);
  const std::vector<X11Monitor> monitors = displays->monitors();
  ASSERT_EQ(monitors.size(), 1u);
  EXPECT_EQ(monitors[0].frame, (X11Rect{0, 0, 1920, 1080}));
  EXPECT_EQ(monitors[0].visibleFrame, (X11Rect{0, 30, 1920, 1050}));
}

// Splits the screen into two RandR monitors, the right one primary: the left one, and windows on it,
// get negative global x coordinates.
TEST_F(X11DisplayReaderTest, MonitorsLeftOfThePrimaryOneHaveNegativeCoordinates) {
  xcb_randr_monitor_info_t leftInfo{x().atom("LEFT-1"), 0, 1, 0, 0, 0, 960, 1080, 250, 280};
  xcb_randr_monitor_info_t rightInfo{x().atom("RIGHT-1"), 1, 1, 0, 960, 0, 960, 1080, 250, 280};
  ASSERT_TRUE(setRandrMonitor(x(), leftInfo));
  ASSERT_TRUE(setRandrMonitor(x(), rightInfo));

  const std::vector<X11Monitor> monitors = displays->monitors();
  const auto named = [&](const std::string& name) -> const X11Monitor* {
    for (const X11Monitor& m : monitors) {
      if (m.name == name) return &m;
    }
    return nullptr;
  };
  const X11Monitor* left = named("LEFT-1");
  const X11Monitor* right = named("RIGHT-1");
  ASSERT_TRUE(left && right);
  EXPECT_EQ(left->frame, (X11Rect{-960, 0, 960, 1080}));
  EXPECT_FALSE(left->isPrimary);
  EXPECT_EQ(right->frame, (X11Rect{0, 0, 960, 1080}));
  EXPECT_TRUE(right->isPrimary);
  EXPECT_EQ(std::count_if(monitors.begin(), monitors.end(), [](const X11Monitor& m) { return m.isPrimary; }), 1);
  EXPECT_EQ(displays->primaryRootFrame(), (X11Rect{960, 0, 960, 1080}));

  const uint32_t id = launch({"--title", "left", "--geometry", "300x200+100+150"});
  ASSERT_NE(id, 0u);
  auto w = read(id);
  ASSERT_TRUE(w);
  EXPECT_EQ(w->frame.x, 100 - 960);
  EXPECT_EQ(w->frame.y, 150);
}


// The backend keeps what docks reserve until the server announces a change of it: a look while
// nothing changes asks only for the monitors, and a strut set, changed or taken away later, a new
// dock and a new monitor all show at the next look.
TEST_F(X11DisplayReaderTest, TheBackendRereadsTheReservedAreaOnlyAfterTheServerAnnouncesAChange) {
  auto connection = X11Connection::open(session->display());
  ASSERT_TRUE(connection);
  X11Connection& own = *connection;
  X11Backend backend(std::move(connection));
  const uint32_t dock = launch({"--title", "panel", "--class", "panel,Panel", "--type", "dock", "--geometry",
                                "1920x30+0+0", "--strut-top", "30"});
  ASSERT_NE(dock, 0u);
  const auto visible = [&] {
    const std::vector<X11Monitor> monitors = backend.monitors();
    return monitors.size() == 1 ? monitors[0].visibleFrame : X11Rect{};
  };
  ASSERT_TRUE(X11Session::waitUntil([&] { return visible() == X11Rect{0, 30, 1920, 1050}; }));

  const uint64_t before = own.roundTripCount();
  for (int i = 0; i < 5; ++i) EXPECT_EQ(visible(), (X11Rect{0, 30, 1920, 1050}));
  EXPECT_LE(own.roundTripCount() - before, 5u) << "one request for the monitors a look, no strut read";
  // A fresh read asks every window for its struts and the window manager for its work area.
  X11DisplayReader fresh(own);
  const uint64_t beforeFresh = own.roundTripCount();
  fresh.monitors();
  EXPECT_GT(own.roundTripCount() - beforeFresh, 1u);

  // The panel grows: announced by a property change on the dock.
  const std::vector<uint32_t> taller{0, 0, 48, 0, 0, 0, 0, 0, 0, 1919, 0, 0};
  xcb_change_property(x().xcb(), XCB_PROP_MODE_REPLACE, dock, x().ewmh()->_NET_WM_STRUT_PARTIAL,
                      XCB_ATOM_CARDINAL, 32, static_cast<uint32_t>(taller.size()), taller.data());
  xcb_flush(x().xcb());
  EXPECT_TRUE(X11Session::waitUntil([&] { return visible() == X11Rect{0, 48, 1920, 1032}; }));

  // A second, taller dock: announced by the client list.
  const uint32_t second = launch({"--title", "bar", "--class", "bar,Bar", "--type", "dock", "--geometry",
                                  "1920x60+0+0", "--strut-top", "60"});
  ASSERT_NE(second, 0u);
  EXPECT_TRUE(X11Session::waitUntil([&] { return visible() == X11Rect{0, 60, 1920, 1020}; }));

  // A monitor set by a client is announced by no event, yet shows at once.
  ASSERT_TRUE(setRandrMonitor(x(), {x().atom("LEFT-1"), 1, 1, 0, 0, 0, 960, 1080, 250, 280}));
  ASSERT_TRUE(setRandrMonitor(x(), {x().atom("RIGHT-1"), 0, 1, 0, 960, 0, 960, 1080, 250, 280}));
  const std::vector<X11Monitor> monitors = backend.monitors();
  for (const char* name : {"LEFT-1", "RIGHT-1"})
    EXPECT_TRUE(std::any_of(monitors.begin(), monitors.end(), [&](const X11Monitor& m) { return m.name == name; }))
        << name;
}

}  // namespace
}  // namespace quorvel
