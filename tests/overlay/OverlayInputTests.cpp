#include <gtest/gtest.h>

#include "base/LogCapture.h"
#include "overlay/AxisClaim.h"
#include "overlay/HoverGate.h"
#include "overlay/OverlayTestSupport.h"
#include "overlay/ScrollPhaseSynthesizer.h"

namespace quorvel {
namespace {

using Calls = std::vector<std::string>;
constexpr int64_t kCommand = OverlayModifiers::command;
constexpr int64_t kControl = OverlayModifiers::control;
constexpr int64_t kOption = OverlayModifiers::option;
constexpr int64_t kShift = OverlayModifiers::shift;

class OverlayInputTest : public ::testing::Test {
 protected:
  Calls press(int64_t code, int64_t flags = 0, std::optional<std::string> characters = std::nullopt) {
    rig.delegate.calls.clear();
    rig.view.keyDown({code, flags, std::move(characters), 0});
    return rig.delegate.calls;
  }
  void search() {
    rig.view.beginSearch();
    rig.delegate.calls.clear();
  }
  ContentViewRig rig;
};

TEST_F(OverlayInputTest, KeysThatActWhetherOrNotSearching) {
  rig.configure();
  for (bool searching : {false, true}) {
    if (searching) search();
    EXPECT_EQ(press(36), (Calls{"commit"}));
    EXPECT_EQ(press(76), (Calls{"commit"}));
    EXPECT_EQ(press(48), (Calls{"step 1"}));
    EXPECT_EQ(press(48, kShift), (Calls{"step -1"}));
    EXPECT_EQ(press(123), (Calls{"move 0"}));
    EXPECT_EQ(press(124), (Calls{"move 1"}));
    EXPECT_EQ(press(126), (Calls{"move 2"}));
    EXPECT_EQ(press(125), (Calls{"move 3"}));
    // The key above Tab steps backward (the default shortcut is Alt+Tab), ANSI and ISO.
    EXPECT_EQ(press(50, 0, "`"), (Calls{"step -1"}));
    EXPECT_EQ(press(10, 0, "§"), (Calls{"step -1"}));
  }
}

TEST_F(OverlayInputTest, EscapeLeavesTheSearchFirstThenCancels) {
  rig.view.window = OverlayContentView::WindowFacts{1, 2.0, true, std::nullopt};
  rig.configure();
  search();
  LogCapture log;
  EXPECT_EQ(press(53), (Calls{"searching off"}));
  EXPECT_FALSE(rig.view.searchActive());
  EXPECT_EQ(press(53), (Calls{"cancel"}));
  EXPECT_EQ(log.messages("Dismiss"),
            (std::vector<std::string>{
                "[local] left the search, switcher stays up, key=true appActive=true search=closed",
                "[local] dismissed the switcher, key=true appActive=true search=closed"}));
}

TEST_F(OverlayInputTest, VimKeysMoveOnlyWhenOnNotSearchingAndBare) {
  rig.store.set(AppSettings::Key::vimKeys, true);
  rig.configure();
  EXPECT_EQ(press(4, 0, "h"), (Calls{"move 0"}));
  EXPECT_EQ(press(37, 0, "l"), (Calls{"move 1"}));
  EXPECT_EQ(press(40, 0, "k"), (Calls{"move 2"}));
  EXPECT_EQ(press(38, 0, "j"), (Calls{"move 3"}));
  EXPECT_EQ(press(38, kCommand, "j"), (Calls{}));  // typed, but not searching: nothing
  search();
  EXPECT_EQ(press(38, 0, "j"), (Calls{"insert j"}));
  EXPECT_EQ(press(38, kControl, "j"), (Calls{}));

  rig.store.set(AppSettings::Key::vimKeys, false);
  rig.configure();
  EXPECT_EQ(press(4, 0, "h"), (Calls{}));
}

TEST_F(OverlayInputTest, WindowActionsAndSpace) {
  rig.configure();
  EXPECT_EQ(press(13, 0, "w"), (Calls{"action 0"}));
  EXPECT_EQ(press(46, 0, "m"), (Calls{"action 1"}));
  EXPECT_EQ(press(13, kCommand, "w"), (Calls{}));
  EXPECT_EQ(press(46, kControl, "m"), (Calls{}));
  EXPECT_EQ(press(49, kCommand, " "), (Calls{}));
  EXPECT_EQ(press(51), (Calls{}));   // Delete while not searching
  EXPECT_EQ(press(117), (Calls{}));  // Forward Delete while not searching
  EXPECT_EQ(press(0, 0, "a"), (Calls{}));  // letters do not start a search
  EXPECT_EQ(press(49, 0, " "), (Calls{"searching on"}));
  rig.delegate.calls.clear();
  EXPECT_EQ(press(13, 0, "w"), (Calls{"insert w"}));
  EXPECT_EQ(press(46, 0, "m"), (Calls{"insert m"}));
  EXPECT_EQ(press(49, kCommand, " "), (Calls{"insert  "}));  // Space while searching, whatever held
  EXPECT_EQ(press(51), (Calls{"deleteBackward"}));
  EXPECT_EQ(press(117), (Calls{"deleteForward"}));

  rig.store.set(AppSettings::Key::searchEnabled, false);
  rig.configure();
  EXPECT_EQ(press(49, 0, " "), (Calls{}));
}

// The shortcut's own modifiers, still held while the switcher is up, are no "mod": with the
// shortcut on Ctrl+Alt+K, Space with Ctrl+Alt starts the search and letters go into it; a modifier
// beyond the shortcut's still is one.
TEST_F(OverlayInputTest, TheShortcutsModifiersHeldAreNoModifierOfTheirOwn) {
  rig.store.set(AppSettings::Key::hotkeyBinding1, HotkeyBinding{40, HotkeyBinding::controlFlag | HotkeyBinding::optionFlag}.storedValue());
  rig.configure();
  EXPECT_EQ(press(49, kCommand | kOption, " "), (Calls{}));
  EXPECT_EQ(press(49, kControl | kOption, " "), (Calls{"searching on"}));
  rig.delegate.calls.clear();
  EXPECT_EQ(press(6, kControl | kOption, "z"), (Calls{"insert z"}));
  EXPECT_EQ(press(6, kControl | kCommand, "z"), (Calls{}));
}

TEST_F(OverlayInputTest, TypedTextFilter) {
  rig.configure();
  search();
  EXPECT_EQ(press(14, kOption, "é"), (Calls{"insert é"}));  // an accented letter (Option held)
  EXPECT_EQ(press(122, 0, "\xEF\x9C\x84"), (Calls{}));       // F1: U+F704, the function-key range
  EXPECT_EQ(press(115, 0, "\xEF\x9C\xA9"), (Calls{}));       // Home: U+F729
  EXPECT_EQ(press(0, 0, std::string(1, '\x01')), (Calls{}));  // a control character
  EXPECT_EQ(press(0, 0, std::nullopt), (Calls{}));
  EXPECT_EQ(press(0, 0, ""), (Calls{}));
  EXPECT_EQ(press(0, 0, "\xF0\x9F\x91\x8D"), (Calls{"insert \xF0\x9F\x91\x8D"}));
}

TEST_F(OverlayInputTest, KeyAboveTabTypesWhenItDoesNotStepBackward) {
  rig.store.set(AppSettings::Key::graveCyclesBackward, false);
  rig.configure();
  EXPECT_EQ(press(50, 0, "`"), (Calls{}));
  search();
  EXPECT_EQ(press(50, 0, "`"), (Calls{"insert `"}));
}

TEST_F(OverlayInputTest, CancelBindingAllowsExtraShiftOnly) {
  rig.settings.setCancelBinding(HotkeyBinding{5, kControl});  // Control-G
  rig.configure();
  ASSERT_TRUE(rig.view.cancelBinding().has_value());
  EXPECT_EQ(press(5, kControl, "g"), (Calls{"cancel"}));
  EXPECT_EQ(press(5, kControl | kShift, "G"), (Calls{"cancel"}));
  EXPECT_EQ(press(5, kControl | kOption, "g"), (Calls{}));
  EXPECT_EQ(press(5, 0, "g"), (Calls{}));
  search();
  EXPECT_EQ(press(5, kControl, "g"), (Calls{"searching off"}));
}

TEST(AxisClaimTest, ClaimsOnceTravelIsEnoughAndHandsOnTheWholeSum) {
  AxisClaim claim = AxisClaim::reset(6);
  EXPECT_FALSE(claim.feed(3, 2).has_value());  // 3.6 points
  const auto second = claim.feed(2, 2);
  ASSERT_TRUE(second.has_value());
  EXPECT_EQ(second->first, GestureAxis::sideways);
  EXPECT_EQ(second->second, 5);
  EXPECT_EQ(claim.feed(1, 9)->second, 1);  // claimed: the sideways component only
  AxisClaim tie = AxisClaim::reset(0);
  EXPECT_EQ(tie.feed(4, -4)->first, GestureAxis::sideways);
  AxisClaim broken = AxisClaim::reset(6);
  EXPECT_FALSE(broken.feed(NAN, 100).has_value());
  EXPECT_EQ(broken, AxisClaim::reset(6));
}

class OverlayScrollTest : public OverlayInputTest {
 protected:
  void scroll(double dx, double dy, uint32_t phase, double time, uint32_t momentum = ScrollPhase::none) {
    rig.view.scrollWheel({time, dx, dy, 0, 0, phase, momentum});
  }
};

TEST_F(OverlayScrollTest, WheelWithoutPhasesClaimsPerEventAndEndsEachStep) {
  rig.configure();
  scroll(0, 20, ScrollPhase::none, 1.0);
  EXPECT_EQ(rig.delegate.calls, (Calls{"flip 0.1", "endFlip 0"}));
  rig.delegate.calls.clear();
  scroll(-40, 10, ScrollPhase::none, 1.1);
  EXPECT_EQ(rig.delegate.calls, (Calls{"scroll -0.2", "endScroll 0"}));

  rig.store.set(AppSettings::Key::flipStacksBySwiping, false);
  rig.configure();
  scroll(0, 20, ScrollPhase::none, 2.0);
  EXPECT_EQ(rig.delegate.calls, (Calls{}));
}

TEST_F(OverlayScrollTest, SpeedAndNaturalDirection) {
  rig.store.set(AppSettings::Key::scrollSpeed, 3.0);  // behaves as 2
  rig.configure();
  scroll(100, 0, ScrollPhase::none, 1.0);
  EXPECT_EQ(rig.delegate.calls.front(), "scroll 1");
  rig.delegate.calls.clear();
  rig.store.set(AppSettings::Key::scrollSpeed, 0.0);  // behaves as 1
  rig.store.set(AppSettings::Key::scrollDirectionNatural, true);
  scroll(100, 0, ScrollPhase::none, 1.1);
  EXPECT_EQ(rig.delegate.calls.front(), "scroll -0.5");
  // Pointer drags take neither the speed nor the natural direction.
  rig.delegate.calls.clear();
  rig.view.mouseDown({{500, 500}, 0, 0, 2.0});
  rig.view.mouseDragged({{400, 500}, -100, 0, 2.01});
  EXPECT_EQ(rig.delegate.calls, (Calls{"scroll 0.5"}));
}

TEST_F(OverlayScrollTest, TrackpadGestureFlicksOnceWithTheMeasuredVelocity) {
  rig.configure();
  scroll(10, 0, ScrollPhase::began, 1.00);
  scroll(20, 0, ScrollPhase::changed, 1.02);
  scroll(20, 0, ScrollPhase::changed, 1.04);
  scroll(0, 0, ScrollPhase::ended, 1.05);
  scroll(30, 0, ScrollPhase::none, 1.06, ScrollPhase::began);  // momentum after the end: no second release
  scroll(30, 0, ScrollPhase::none, 1.07, ScrollPhase::changed);
  // Samples 0.05, 0.1, 0.1 steps: (0.1 + 0.1) / 0.04 s.
  EXPECT_EQ(rig.delegate.calls, (Calls{"scroll 0.05", "scroll 0.1", "scroll 0.1", "endScroll 5"}));
}

TEST_F(OverlayScrollTest, FlickVelocityEdgeCases) {
  rig.configure();
  // The finger rested 0.1 s before lifting: no flick.
  scroll(10, 0, ScrollPhase::began, 1.0);
  scroll(20, 0, ScrollPhase::changed, 1.02);
  scroll(0, 0, ScrollPhase::ended, 1.12);
  EXPECT_EQ(rig.delegate.calls.back(), "endScroll 0");
  // A burst within 0.0001 s gives 0.
  scroll(10, 0, ScrollPhase::began, 2.0);
  scroll(20, 0, ScrollPhase::changed, 2.00005);
  scroll(0, 0, ScrollPhase::ended, 2.00006);
  EXPECT_EQ(rig.delegate.calls.back(), "endScroll 0");
  // Fast swipes are capped at 30 steps a second.
  scroll(10, 0, ScrollPhase::began, 3.0);
  scroll(2000, 0, ScrollPhase::changed, 3.01);
  scroll(0, 0, ScrollPhase::ended, 3.01);
  EXPECT_EQ(rig.delegate.calls.back(), "endScroll 30");
  scroll(-10, 0, ScrollPhase::began, 4.0);
  scroll(-2000, 0, ScrollPhase::changed, 4.01);
  scroll(0, 0, ScrollPhase::cancelled, 4.01);
  EXPECT_EQ(rig.delegate.calls.back(), "endScroll -30");
}

TEST_F(OverlayScrollTest, ClickAndDragThresholds) {
  rig.configure();
  rig.view.mouseDown({{100, 100}, 0, 0, 1.0});
  rig.view.mouseUp({{103, 100}, 0, 0, 1.1});
  EXPECT_EQ(rig.delegate.calls, (Calls{"click 103,100"}));
  rig.delegate.calls.clear();
  rig.view.mouseDown({{100, 100}, 0, 0, 2.0});
  rig.view.mouseDragged({{105, 100}, 5, 0, 2.01});  // below the 6-point claim: no step
  rig.view.mouseUp({{105, 100}, 0, 0, 2.02});
  EXPECT_EQ(rig.delegate.calls, (Calls{"endScroll 0"}));  // a drag flick, not a click

  // Middle clicks only when the setting is on.
  rig.delegate.calls.clear();
  rig.view.otherMouseDown({{10, 10}, 0, 0, 3, 2});
  rig.view.otherMouseUp({{11, 10}, 0, 0, 3.1, 2});
  EXPECT_EQ(rig.delegate.calls, (Calls{}));
  rig.store.set(AppSettings::Key::middleClickCloses, true);
  rig.configure();
  rig.view.otherMouseDown({{10, 10}, 0, 0, 3, 2});
  rig.view.otherMouseUp({{11, 10}, 0, 0, 3.1, 2});
  rig.view.otherMouseDown({{10, 10}, 0, 0, 4, 2});
  rig.view.otherMouseUp({{20, 10}, 0, 0, 4.1, 2});
  EXPECT_EQ(rig.delegate.calls, (Calls{"middleClick 11,10"}));
}

TEST_F(OverlayScrollTest, APressInTheSearchFieldPlacesTheCaret) {
  rig.configure();
  search();
  rig.view.setSearchText("abcd", 4);
  rig.delegate.calls.clear();
  const Rect field = rig.view.searchCapsule.frame;
  const double textStart = field.x + rig.view.searchCapsule.textClipRect({0, 0, field.width, field.height}).x;
  rig.view.mouseDown({{textStart + 17, field.midY()}, 0, 0, 1.0});
  rig.view.mouseUp({{textStart + 40, field.midY()}, 0, 0, 1.1});
  EXPECT_EQ(rig.delegate.calls, (Calls{"caret 2"}));
}

TEST(HoverGateTest, NeedsTravelAndAModerateSpeed) {
  HoverGate gate = HoverGate::reset(Point{100, 100});
  EXPECT_FALSE(gate.admit(105, 100, 1.0));  // 5 points from the anchor
  EXPECT_TRUE(gate.admit(113, 100, 1.1));   // 13 points at 80 pt/s
  HoverGate fast = HoverGate::reset(Point{0, 0});
  EXPECT_FALSE(fast.admit(0, 0, 1.0));
  EXPECT_FALSE(fast.admit(90, 0, 1.1));  // 900 pt/s
  EXPECT_TRUE(fast.admit(160, 0, 1.2));  // 700 pt/s
  HoverGate unseeded = HoverGate::reset(std::nullopt);
  EXPECT_FALSE(unseeded.admit(50, 50, 1.0));  // the first move only sets the anchor
  EXPECT_TRUE(unseeded.admit(50, 63, 1.0));   // no earlier time: speed is not measured
}

TEST_F(OverlayScrollTest, HoverSelectsOnlyAfterThePointerTravels) {
  rig.view.window = OverlayContentView::WindowFacts{1, 2.0, true, Point{300, 300}};
  rig.configure();
  rig.view.mouseMoved({{305, 300}, 0, 0, 1.0});
  EXPECT_EQ(rig.delegate.calls, (Calls{}));
  rig.view.mouseMoved({{313, 300}, 0, 0, 1.1});
  EXPECT_EQ(rig.delegate.calls, (Calls{"hoverSelect 313,300"}));
  EXPECT_EQ(rig.view.hoverGate().travel, 10);
  rig.view.mouseMoved({{320, 300}, 0, 0, 1.2});  // 7 points from the new anchor
  EXPECT_EQ(rig.delegate.calls.size(), 1u);
  rig.store.set(AppSettings::Key::hoverSelects, false);
  rig.configure();
  rig.view.mouseMoved({{600, 300}, 0, 0, 5});
  rig.view.mouseMoved({{700, 300}, 0, 0, 6});
  EXPECT_EQ(rig.delegate.calls, (Calls{}));
}

TEST_F(OverlayScrollTest, DragToSwitchFollowsTheSetting) {
  rig.configure();
  EXPECT_TRUE(rig.view.acceptsDrags());
  EXPECT_TRUE(rig.view.draggingEntered({10, 10}));
  rig.delegate.dragAnswer = false;
  EXPECT_FALSE(rig.view.draggingUpdated({20, 20}));
  EXPECT_FALSE(rig.view.performDragOperation({20, 20}));  // never transfers anything
  rig.view.draggingEnded();
  EXPECT_EQ(rig.delegate.calls, (Calls{"dragEntered", "dragUpdate", "dragUpdate", "drop", "dragExited"}));

  rig.store.set(AppSettings::Key::dragToSwitch, false);
  rig.configure();
  EXPECT_FALSE(rig.view.acceptsDrags());
  EXPECT_FALSE(rig.view.draggingEntered({10, 10}));
  EXPECT_FALSE(rig.view.performDragOperation({10, 10}));
  EXPECT_EQ(rig.delegate.calls, (Calls{}));
}

}  // namespace
}  // namespace quorvel

