#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>

#include <memory>

#include "AppDelegateFakes.h"
#include "app/AppDelegate.h"
#include "app/AppMenus.h"
#include "base/DefaultsStore.h"

namespace quorvel {
namespace {

using Calls = std::vector<std::string>;

class AppDelegateTest : public ::testing::Test {
 protected:
  static constexpr int64_t kTab = 48, kGrave = 50, kEscape = 53;
  static constexpr uint64_t kOption = KeyFlags::option;

  void SetUp() override { AppDelegate::resetScreenCaptureSampleForTesting(); }
  void TearDown() override { AppDelegate::resetScreenCaptureSampleForTesting(); }

  void make(AppDelegate::Launch launch = AppDelegate::Launch::full) {
    auto owned = std::make_unique<RecordingServices>(log, settings, loop);
    services = owned.get();
    delegate = AppDelegate::create(std::move(owned), shell, settings, loop.main(), launch);
  }
  void launch(AppDelegate::Launch how = AppDelegate::Launch::full) {
    make(how);
    delegate->applicationDidFinishLaunching();
    loop.runUntilIdle();
  }
  Calls take() {
    loop.runUntilIdle();
    Calls taken = std::move(log);
    log.clear();
    return taken;
  }
  RecordingOverlay& overlay() { return services->recordingOverlay(); }

