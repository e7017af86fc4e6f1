#include "platform/x11/X11Connection.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <thread>
#include <vector>

#include "X11SessionTest.h"
#include "platform/x11/X11IdleReader.h"

namespace quorvel {
namespace {

using X11ConnectionTest = X11SessionTest;

TEST(X11ConnectionOpenTest, NoServerMeansNoConnection) {
  EXPECT_EQ(X11Connection::open(":4095"), nullptr);
  EXPECT_EQ(X11Connection::open("not a display"), nullptr);
}

TEST_F(X11ConnectionTest, TheWindowManagerIsFoundThroughItsCheckWindow) {
  EXPECT_EQ(desktops->windowManagerName(), "Openbox");
}

TEST_F(X11ConnectionTest, ErrorsOfRequestsWithoutRepliesAreAbsorbedByThePump) {
  const uint32_t gone = xcb_generate_id(x().xcb());
  xcb_map_window(x().xcb(), gone);  // never created
  const uint32_t value = 1;
  xcb_change_property(x().xcb(), XCB_PROP_MODE_REPLACE, gone, XCB_ATOM_WM_NAME, XCB_ATOM_CARDINAL, 32, 1, &value);
  ASSERT_TRUE(x().sync());

  const uint64_t before = x().absorbedErrorCount();
  size_t errorsHandedOn = 0;
  x().pumpEvents([&](const xcb_generic_event_t& event) { errorsHandedOn += event.response_type == 0; });
  EXPECT_EQ(errorsHandedOn, 0u);
  EXPECT_EQ(x().absorbedErrorCount(), before + 2);
  ASSERT_TRUE(x().lastAbsorbedError());
  EXPECT_EQ(x().lastAbsorbedError()->resource, gone);
  EXPECT_FALSE(x().isBroken());
  // Reads of the missing window answer nothing.
  EXPECT_FALSE(x().property(gone, XCB_ATOM_WM_NAME).has_value());
}

TEST_F(X11ConnectionTest, RootChangesReachThePumpAndServerTimeKeepsThemQueued) {
  x().watchRoot();
  const uint32_t id = launch({"--title", "watched"});
  const uint32_t other = launch({"--title", "in front"});
  ASSERT_TRUE(id && other);
  ASSERT_TRUE(X11Session::waitUntil([&] { return desktops->activeWindow() == other; }));
  x().pumpEvents();  // what happened before

  ASSERT_TRUE(actions->activate(id));
  // The time stamp round trip holds other events back for the pump instead of dropping them.
  ASSERT_TRUE(X11Session::waitUntil([&] { return desktops->activeWindow() == id; }));
  const std::optional<uint32_t> first = x().serverTime();
  ASSERT_TRUE(first);
  EXPECT_NE(*first, 0u);

  bool sawActiveWindow = false;
  X11Session::waitUntil([&] {
    x().pumpEvents([&](const xcb_generic_event_t& event) {
      if ((event.response_type & 0x7f) != XCB_PROPERTY_NOTIFY) return;
      const auto& notify = reinterpret_cast<const xcb_property_notify_event_t&>(event);
      if (notify.window == x().root() && notify.atom == x().ewmh()->_NET_ACTIVE_WINDOW) sawActiveWindow = true;
    });
    return sawActiveWindow;
  });
  EXPECT_TRUE(sawActiveWindow);

  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  const std::optional<uint32_t> second = x().serverTime();
  ASSERT_TRUE(second);
  EXPECT_GT(*second, *first);
}

TEST_F(X11ConnectionTest, ServerTimeOutlivesItsWindowBeingDestroyedByAnotherClient) {
  ASSERT_TRUE(x().serverTime());
  // Any client may destroy any window: another one destroys the window the time stamps come from.
  const uint32_t stamp = x().atom("_QUORVEL_TIME_STAMP");
  auto tree = x().reply(xcb_query_tree_reply, xcb_query_tree(x().xcb(), x().root()));
  ASSERT_TRUE(tree);
  const xcb_window_t* children = xcb_query_tree_children(tree.get());
  std::vector<uint32_t> stamped;
  for (int i = 0; i < xcb_query_tree_children_length(tree.get()); ++i) {
    if (x().property(children[i], stamp)) stamped.push_back(children[i]);
  }
  ASSERT_EQ(stamped.size(), 1u);
  xcb_connection_t* other = xcb_connect(session->display().c_str(), nullptr);
  ASSERT_FALSE(xcb_connection_has_error(other));
  xcb_destroy_window(other, stamped[0]);
  std::free(xcb_get_input_focus_reply(other, xcb_get_input_focus(other), nullptr));
  xcb_disconnect(other);

  // A time comes back only from a stamp that arrived: one waited for on the destroyed window would
  // come back empty.
  for (int call = 0; call < 2; ++call) EXPECT_TRUE(x().serverTime()) << "call " << call;
}

TEST_F(X11ConnectionTest, IdleTimeGrowsWithoutInput) {
  X11IdleReader idle(x());
  const std::optional<double> first = idle.idleSeconds();
  ASSERT_TRUE(first);
  EXPECT_GE(*first, 0.0);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  const std::optional<double> second = idle.idleSeconds();
  ASSERT_TRUE(second);
  EXPECT_GE(*second - *first, 0.2);
}

}  // namespace
}  // namespace quorvel
