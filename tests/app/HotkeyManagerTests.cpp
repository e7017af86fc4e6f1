#include <gtest/gtest.h>

#include "HotkeyFixture.h"
#include "app/ShortcutAdvice.h"

namespace quorvel {
namespace {

using Calls = std::vector<std::string>;

class HotkeyManagerTest : public HotkeyFixture {};

TEST_F(HotkeyManagerTest, SummonStepBackwardAndReleaseReachTheMainQueueInOrder) {
  start();
  ASSERT_TRUE(manager->isInstalled());
  EXPECT_TRUE(logs.contains("Shortcut event tap installed on its own thread"));

  keys.flagsChanged(kOption);  // Option down, overlay down: the pre-warm
  EXPECT_EQ(keys.keyDown(kTab, kOption), KeyVerdict::swallow);
  EXPECT_EQ(keys.keyDown(kTab, kOption), KeyVerdict::swallow);
  keys.flagsChanged(kOption | kShift);
  EXPECT_EQ(keys.keyDown(kTab, kOption | kShift), KeyVerdict::swallow);
  EXPECT_EQ(keys.keyDown(kGrave, kOption), KeyVerdict::swallow);
  keys.flagsChanged(kOption);  // Shift let go: not a release
  keys.flagsChanged(0);
  EXPECT_TRUE(calls.empty()) << "nothing runs until the main queue does";
  EXPECT_EQ(takeCalls(), (Calls{"prewarm", "summon +1 shortcut allWindows", "summon +1 shortcut allWindows",
                                "summon -1 shortcut allWindows", "summon -1 backward allWindows", "release"}));
  EXPECT_TRUE(keys.delivered().empty()) << "every press was swallowed";

  EXPECT_EQ(keys.keyDown(kF, kOption), KeyVerdict::deliver);
  EXPECT_EQ(keys.keyDown(kTab, kOption | kControl), KeyVerdict::deliver);
  EXPECT_EQ(keys.keyDown(kTab, 0), KeyVerdict::deliver);
  EXPECT_EQ(takeCalls(), Calls{});
  EXPECT_EQ(keys.delivered().size(), 3u);
}

TEST_F(HotkeyManagerTest, FollowsTheSettings) {
  store.set(AppSettings::Key::hotkeyScope1, "activeApp");
  store.set(AppSettings::Key::hotkeyBinding2, HotkeyBinding{kQ, HotkeyBinding::commandFlag}.storedValue());
  start();
  ASSERT_EQ(manager->activeEntries().size(), 2u);
  keys.keyDown(kTab, kOption);
  keys.keyDown(kQ, kCommand);
  EXPECT_EQ(takeCalls(), (Calls{"summon +1 shortcut activeApp", "summon +1 shortcut allWindows"}));

  // An unrelated change leaves the armed shortcut armed.
  keys.keyDown(kTab, kOption);
  store.set(AppSettings::Key::switcherStyle, "row");
  run();
  keys.flagsChanged(0);
  EXPECT_EQ(takeCalls(), (Calls{"summon +1 shortcut activeApp", "release"}));

  // New bindings disarm it and take effect at the tap's next event.
  keys.keyDown(kTab, kOption);
  store.set(AppSettings::Key::hotkeyBinding1, HotkeyBinding{kTab, HotkeyBinding::commandFlag}.storedValue());
  run();
  keys.flagsChanged(0);
  EXPECT_EQ(keys.keyDown(kTab, kOption), KeyVerdict::deliver);
  EXPECT_EQ(keys.keyDown(kTab, kCommand), KeyVerdict::swallow);
  EXPECT_EQ(takeCalls(), (Calls{"summon +1 shortcut activeApp", "summon +1 shortcut activeApp"}));
  EXPECT_EQ(keys.interest(), (std::vector<KeyInterest>{{kTab, kCommand}, {10, kCommand}, {kGrave, kCommand}, {kQ, kCommand}}));

  // A binding without Control, Option or Command is no shortcut; with none left, nothing is taken.
  store.set(AppSettings::Key::hotkeyBinding1, nlohmann::json{{"keyCode", kTab}, {"flags", kShift}});
  store.set(AppSettings::Key::hotkeyBinding2, nlohmann::json::object());
  run();
  EXPECT_TRUE(manager->activeEntries().empty());
  for (uint64_t flags : {uint64_t{0}, kOption, kCommand, kControl}) EXPECT_EQ(keys.keyDown(kTab, flags), KeyVerdict::deliver);
  EXPECT_EQ(takeCalls(), Calls{});
}

TEST_F(HotkeyManagerTest, PassThroughApplicationsGetTheShortcut) {
  start();
  workspace.activateApp("x11.org.remmina.remmina");
  EXPECT_TRUE(manager->passThroughActive());
  EXPECT_EQ(logs.count("Shortcut passes through to x11.org.remmina.remmina"), 1u);
  workspace.activateApp("x11.org.remmina.other");
  EXPECT_EQ(logs.messages("HotkeyManager").size(), 2u) << "installed + one pass-through line";

  EXPECT_EQ(keys.keyDown(kTab, kOption), KeyVerdict::deliver);
  EXPECT_TRUE(takeCalls().empty());
  keys.flagsChanged(kOption);
  EXPECT_TRUE(takeCalls().empty()) << "no pre-warm for a pass-through application";

  manager->reportKeyboardState(OverlayKeyboardState{false, std::nullopt});
  EXPECT_EQ(keys.keyDown(kEscape, 0), KeyVerdict::swallow) << "Escape still dismisses the overlay";
  EXPECT_EQ(takeCalls(), Calls{"dismiss 2"});
  manager->reportKeyboardState(std::nullopt);

  workspace.activateApp("x11.remote-viewer.helper");  // exact entries match only themselves
  EXPECT_FALSE(manager->passThroughActive());
  workspace.activateApp("x11.remote-viewer");
  EXPECT_TRUE(manager->passThroughActive());
  workspace.activateApp(std::nullopt);
  EXPECT_FALSE(manager->passThroughActive());
  EXPECT_EQ(keys.keyDown(kTab, kOption), KeyVerdict::swallow);

  // A list changed in the settings applies at once to the front application.
  workspace.activateApp("org.example.Viewer");
  store.set(AppSettings::Key::passThroughBundleIDs, nlohmann::json::array({"org.example."}));
  run();
  EXPECT_TRUE(manager->passThroughActive());
  EXPECT_EQ(keys.keyDown(kTab, kOption), KeyVerdict::deliver);
}

TEST_F(HotkeyManagerTest, RefusedInstallIsLoggedOnceAndRetriedEveryThreeSeconds) {
  keys.setRefusing(true);
  start();
  EXPECT_FALSE(manager->isInstalled());
  EXPECT_TRUE(manager->isRetryScheduled());
  EXPECT_EQ(keys.keyDown(kTab, kOption), KeyVerdict::deliver);
  EXPECT_EQ(keys.installAttempts(), 1);

  loop.advance(std::chrono::milliseconds(2999));
  EXPECT_EQ(keys.installAttempts(), 1);
  loop.advance(std::chrono::milliseconds(1));
  EXPECT_EQ(keys.installAttempts(), 2);
  loop.advance(std::chrono::seconds(3));
  EXPECT_EQ(keys.installAttempts(), 3);
  EXPECT_EQ(loop.pendingTimers(), 1u) << "a pending retry never doubles";
  EXPECT_EQ(logs.count("The shortcut could not be set up yet (the keyboard could not be read), retrying"), 1u);

  // Settings changed while refused are in place once the tap runs.
  store.set(AppSettings::Key::hotkeyBinding1, HotkeyBinding{kTab, HotkeyBinding::commandFlag}.storedValue());
  manager->reportKeyboardState(OverlayKeyboardState{true, std::nullopt});
  keys.setRefusing(false);
  loop.advance(std::chrono::seconds(3));
  EXPECT_TRUE(manager->isInstalled());
  EXPECT_FALSE(manager->isRetryScheduled());
  EXPECT_EQ(loop.pendingTimers(), 0u);
  EXPECT_EQ(keys.keyDown(kTab, kCommand), KeyVerdict::swallow);
  EXPECT_EQ(keys.keyDown(kEscape, 0), KeyVerdict::deliver);
  EXPECT_EQ(takeCalls(), (Calls{"summon +1 shortcut allWindows", "dismiss 1"}));
  EXPECT_EQ(logs.count("The shortcut could not be set up yet (the keyboard could not be read), retrying"), 1u);
}

TEST_F(HotkeyManagerTest, DisabledTapIsTurnedBackOn) {
  start();
  EXPECT_TRUE(keys.disable(KeyEvent::Type::disabledByTimeout));
  EXPECT_TRUE(logs.contains("Event tap disabled (4294967294), re-enabling"));
  EXPECT_TRUE(keys.disable(KeyEvent::Type::disabledByUserInput));
  EXPECT_TRUE(logs.contains("Event tap disabled (4294967295), re-enabling"));
  EXPECT_EQ(keys.keyDown(kTab, kOption), KeyVerdict::swallow);
}

TEST_F(HotkeyManagerTest, DismissKeysFollowTheOverlaysKeyboardState) {
  start();
  EXPECT_EQ(keys.keyDown(kEscape, 0), KeyVerdict::deliver);
  const int updates = keys.interestUpdates();
  manager->reportKeyboardState(OverlayKeyboardState{true, HotkeyBinding{kQ, HotkeyBinding::controlFlag}});
  EXPECT_EQ(keys.interestUpdates(), updates + 1);
  manager->reportKeyboardState(OverlayKeyboardState{true, HotkeyBinding{kQ, HotkeyBinding::controlFlag}});
  EXPECT_EQ(keys.interestUpdates(), updates + 1) << "the same state twice changes nothing";
  const auto interest = keys.interest();
  EXPECT_EQ(std::find(interest.begin(), interest.end(), KeyInterest{kEscape, 0}), interest.end())
      << "no passive grab of Escape: the overlay holds the whole keyboard";

  EXPECT_EQ(keys.keyDown(kEscape, 0), KeyVerdict::deliver);
  EXPECT_EQ(keys.keyDown(kQ, kControl | kShift), KeyVerdict::deliver);
  manager->reportKeyboardState(OverlayKeyboardState{false, HotkeyBinding{kQ, HotkeyBinding::controlFlag}});
  EXPECT_EQ(keys.keyDown(kEscape, kShift), KeyVerdict::swallow);
  EXPECT_EQ(keys.keyDown(kEscape, kCommand), KeyVerdict::deliver);
  EXPECT_EQ(keys.keyDown(kQ, kControl), KeyVerdict::swallow);
  EXPECT_EQ(takeCalls(), (Calls{"dismiss 1", "dismiss 1", "dismiss 2", "dismiss 2"}));

  manager->reportKeyboardState(std::nullopt);
  EXPECT_EQ(keys.keyDown(kEscape, 0), KeyVerdict::deliver);
  EXPECT_EQ(takeCalls(), Calls{});
  EXPECT_EQ(keys.interest(), (std::vector<KeyInterest>{{kTab, kOption}, {10, kOption}, {kGrave, kOption}}));
}

TEST_F(HotkeyManagerTest, PrewarmGateRunsOnTheVirtualClock) {
  start();
  keys.flagsChanged(kOption);
  keys.flagsChanged(0);
  keys.flagsChanged(kOption);
  EXPECT_EQ(takeCalls(), Calls{"prewarm"});
  loop.advance(std::chrono::milliseconds(4999));
  keys.flagsChanged(kOption);
  EXPECT_EQ(takeCalls(), Calls{});
  loop.advance(std::chrono::milliseconds(1));
  keys.flagsChanged(kOption);
  EXPECT_EQ(takeCalls(), Calls{"prewarm"});

  manager->reportKeyboardState(OverlayKeyboardState{true, std::nullopt});
  loop.advance(std::chrono::seconds(10));
  keys.flagsChanged(kOption);
  EXPECT_EQ(takeCalls(), Calls{}) << "no pre-warm while the overlay is up";
}

TEST_F(HotkeyManagerTest, RecorderSuspendsMatching) {
  start();
  keys.keyDown(kTab, kOption);
  manager->setRecording(true);
  EXPECT_TRUE(manager->isRecording());
  keys.flagsChanged(0);
  EXPECT_EQ(keys.keyDown(kTab, kOption), KeyVerdict::deliver);
  keys.flagsChanged(kOption);
  EXPECT_EQ(takeCalls(), Calls{"summon +1 shortcut allWindows"}) << "disarmed: no release, no press, no pre-warm";

  manager->setRecording(false);
  EXPECT_EQ(keys.keyDown(kTab, kOption), KeyVerdict::swallow);
  EXPECT_EQ(takeCalls(), Calls{"summon +1 shortcut allWindows"});

  // Recording that starts before the tap is installed is in its first state.
  auto fresh = HotkeyManager::create(settings, workspace, keys, loop.main());
  fresh->setRecording(true);
  EXPECT_FALSE(fresh->matchState());
}

TEST_F(HotkeyManagerTest, SecondStartAddsNothingAndGoneManagerDropsItsHops) {
  start();
  const size_t observers = workspace.observerCount();
  const int attempts = keys.installAttempts();
  manager->start();
  EXPECT_EQ(workspace.observerCount(), observers);
  EXPECT_EQ(keys.installAttempts(), attempts);

  keys.keyDown(kTab, kOption);
  manager.reset();
  run();
  EXPECT_TRUE(calls.empty());
  EXPECT_EQ(workspace.observerCount(), 0u);
  store.set(AppSettings::Key::switcherStyle, "row");  // no observer left to reach the gone manager
  run();
  EXPECT_EQ(keys.keyDown(kTab, kOption), KeyVerdict::swallow) << "the tap lives on with the process";
}

}  // namespace
}  // namespace quorvel