  ManualLoop loop;
  CallLog log;
  DefaultsStore store;
  AppSettings settings{store};
  RecordingShell shell{log};
  RecordingServices* services = nullptr;
  std::shared_ptr<AppDelegate> delegate;
};

TEST_F(AppDelegateTest, StartUpRunsEveryStepOnceInItsOrder) {
  store.set(AppSettings::Key::searchHint, false);  // an older key the launch migrations carry over
  launch();
  EXPECT_EQ(take(), (Calls{"shell.screenCaptureGranted", "shell.promptForAccessibility", "shell.requestScreenCapture",
                           "services.startRegistry", "services.prewarmIcons", "services.removeSiteIconCopies",
                           "services.prewarmStatusBadges", "services.prewarmActionBadges", "overlay.start",
                           "overlay.setKeyboardReporter", "services.startHotkey", "services.startGestures",
                           "shell.installMainMenu", "shell.showStatusItem", "shell.showTourIfNeeded",
                           "shell.startPermissionWatcher"}));
  // The migrations ran before the defaults were registered: the old key was carried over.
  EXPECT_FALSE(store.hasStoredValue(AppSettings::Key::searchHint));
  EXPECT_EQ(store.storedObject(AppSettings::Key::showTips), DefaultsStore::Value(false));
  EXPECT_TRUE(services->keys.isInstalled());
  EXPECT_TRUE(delegate->hasStatusItem());

  delegate->applicationDidFinishLaunching();
  EXPECT_EQ(take(), Calls{}) << "start-up runs once";
}

TEST_F(AppDelegateTest, UnderTestOnlyMigratesAndRegistersDefaults) {
  store.set(AppSettings::Key::searchHint, true);
  launch(AppDelegate::Launch::underTest);
  EXPECT_EQ(take(), Calls{});
  EXPECT_EQ(store.storedObject(AppSettings::Key::showTips), DefaultsStore::Value(true));
  EXPECT_TRUE(settings.boolValue(AppSettings::Key::showMenuBarIcon)) << "the defaults are registered";
  EXPECT_FALSE(services->keys.isInstalled()) << "no shortcut tap";
  EXPECT_TRUE(services->contacts.calls().empty()) << "no trackpad monitor";
  EXPECT_FALSE(delegate->hasStatusItem());
  EXPECT_FALSE(AppDelegate::screenCaptureGrantedAtLaunch().has_value());

  store.set(AppSettings::Key::showMenuBarIcon, false);
  store.set(AppSettings::Key::showMenuBarIcon, true);
  EXPECT_EQ(take(), Calls{}) << "no tray item follows the setting";
}

TEST_F(AppDelegateTest, TrayItemFollowsShowMenuBarIcon) {
  launch();
  take();
  ASSERT_TRUE(shell.statusMenu);
  for (const MenuItem& item : shell.statusMenu->items) {
    EXPECT_NE(item.title, "Check for Updates…") << "this build has no updater";
  }
  // Both menus offer feedback, right after About (tray) or Settings (application menu).
  const auto& tray = shell.statusMenu->items;
  const auto feedback = std::find_if(tray.begin(), tray.end(), [](const MenuItem& i) { return i.title == "Send Feedback…"; });
  ASSERT_NE(feedback, tray.end());
  EXPECT_EQ(feedback->action, MenuAction::openFeedback);
  EXPECT_EQ(std::prev(feedback)->title, "About Quorvel");
  ASSERT_FALSE(shell.mainMenu.empty());
  const auto application = shell.mainMenu.front().items;
  ASSERT_GE(application.size(), 6u);
  EXPECT_EQ(application[4], (MenuItem{"Send Feedback…", MenuAction::openFeedback, "", MenuModifiers::command}));

  store.set(AppSettings::Key::switcherStyle, "row");
  EXPECT_EQ(take(), Calls{}) << "another setting leaves the item alone";

  store.set(AppSettings::Key::showMenuBarIcon, false);
  EXPECT_EQ(take(), Calls{"shell.removeStatusItem"});
  EXPECT_FALSE(delegate->hasStatusItem());
  store.set(AppSettings::Key::showMenuBarIcon, false);
  EXPECT_EQ(take(), Calls{});

  store.set(AppSettings::Key::showMenuBarIcon, true);
  EXPECT_EQ(take(), Calls{"shell.showStatusItem"}) << "a new item with a fresh menu";
  ASSERT_TRUE(shell.statusHandler);
  shell.statusHandler(MenuAction::openAbout);
  shell.statusHandler(MenuAction::quit);
  EXPECT_EQ(take(), (Calls{"shell.showSettings about", "shell.quit"}));

  // A change written on another thread reaches the item on the main queue.
  std::thread([&] { store.set(AppSettings::Key::showMenuBarIcon, false); }).join();
  EXPECT_TRUE(delegate->hasStatusItem());
  EXPECT_EQ(take(), Calls{"shell.removeStatusItem"});
}

// A build given no feedback host has nowhere to send it: neither menu offers it, and the action
// opens nothing.
TEST_F(AppDelegateTest, WithoutAFeedbackHostNoMenuOffersFeedback) {
  shell.feedback = false;
  launch();
  take();
  ASSERT_TRUE(shell.statusMenu);
  ASSERT_FALSE(shell.mainMenu.empty());
  for (const std::vector<MenuItem>* items : {&shell.statusMenu->items, &shell.mainMenu.front().items}) {
    for (const MenuItem& item : *items) EXPECT_NE(item.action, MenuAction::openFeedback) << item.title;
    EXPECT_FALSE(items->back().isSeparator);
  }
  EXPECT_EQ(shell.mainMenu.front().items.size(), 5u);  // About, -, Settings, -, Quit
  delegate->perform(MenuAction::openFeedback);
  EXPECT_EQ(take(), Calls{});
}

TEST_F(AppDelegateTest, ShortcutPressesReachTheOverlayThroughTheTap) {
  launch();
  take();
  services->keys.flagsChanged(kOption);
  services->keys.keyDown(kTab, kOption);
  // Each key of the shortcut's stream acts after the overlay took in what it was sent before.
  EXPECT_EQ(take(), (Calls{"overlay.prewarm", "overlay.catchUp", "overlay.present hotkey allWindows"}));

  overlay().visible = true;
  services->keys.keyDown(kTab, kOption);
  services->keys.flagsChanged(kOption | KeyFlags::shift);
  services->keys.keyDown(kTab, kOption | KeyFlags::shift);
  services->keys.flagsChanged(0);
  EXPECT_EQ(take(), (Calls{"overlay.catchUp", "overlay.step 1", "overlay.catchUp", "overlay.step -1",
                           "overlay.catchUp", "overlay.release"}));

  // The overlay reports that it holds the keyboard: the tap routes Escape to it.
  overlay().reporter(OverlayKeyboardState{true, std::nullopt});
  ASSERT_TRUE(services->hotkey()->overlayKeyboard());
  EXPECT_TRUE(services->hotkey()->overlayKeyboard()->holdsKeyboard);
  services->keys.keyDown(kEscape, 0);
  EXPECT_EQ(take(), (Calls{"overlay.catchUp", "overlay.tapKey 1"}));
  overlay().reporter(std::nullopt);
  EXPECT_FALSE(services->hotkey()->overlayKeyboard());
}

// A shortcut key that another program holds is only logged by the delegate: where the user is told
// (the tour, the "Shortcut needed" window, the notice beside the tray item) is the watcher's choice.
TEST_F(AppDelegateTest, AShortcutKeyHeldElsewhereIsLeftToTheWatcher) {
  launch();
  take();
  ASSERT_TRUE(delegate->hasStatusItem());
  services->keys.reportOwnership({kTab, kOption}, false);
  services->keys.reportOwnership({kTab, kOption}, true);
  EXPECT_EQ(take(), Calls{});
}

TEST_F(AppDelegateTest, BackwardPressFlipsOnlyWhileHidden) {
  store.set(AppSettings::Key::graveCyclesBackward, true);
  launch();
  take();
  services->keys.flagsChanged(kOption);
  services->keys.keyDown(kGrave, kOption);
  Calls calls = take();
  EXPECT_EQ(std::count(calls.begin(), calls.end(), "overlay.quickFlip allWindows"), 1);
  EXPECT_EQ(std::count_if(calls.begin(), calls.end(), [](const std::string& c) { return c.starts_with("overlay.present"); }), 0);

  AppDelegate::handleSummon(overlay(), -1, HotkeyPress::backward, AppSettings::HotkeyScope::activeApp);
  overlay().visible = true;
  AppDelegate::handleSummon(overlay(), -1, HotkeyPress::backward, AppSettings::HotkeyScope::activeApp);
  EXPECT_EQ(take(), (Calls{"overlay.quickFlip activeApp", "overlay.step -1"}));
}

TEST_F(AppDelegateTest, SwipesPresentOrCancelByTheTable) {
  make();
  RecordingOverlay& target = overlay();
  for (SwipeMotion motion : {SwipeMotion::up, SwipeMotion::down, SwipeMotion::sideways}) {
    target.visible = false;
    AppDelegate::handleSwipe(target, motion);
    target.visible = true;
    AppDelegate::handleSwipe(target, motion);
  }
  EXPECT_EQ(take(), (Calls{"overlay.present other allWindows",  // up, hidden
                           "overlay.cancel",                     // down, shown
                           "overlay.present other allWindows",  // sideways, hidden
                           "overlay.cancel"}));                  // sideways, shown
}

TEST_F(AppDelegateTest, ClosuresDoNothingOnceTheOverlayIsGone) {
  launch();
  take();
  services->dropOverlay();
  services->keys.flagsChanged(kOption);
  services->keys.keyDown(kTab, kOption);
  services->keys.flagsChanged(0);
  EXPECT_EQ(take(), Calls{});
}

TEST_F(AppDelegateTest, MenuActionsAndReopen) {
  launch();
  take();
  shell.statusWillOpen();
  delegate->perform(MenuAction::showSwitcher);
  overlay().visible = true;
  delegate->perform(MenuAction::showSwitcher);
  delegate->perform(MenuAction::openSettings);
  delegate->perform(MenuAction::checkForUpdates);
  delegate->perform(MenuAction::openFeedback);
  delegate->perform(MenuAction::redo);
  EXPECT_TRUE(delegate->applicationShouldHandleReopen());
  EXPECT_EQ(take(), (Calls{"overlay.noteMenuOpening", "overlay.presentFromMenu", "overlay.cancel", "shell.showSettings",
                           "shell.showFeedback", "shell.sendToFocusedWindow", "shell.showSettings"}));
}

TEST_F(AppDelegateTest, ScreenRecordingIsSampledOncePerProcess) {
  shell.captureGranted = false;
  launch();
  EXPECT_EQ(AppDelegate::screenCaptureGrantedAtLaunch(), false);
  // A later launch in the same process (the permission granted meanwhile) keeps the first sample.
  shell.captureGranted = true;
  delegate.reset();
  launch();
  EXPECT_EQ(AppDelegate::screenCaptureGrantedAtLaunch(), false);
}

}  // namespace
}  // namespace quorvel
