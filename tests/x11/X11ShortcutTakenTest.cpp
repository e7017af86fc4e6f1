#include <gtest/gtest.h>

#include "X11SessionTest.h"
#include "app/ShortcutAdvice.h"
#include "base/ManualLoop.h"
#include "platform/x11/X11KeySource.h"
#include "settings_ui/ShortcutRecorderModel.h"

namespace quorvel {
namespace {

// The shortcut recorder asks the session's key source whether another client holds a combination,
// as the program does: a combination a test client grabbed first is refused with the advice, and is
// free again once that client lets go; the source's own shortcut is not another program's.
TEST_F(X11SessionTest, TheRecorderRefusesACombinationThatAnotherClientGrabbedFirst) {
  ManualLoop loop;
  std::unique_ptr<X11KeySource> source = X11KeySource::open(loop.main(), session->display());
  ASSERT_TRUE(source);
  ASSERT_TRUE(source->install([](const KeyEvent&) { return KeyVerdict::deliver; }));
  const uint8_t k = 45;  // K on the server's keyboard
  constexpr int64_t kK = 40;
  const uint16_t ctrlAlt = XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_1;
  ASSERT_TRUE(x().check(xcb_grab_key_checked(x().xcb(), 0, x().root(), ctrlAlt, k, XCB_GRAB_MODE_ASYNC,
                                             XCB_GRAB_MODE_ASYNC)));

  ShortcutRecorderModel model(nullptr);
  model.takenAdvice = [&](const HotkeyBinding& b) -> std::optional<AdviceText> {
    if (!source->heldByAnotherProgram({b.keyCode, static_cast<uint64_t>(b.requiredFlags)})) return std::nullopt;
    return ShortcutAdvice::advice("Openbox", "Ctrl+Alt+K");
  };
  std::optional<HotkeyBinding> recorded;
  model.toggle(HotkeyBinding::Role::summon, {}, [&](const HotkeyBinding& b) { recorded = b; });
  const HotkeyBinding ctrlAltK{kK, HotkeyBinding::controlFlag | HotkeyBinding::optionFlag};
  EXPECT_TRUE(model.handleKeyDown(kK, ctrlAltK.requiredFlags | HotkeyBinding::shiftFlag));
  EXPECT_TRUE(model.isRecording());
  EXPECT_EQ(model.message(), ShortcutAdvice::advice("Openbox", "Ctrl+Alt+K"));
  EXPECT_FALSE(recorded);
  // The same key with other modifiers is nobody's: taken.
  EXPECT_TRUE(model.handleKeyDown(kK, HotkeyBinding::controlFlag | HotkeyBinding::commandFlag));
  EXPECT_EQ(recorded, (HotkeyBinding{kK, HotkeyBinding::controlFlag | HotkeyBinding::commandFlag}));

  // Asking leaves nothing behind: the other client can let go and grab again.
  ASSERT_TRUE(x().check(xcb_ungrab_key_checked(x().xcb(), k, x().root(), ctrlAlt)));  // done before asking
  EXPECT_FALSE(source->heldByAnotherProgram({kK, KeyFlags::control | KeyFlags::option}));
  ASSERT_TRUE(x().check(xcb_grab_key_checked(x().xcb(), 0, x().root(), ctrlAlt, k, XCB_GRAB_MODE_ASYNC,
                                             XCB_GRAB_MODE_ASYNC)));
  ASSERT_TRUE(x().check(xcb_ungrab_key_checked(x().xcb(), k, x().root(), ctrlAlt)));
  // The source's own shortcut stays its own when asked about.
  source->setInterest({{kK, KeyFlags::control | KeyFlags::option}});
  EXPECT_TRUE(source->refusedKeys().empty());
  EXPECT_FALSE(source->heldByAnotherProgram({kK, KeyFlags::control | KeyFlags::option}));
  EXPECT_FALSE(x().check(xcb_grab_key_checked(x().xcb(), 0, x().root(), ctrlAlt, k, XCB_GRAB_MODE_ASYNC,
                                              XCB_GRAB_MODE_ASYNC)))
      << "the source still holds its shortcut after being asked";
}

}  // namespace
}  // namespace quorvel