namespace quorvel {
namespace {

TEST_F(HotkeyManagerTest, KnowsWhetherTheShortcutsKeysAreHeldElsewhereAndSaysWhenThatChanges) {
  int changes = 0;
  manager->onOwnershipChange = [&] { ++changes; };
  start();
  EXPECT_FALSE(manager->keysHeldElsewhere());
  keys.reportOwnership({kTab, kOption}, false);
  run();
  EXPECT_TRUE(manager->keysHeldElsewhere());
  EXPECT_EQ(changes, 1);
  keys.reportOwnership({kTab, kOption}, true);
  run();
  EXPECT_FALSE(manager->keysHeldElsewhere());
  EXPECT_EQ(changes, 2);

  // A shortcut chosen anew is a new request: what was refused of the old one is forgotten.
  keys.reportOwnership({kTab, kOption}, false);
  run();
  store.set(AppSettings::Key::hotkeyBinding1, HotkeyBinding{kTab, HotkeyBinding::commandFlag}.storedValue());
  run();
  EXPECT_FALSE(manager->keysHeldElsewhere());
  EXPECT_EQ(changes, 4);
  store.set(AppSettings::Key::hotkeyBinding1, HotkeyBinding{kTab, HotkeyBinding::optionFlag}.storedValue());
  run();
  EXPECT_FALSE(manager->keysHeldElsewhere());
}

// The refused keys of a shortcut are told together, once, by the shortcut's name and with the
// advice for the window manager that runs; they are asked for again at an interval while any is
// refused, and a shortcut that comes back is logged as working.
TEST_F(HotkeyManagerTest, RefusedKeysAreToldOnceByTheShortcutsNameAndAskedForUntilTheyComeBack) {
  store.set(AppSettings::Key::graveCyclesBackward, true);
  std::vector<std::string> told;
  manager->onShortcutRefused = [&](const std::string& sentence) { told.push_back(sentence); };
  manager->windowManagerName = [] { return std::string("Openbox"); };
  start();
  const std::string advice = ShortcutAdvice::text("Openbox", "Alt+Tab");
  for (int64_t code : {kTab, kGrave, int64_t{10}}) keys.reportOwnership({code, kOption}, false);
  run();
  EXPECT_EQ(told, std::vector<std::string>{advice});
  EXPECT_EQ(logs.count(advice), 1u);
  EXPECT_EQ(logs.count("Alt+` is taken by another program, so the key above Tab steps backward only inside the "
                       "switcher"),
            1u);
  loop.advance(HotkeyManager::refusedAskInterval * 3);
  EXPECT_EQ(keys.asks(), 3);
  EXPECT_EQ(logs.count(advice), 1u) << "asks that change nothing say nothing";

  keys.reportOwnership({kTab, kOption}, true);
  run();
  EXPECT_EQ(logs.count("Alt+Tab was let go of by the program that held it; the shortcut works now"), 1u);
  keys.reportOwnership({kTab, kOption}, false);  // taken again: logged again, but the balloon was once
  run();
  EXPECT_EQ(logs.count(advice), 2u);
  EXPECT_EQ(told.size(), 1u);
  for (int64_t code : {kTab, kGrave, int64_t{10}}) keys.reportOwnership({code, kOption}, true);
  run();
  const int asks = keys.asks();
  loop.advance(HotkeyManager::refusedAskInterval * 3);
  EXPECT_EQ(keys.asks(), asks) << "nothing refused, nothing asked";
  EXPECT_EQ(logs.count("Alt+` was let go of by the program that held it; it steps backward again"), 1u);
}

// A key that reaches the overlay's window while it holds the keyboard is the shortcut's press when
// the tap would have taken it; Escape and other keys are the overlay's own.
TEST_F(HotkeyManagerTest, KeysReachingTheOverlayAreMatchedAsTheTapWould) {
  store.set(AppSettings::Key::graveCyclesBackward, true);
  start();
  manager->reportKeyboardState(OverlayKeyboardState{true, std::nullopt});
  run();
  const auto step = manager->overlayShortcutPress(kTab, kOption | kShift);
  ASSERT_TRUE(step);
  EXPECT_EQ(step->direction, -1);
  EXPECT_EQ(manager->overlayShortcutPress(kGrave, kOption)->press, HotkeyPress::backward);
  EXPECT_FALSE(manager->overlayShortcutPress(kEscape, kOption));
  EXPECT_FALSE(manager->overlayShortcutPress(kTab, kOption | kControl));
  keys.flagsChanged(0);
  EXPECT_EQ(takeCalls(), Calls{"release"}) << "the press armed the shortcut's modifiers";
}

}  // namespace
}  // namespace quorvel
