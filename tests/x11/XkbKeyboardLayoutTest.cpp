#include <gtest/gtest.h>

#include "X11SessionTest.h"
#include "platform/x11/XkbKeyboardLayout.h"
#include "settings/KeyNames.h"

namespace quorvel {
namespace {

using XkbKeyboardLayoutTest = X11SessionTest;

// Key names come from the layout the X server holds, and follow it when the user changes it.
TEST_F(XkbKeyboardLayoutTest, KeyNamesFollowTheServersLayout) {
  ASSERT_TRUE(session->runTool({"setxkbmap", "us"}));
  std::unique_ptr<XkbKeyboardLayout> layout = XkbKeyboardLayout::open(x().xcb());
  ASSERT_TRUE(layout);
  KeyNames names(*layout);
  struct Case {
    int64_t keyCode;
    const char* us;
    const char* german;
  };
  // Virtual key codes of key positions: A, Z, Y, the key above Tab, the key right of 0, Tab, F5.
  const std::vector<Case> cases = {
      {0, "A", "A"}, {6, "Z", "Y"}, {16, "Y", "Z"}, {50, "`", "^"}, {27, "-", "SS"}, {48, "Tab", "Tab"}, {96, "F5", "F5"},
  };
  for (const Case& c : cases) EXPECT_EQ(names.name(c.keyCode), c.us) << c.keyCode;
  ASSERT_TRUE(session->runTool({"setxkbmap", "de"}));
  ASSERT_TRUE(layout->reload());
  for (const Case& c : cases) EXPECT_EQ(names.name(c.keyCode), c.german) << c.keyCode;
  ASSERT_TRUE(session->runTool({"setxkbmap", "us"}));
}

}  // namespace
}  // namespace quorvel
