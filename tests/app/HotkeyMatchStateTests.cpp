#include <gtest/gtest.h>

#include "app/HotkeyMatchState.h"

namespace quorvel {
namespace {

using Scope = AppSettings::HotkeyScope;
constexpr uint64_t kOption = KeyFlags::option;
constexpr uint64_t kShift = KeyFlags::shift;
constexpr uint64_t kControl = KeyFlags::control;
constexpr uint64_t kCommand = KeyFlags::command;
constexpr int64_t kTab = 48, kGrave = 50, kSection = 10, kEscape = 53, kQ = 12, kF13 = 105;

HotkeyMatchState optionTab(bool grave = true) {
  HotkeyMatchState s;
  s.entries = {HotkeyMatchEntry::from({kTab, HotkeyBinding::optionFlag}, Scope::allWindows)};
  s.graveCyclesBackward = grave;
  return s;
}

TEST(HotkeyMatchEntry, ForbidsTheShortcutModifiersItDoesNotHold) {
  const auto e = HotkeyMatchEntry::from({kTab, HotkeyBinding::optionFlag | HotkeyBinding::shiftFlag}, Scope::activeApp);
  EXPECT_EQ(e.requiredFlags, kOption);
  EXPECT_EQ(e.forbiddenFlags, kControl | kCommand);
  EXPECT_EQ(e.scope, Scope::activeApp);
}

TEST(HotkeyMatchState, SummonShortcutPressesAndArms) {
  struct Case {
    int64_t key;
    uint64_t flags;
    TapKeyDecision expected;
  };
  const Case cases[] = {
      {kTab, kOption, TapKeyDecision::pressOf(1, HotkeyPress::shortcut, Scope::allWindows)},
      {kTab, kOption | kShift, TapKeyDecision::pressOf(-1, HotkeyPress::shortcut, Scope::allWindows)},
      {kTab, kOption | KeyFlags::capsLock | KeyFlags::function,
       TapKeyDecision::pressOf(1, HotkeyPress::shortcut, Scope::allWindows)},
      {kTab, kOption | kControl, TapKeyDecision::pass()},
      {kTab, kOption | kCommand, TapKeyDecision::pass()},
      {kTab, 0, TapKeyDecision::pass()},
      {kTab, kShift, TapKeyDecision::pass()},
      {kQ, kOption, TapKeyDecision::pass()},
      {kGrave, kOption, TapKeyDecision::pressOf(-1, HotkeyPress::backward, Scope::allWindows)},
      {kGrave, kOption | kShift, TapKeyDecision::pressOf(-1, HotkeyPress::backward, Scope::allWindows)},
      {kSection, kOption, TapKeyDecision::pressOf(-1, HotkeyPress::backward, Scope::allWindows)},
      {kGrave, 0, TapKeyDecision::pass()},
  };
  for (const auto& c : cases) {
    auto s = optionTab();
    const auto d = s.matchKeyDown(c.key, c.flags);
    EXPECT_EQ(d, c.expected) << "key " << c.key << " flags " << std::hex << c.flags;
    if (d.kind == TapKeyDecision::Kind::press) {
      EXPECT_EQ(s.armedFlags, kOption);
    } else {
      EXPECT_FALSE(s.armedFlags);
    }
  }
}

TEST(HotkeyMatchState, KeyAboveTabStepsBackwardOnlyForTabBindingsWithTheSettingOn) {
  auto off = optionTab(false);
  EXPECT_EQ(off.matchKeyDown(kGrave, kOption), TapKeyDecision::pass());

  HotkeyMatchState notTab;
  notTab.entries = {HotkeyMatchEntry::from({kQ, HotkeyBinding::commandFlag}, Scope::allWindows)};
  notTab.graveCyclesBackward = true;
  EXPECT_EQ(notTab.matchKeyDown(kGrave, kCommand), TapKeyDecision::pass());

  // Binding 1 on Alt+Tab wins the key above Tab even when binding 2 is bound to that very key.
  auto both = optionTab();
  both.entries.push_back(HotkeyMatchEntry::from({kGrave, HotkeyBinding::optionFlag}, Scope::activeApp));
  EXPECT_EQ(both.matchKeyDown(kGrave, kOption), TapKeyDecision::pressOf(-1, HotkeyPress::backward, Scope::allWindows));
  both.graveCyclesBackward = false;
  EXPECT_EQ(both.matchKeyDown(kGrave, kOption), TapKeyDecision::pressOf(1, HotkeyPress::shortcut, Scope::activeApp));
}

TEST(HotkeyMatchState, SecondBindingCarriesItsOwnScope) {
  auto s = optionTab();
  s.entries.push_back(HotkeyMatchEntry::from({kTab, HotkeyBinding::commandFlag}, Scope::activeApp));
  EXPECT_EQ(s.matchKeyDown(kTab, kCommand), TapKeyDecision::pressOf(1, HotkeyPress::shortcut, Scope::activeApp));
  EXPECT_EQ(s.armedFlags, kCommand);
  EXPECT_EQ(s.matchKeyDown(kTab, kCommand | kOption), TapKeyDecision::pass());
}

TEST(HotkeyMatchState, DismissKeysWhileTheOverlayIsUp) {
  auto s = optionTab();
  EXPECT_EQ(s.matchKeyDown(kEscape, 0), TapKeyDecision::pass()) << "overlay down";

  s.overlay = OverlayKeyboardState{true, std::nullopt};
  EXPECT_EQ(s.matchKeyDown(kEscape, 0), TapKeyDecision::dismiss(DismissKeyRoute::localRouteOwnsIt));
  EXPECT_EQ(s.matchKeyDown(kEscape, kShift | KeyFlags::capsLock), TapKeyDecision::dismiss(DismissKeyRoute::localRouteOwnsIt));
  EXPECT_EQ(s.matchKeyDown(kEscape, kCommand), TapKeyDecision::pass());
  s.overlay->holdsKeyboard = false;
  EXPECT_EQ(s.matchKeyDown(kEscape, 0), TapKeyDecision::dismiss(DismissKeyRoute::tapMustHandleIt));

  // A cancel key with Control: Shift may join, another shortcut modifier may not.
  s.overlay->cancel = HotkeyBinding{kQ, HotkeyBinding::controlFlag};
  EXPECT_EQ(s.matchKeyDown(kQ, kControl), TapKeyDecision::dismiss(DismissKeyRoute::tapMustHandleIt));
  EXPECT_EQ(s.matchKeyDown(kQ, kControl | kShift), TapKeyDecision::dismiss(DismissKeyRoute::tapMustHandleIt));
  EXPECT_EQ(s.matchKeyDown(kQ, kControl | kOption), TapKeyDecision::pass());
  EXPECT_EQ(s.matchKeyDown(kQ, 0), TapKeyDecision::pass());

  // A bare cancel key.
  s.overlay->cancel = HotkeyBinding{kF13, 0};
  EXPECT_EQ(s.matchKeyDown(kF13, kShift), TapKeyDecision::dismiss(DismissKeyRoute::tapMustHandleIt));
  EXPECT_EQ(s.matchKeyDown(kF13, kOption), TapKeyDecision::pass());

  // The shortcut still steps while the overlay is up.
  EXPECT_EQ(s.matchKeyDown(kTab, kOption), TapKeyDecision::pressOf(1, HotkeyPress::shortcut, Scope::allWindows));

  // Escape that came while the source held the whole keyboard (before the overlay's window took it,
  // whatever the overlay reports) reached no window: the tap cancels, with the modifiers held too.
  for (const bool overlayUp : {false, true}) {
    auto summoned = optionTab();
    ASSERT_EQ(summoned.matchKeyDown(kTab, kOption).kind, TapKeyDecision::Kind::press);
    if (overlayUp) summoned.overlay = OverlayKeyboardState{true, std::nullopt};
    for (const uint64_t flags : {uint64_t{0}, kOption, kOption | kShift}) {
      EXPECT_EQ(summoned.matchKeyDown(kEscape, flags, true), TapKeyDecision::dismiss(DismissKeyRoute::tapMustHandleIt));
    }
    EXPECT_EQ(summoned.matchKeyDown(kEscape, kOption, false), TapKeyDecision::pass());
  }
}

TEST(HotkeyMatchState, PassThroughRecordingAndNoBindings) {
  auto through = optionTab();
  through.passThroughActive = true;
  EXPECT_EQ(through.matchKeyDown(kTab, kOption), TapKeyDecision::pass());
  through.overlay = OverlayKeyboardState{false, std::nullopt};
  EXPECT_EQ(through.matchKeyDown(kEscape, 0), TapKeyDecision::dismiss(DismissKeyRoute::tapMustHandleIt))
      << "Escape still dismisses an open overlay in a pass-through application";

  auto recording = optionTab();
  recording.isSuspended = true;
  recording.overlay = OverlayKeyboardState{false, std::nullopt};
  EXPECT_EQ(recording.matchKeyDown(kTab, kOption), TapKeyDecision::pass());
  EXPECT_EQ(recording.matchKeyDown(kEscape, 0), TapKeyDecision::pass());
  EXPECT_FALSE(recording.armedFlags);

  HotkeyMatchState none;
  none.graveCyclesBackward = true;
  for (uint64_t flags : {uint64_t{0}, kOption, kCommand, kControl | kShift}) {
    EXPECT_EQ(none.matchKeyDown(kTab, flags), TapKeyDecision::pass());
    EXPECT_EQ(none.matchKeyDown(kGrave, flags), TapKeyDecision::pass());
  }
}

TEST(HotkeyMatchState, ReleaseCountsOnlyTheArmedModifiers) {
  auto s = optionTab();
  ASSERT_EQ(s.matchKeyDown(kTab, kOption | kShift).kind, TapKeyDecision::Kind::press);
  EXPECT_FALSE(s.matchFlags(kOption, 100).released) << "Shift let go, Option still held";
  EXPECT_TRUE(s.matchFlags(0, 100).released);
  EXPECT_FALSE(s.armedFlags);
  EXPECT_FALSE(s.matchFlags(0, 100).released) << "a release is reported once";

  HotkeyMatchState two;
  two.entries = {HotkeyMatchEntry::from({kTab, HotkeyBinding::optionFlag | HotkeyBinding::commandFlag}, Scope::allWindows)};
  ASSERT_EQ(two.matchKeyDown(kTab, kOption | kCommand).kind, TapKeyDecision::Kind::press);
  EXPECT_TRUE(two.matchFlags(kCommand, 100).released) << "dropping either armed modifier releases";
}

TEST(HotkeyMatchState, PrewarmAtMostOnceEveryFiveSecondsWhileTheOverlayIsDown) {
  auto s = optionTab();
  EXPECT_TRUE(s.matchFlags(kOption, 100).prewarm);
  EXPECT_FALSE(s.matchFlags(0, 101).prewarm);
  EXPECT_FALSE(s.matchFlags(kOption, 104.999).prewarm);
  EXPECT_TRUE(s.matchFlags(kOption, 105.0).prewarm) << "after 5.0 s exactly";
  EXPECT_EQ(s.prewarm.lastWarm, 105.0);
  EXPECT_FALSE(s.matchFlags(kOption | kControl, 200).prewarm) << "Control is forbidden";
  EXPECT_TRUE(s.matchFlags(kOption | kShift, 200).prewarm);

  auto up = optionTab();
  up.overlay = OverlayKeyboardState{};
  EXPECT_FALSE(up.matchFlags(kOption, 100).prewarm);
  auto recording = optionTab();
  recording.isSuspended = true;
  EXPECT_FALSE(recording.matchFlags(kOption, 100).prewarm);
  auto through = optionTab();
  through.passThroughActive = true;
  EXPECT_FALSE(through.matchFlags(kOption, 100).prewarm);
  EXPECT_FALSE(through.prewarm.lastWarm) << "a refused pre-warm does not move the gate";
}

TEST(HotkeyMatchState, InterestNamesEveryKeyTheMatchersCanTake) {
  auto s = optionTab();
  s.entries.push_back(HotkeyMatchEntry::from({kTab, HotkeyBinding::optionFlag}, Scope::activeApp));
  EXPECT_EQ(s.interest(), (std::vector<KeyInterest>{{kTab, kOption}, {kSection, kOption}, {kGrave, kOption}}));

  s.graveCyclesBackward = false;
  s.overlay = OverlayKeyboardState{true, HotkeyBinding{kQ, HotkeyBinding::controlFlag}};
  EXPECT_EQ(s.interest(), (std::vector<KeyInterest>{{kTab, kOption}}))
      << "Escape and the cancel key reach the open overlay through its own hold of the keyboard";

  // What the interest leaves out, the matcher passes (but for the open overlay's own keys).
  const auto interest = s.interest();
  for (int64_t key = 0; key < 128; ++key) {
    for (uint64_t flags : {uint64_t{0}, kOption, kControl, kCommand, kOption | kShift, kControl | kShift}) {
      auto copy = s;
      const auto d = copy.matchKeyDown(key, flags);
      if (d.kind != TapKeyDecision::Kind::press) continue;
      const KeyInterest asked{key, flags & KeyFlags::shortcutModifiers};
      EXPECT_NE(std::find(interest.begin(), interest.end(), asked), interest.end())
          << "key " << key << " flags " << std::hex << flags;
    }
  }
}

}  // namespace
}  // namespace quorvel