namespace quorvel {
namespace {

// Bare scrolls (X11) through the phase synthesizer into the content view.
class SynthesizedScrollTest : public ::testing::Test {
 protected:
  void bare(double dx, double time) { synth.feed({time, dx, 0, 0, 0, ScrollPhase::none, ScrollPhase::none}); }
  ContentViewRig rig;
  std::vector<uint32_t> phases;
  ScrollPhaseSynthesizer synth{rig.loop.main(), [this](const OverlayScrollEvent& e) {
                                 phases.push_back(e.phase);
                                 rig.view.scrollWheel(e);
                               }};
};

TEST_F(SynthesizedScrollTest, ASwipeOfBareScrollsBeginsEndsAndStillFlicks) {
  rig.configure();
  // Event timestamps follow the loop's clock, as the backend stamps them.
  const double t0 = toSeconds(rig.now());
  bare(10, t0);
  rig.loop.advance(fromSeconds(0.02));
  bare(20, t0 + 0.02);
  rig.loop.advance(fromSeconds(0.02));
  bare(20, t0 + 0.04);
  EXPECT_EQ(phases, (std::vector<uint32_t>{ScrollPhase::began, ScrollPhase::changed, ScrollPhase::changed}));
  rig.loop.advance(fromSeconds(0.099));
  EXPECT_TRUE(synth.gestureOpen());
  rig.loop.advance(fromSeconds(0.002));
  EXPECT_FALSE(synth.gestureOpen());
  EXPECT_EQ(phases.back(), ScrollPhase::ended);
  // Measured at the last event: (0.1 + 0.1) / 0.04 s, not 0 for the 100 ms wait.
  EXPECT_EQ(rig.delegate.calls.back(), "endScroll 5");
}

TEST_F(SynthesizedScrollTest, SilenceStartsANewGestureAndResetDropsTheEnding) {
  rig.configure();
  const double t0 = toSeconds(rig.now());
  bare(30, t0);
  rig.loop.advance(fromSeconds(0.2));
  bare(30, t0 + 0.2);
  EXPECT_EQ(phases, (std::vector<uint32_t>{ScrollPhase::began, ScrollPhase::ended, ScrollPhase::began}));
  synth.reset();
  rig.loop.advance(fromSeconds(1));
  EXPECT_EQ(phases.size(), 3u);
  // Phased and momentum events pass through as they are.
  synth.feed({t0 + 2, 1, 0, 0, 0, ScrollPhase::changed, ScrollPhase::none});
  EXPECT_EQ(phases.back(), ScrollPhase::changed);
}

}  // namespace
}  // namespace quorvel
