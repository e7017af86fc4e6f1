// The overlay controller's timelines on the manual loop and the virtual clock: summon, commit and
// dismissal with their generations and watchdog, dismiss keys, quick flip and pre-warm.
#include <gtest/gtest.h>

#include "base/LogCapture.h"
#include "overlay/ControllerFakes.h"
#include "pictures/BackdropBlur.h"
#include "windows/ApplicationIdentity.h"

namespace quorvel {
namespace {

int selected(ControllerRig& rig) {
  return rig.liveScenes.back()->state().withLock([](SceneState::Storage& s) { return SceneState::selectedIndex(s); });
}

TEST(OverlayControllerSummon, ShowsOnThePointersScreenWithEveryPhaseAndTakesTheKeyboard) {
  ControllerRig rig;
  LogCapture log;
  rig.desktop.pointer = Point{2000, 500};  // on display 2
  const Instant start = rig.now();
  const int screenReads = rig.desktop.screenReads;
  rig.summon();
  OverlayController& c = *rig.controller;
  ASSERT_TRUE(c.isVisible());
  EXPECT_EQ(rig.desktop.screenReads - screenReads, 1) << "one read of the screens serves the whole summon";
  EXPECT_EQ(c.activeDisplay(), 2u);
  EXPECT_EQ(c.presentedCards().size(), 3u);
  EXPECT_EQ(c.previousApp()->pid, 11);
  EXPECT_EQ(c.hotkeyPressCount(), 1);
  EXPECT_TRUE(c.summonedByHotkey());
  EXPECT_EQ(rig.pictures.begins, 1);
  EXPECT_EQ(rig.summons, 1);
  EXPECT_EQ(rig.textures.opacities, std::vector<double>{0.8533392676479687});
  ASSERT_EQ(rig.textures.icons.size(), 1u);
  EXPECT_EQ(rig.textures.icons[0].size(), 3u);
  EXPECT_EQ(rig.scene().presents, 1);
  EXPECT_TRUE(rig.scene().flyIn);
  EXPECT_EQ(rig.scene().startIndex, 0);  // stays on the current window
  EXPECT_EQ(rig.window().shows, 1);
  EXPECT_EQ(rig.desktop.selfActivations, 1);
  ASSERT_FALSE(rig.keyboard.empty());
  ASSERT_TRUE(rig.keyboard.back().has_value());
  EXPECT_TRUE(rig.keyboard.back()->holdsKeyboard);
  // The live picture of the selected card starts once the focus has rested for 150 ms.
  EXPECT_FALSE(rig.pictures.live);
  rig.runTo(start, 0.15);
  EXPECT_EQ(rig.pictures.live, 101u);
  // Every phase is one interval of the "Summon" category.
  size_t begins = 0;
  for (const LogRecord& r : log.records())
    if (r.category == "Summon" && r.trace == LogRecord::Trace::intervalBegin) ++begins;
  EXPECT_EQ(begins, 19u);
  // The chrome is drawn with the cards, and again while its animations run, then no more.
  EXPECT_GE(rig.scene().chromes, 1);
  // The window fades in over 0.2 s.
  EXPECT_DOUBLE_EQ(rig.window().alphas.front(), 0.0);
  rig.runTo(start, 0.1);
  EXPECT_LT(rig.window().alphas.back(), 1.0);
  rig.runTo(start, 0.25);
  EXPECT_DOUBLE_EQ(rig.window().alphas.back(), 1.0);
  rig.runTo(start, 0.5);
  const int chromes = rig.scene().chromes;
  EXPECT_GE(chromes, 5);
  rig.runTo(start, 2);
  EXPECT_EQ(rig.scene().chromes, chromes);
  // A summon while up changes nothing; a further press steps.
  rig.summon();
  EXPECT_EQ(rig.scene().presents, 1);
  c.stepSelection(1);
  EXPECT_EQ(c.hotkeyPressCount(), 2);
  EXPECT_EQ(selected(rig), 1);
}

// The desktop behind the cards: a still asked for at each summon of the summon's screen, shown
// blurred under the cards when it comes in and faded in; a still that comes after its summon ended
// is dropped, and a flat-colour backdrop asks for none.
TEST(OverlayControllerSummon, BackdropStillComesInAfterTheSummonAndFadesIn) {
  ControllerRig rig;
  rig.store.set(AppSettings::Key::blurAmount, 0.5);
  rig.summon();
  ASSERT_EQ(rig.stillRequests.size(), 1u);
  EXPECT_EQ(rig.stillRequests[0].screen.screenNumber, 1u);
  EXPECT_EQ(rig.stillRequests[0].width, 640);  // scaled up under a blur, as the preview's
  ASSERT_EQ(rig.scene().stills.size(), 1u);
  EXPECT_FALSE(rig.scene().stills[0]);  // the last summon's still is gone before the first frame
  OverlayContentView& view = *rig.controller->content(1);
  EXPECT_TRUE(view.desktopStill.hidden);

  // The still goes to the scene opaque, with the blur of the settings for its width; the layer
  // fades in over 0.2 s once the scene has it in place.
  const Instant in = rig.now();
  rig.stillRequests[0].done(DesktopStill{8, 4, std::vector<uint32_t>(32, 0x00336699u)});
  rig.loop.runUntilIdle();
  ASSERT_EQ(rig.scene().stills.size(), 2u);
  ASSERT_TRUE(rig.scene().stills[1]);
  EXPECT_EQ(rig.scene().stills[1]->pixels, std::vector<uint32_t>(32, 0xff336699u));
  EXPECT_DOUBLE_EQ(rig.scene().stillRadii[1], BackdropBlur::radiusFor(0.5, 8));
  EXPECT_FALSE(view.desktopStill.hidden);
  ASSERT_TRUE(view.desktopStillPicture);
  EXPECT_LT(view.desktopStill.alpha.valueAt(rig.now()), 0.5);
  const int chromes = rig.scene().chromes;
  rig.runTo(in, 0.3);
  EXPECT_DOUBLE_EQ(view.desktopStill.alpha.valueAt(rig.now()), 1.0);
  EXPECT_GT(rig.scene().chromes, chromes);  // drawn again while it fades in

  // A still answered after its summon was dismissed, or a broken one, shows nothing.
  rig.controller->cancel();
  rig.runTo(rig.now(), 2);
  rig.store.set(AppSettings::Key::blurAmount, 0.0);
  rig.summon();
  ASSERT_EQ(rig.stillRequests.size(), 2u);
  EXPECT_EQ(rig.stillRequests[1].width, 720);  // no blur to hide the scaling: half the screen's width
  EXPECT_TRUE(view.desktopStill.hidden);
  rig.stillRequests[0].done(DesktopStill{8, 4, std::vector<uint32_t>(32, 0xffffffffu)});
  rig.stillRequests[1].done(DesktopStill{8, 4, {1, 2, 3}});
  rig.loop.runUntilIdle();
  EXPECT_TRUE(view.desktopStill.hidden);
  EXPECT_EQ(rig.scene().stills.size(), 3u);  // only the clearing at the second summon

  // A flat colour hides the desktop: no still is asked for.
  rig.controller->cancel();
  rig.runTo(rig.now(), 2);
  rig.store.set(AppSettings::Key::backdropStyle, std::string("solidColor"));
  rig.summon();
  EXPECT_EQ(rig.stillRequests.size(), 2u);
}

TEST(OverlayControllerSummon, ChoosesTheFrontWindowsScreenAndFallsBackToThePointer) {
  ControllerRig rig;
  rig.store.set("summonScreen", std::string("activeWindowScreen"));
  rig.desktop.pointer = Point{100, 100};
  // Alpha's front window is on display 2 (global top-left coordinates).
  rig.desktop.frontWindows[11] = Rect{1600, 300, 400, 300};
  rig.summon();
  EXPECT_EQ(rig.controller->activeDisplay(), 2u);
  rig.controller->cancel();
  rig.runTo(rig.now(), 2);
  // Without a readable front window: the pointer's screen.
  rig.desktop.frontWindows.clear();
  rig.summon();
  EXPECT_EQ(rig.controller->activeDisplay(), 1u);
  rig.controller->cancel();
  rig.runTo(rig.now(), 2);
  // Built-in screen wanted, none attached: the pointer's screen.
  rig.store.set("summonScreen", std::string("builtInScreen"));
  rig.desktop.pointer = Point{2000, 100};
  rig.summon();
  EXPECT_EQ(rig.controller->activeDisplay(), 2u);
}

TEST(OverlayControllerSummon, NoScreenLeavesEverythingAsItWas) {
  ControllerRig rig;
  LogCapture log;
  rig.desktop.screenList.clear();
  rig.summon();
  EXPECT_FALSE(rig.controller->isVisible());
  EXPECT_FALSE(rig.controller->previousApp().has_value());
  EXPECT_TRUE(log.contains("No screen available: cannot show the overlay"));
  EXPECT_EQ(rig.cards.summonLists, 0);
}

// The menu's summon starts on the window that was in front when the menu opened, even when opening
// or closing the menu moved the focus (to the window under it), and returns to its application.
TEST(OverlayControllerSummon, TheMenusSummonSelectsTheWindowInFrontBeforeTheMenuOpened) {
  ControllerRig rig;
  rig.cards.list.currentIndex = 2;  // Gamma in front
  rig.desktop.front = RunningApplication{13, std::string("org.c"), std::string("Gamma")};
  rig.controller->noteMenuOpening();
  rig.cards.list.currentIndex = 1;  // the focus went to Beta, under the menu
  rig.desktop.front = RunningApplication{12, std::string("org.b"), std::string("Beta")};
  rig.controller->presentFromMenu();
  rig.loop.runUntilIdle();
  ASSERT_TRUE(rig.controller->isVisible());
  EXPECT_EQ(rig.scene().startIndex, 2);
  EXPECT_EQ(rig.controller->previousApp()->pid, 13);
  rig.controller->cancel();
  rig.loop.runUntilIdle();
  // Without a menu opening in between, the next menu summon goes by what is in front now.
  rig.controller->presentFromMenu();
  rig.loop.runUntilIdle();
  EXPECT_EQ(rig.scene().startIndex, 1);
}

TEST(OverlayControllerSummon, SummonListHelpers) {
  using C = ControllerRig;
  std::vector<WindowCard> all{C::card(1, 10, "A"), C::card(2, 20, "B"), C::card(3, 10, "A")};
  WindowCard tab = C::card(0xC0000001u, 20, "B");
  tab.state = WindowState::browserTab;
  tab.tab = WindowCard::TabFacts{2};
  all.push_back(tab);
  // Tabs only always, or while searching.
  EXPECT_EQ(OverlayController::visibleCards(all, AppSettings::TabsDisplay::off, true).size(), 3u);
  EXPECT_EQ(OverlayController::visibleCards(all, AppSettings::TabsDisplay::whileSearching, false).size(), 3u);
  EXPECT_EQ(OverlayController::visibleCards(all, AppSettings::TabsDisplay::whileSearching, true).size(), 4u);
  // The remap goes by id, and gives none for an index outside or a card that left.
  EXPECT_EQ(OverlayController::remapIndex(2, all, {all[2], all[0]}), 0);
  EXPECT_EQ(OverlayController::remapIndex(1, all, {all[2], all[0]}), std::nullopt);
  EXPECT_EQ(OverlayController::remapIndex(9, all, all), std::nullopt);
  // The scope keeps the front application's cards; a previous card that left falls to the first other.
  RunningApplication front{10};
  OverlayCardSource::SummonList list{all, 2, 1};
  auto scoped = OverlayController::limitToScope(list, AppSettings::HotkeyScope::activeApp, front);
  ASSERT_EQ(scoped.cards.size(), 2u);
  EXPECT_EQ(scoped.currentIndex, 1);
  EXPECT_EQ(scoped.previousIndex, 0);
  auto single = OverlayController::limitToScope({{all[0], all[1]}, 0, 1}, AppSettings::HotkeyScope::activeApp, front);
  EXPECT_EQ(single.currentIndex, 0);
  EXPECT_EQ(single.previousIndex, 0);
  EXPECT_TRUE(OverlayController::limitToScope(list, AppSettings::HotkeyScope::activeApp, RunningApplication{99}).cards.empty());
  // Several processes of one class (XTerm runs one a window) are one application, as in the stacks
  // of an application's windows; a process of another class with the same name is not.
  std::vector<WindowCard> terms{C::card(11, 101, "XTerm"), C::card(12, 200, "Other"), C::card(13, 102, "XTerm"),
                                C::card(14, 103, "XTerm"), C::card(15, 104, "XTerm")};
  for (WindowCard& c : terms) c.bundleID = c.pid == 200 ? "x11.Other" : "x11.XTerm";
  terms.push_back(C::card(16, 105, "XTerm"));  // no bundle identifier: only its own process
  const RunningApplication xterm{102, std::string("x11.XTerm")};
  EXPECT_EQ(OverlayController::limitToScope({terms, 2, 0}, AppSettings::HotkeyScope::activeApp, xterm).cards.size(), 4u);
  EXPECT_EQ(ApplicationIdentity::applicationPIDs(terms), (std::vector<int32_t>{101, 200, 101, 101, 101, 105}));
  // A tab card's label carries its shortened title, then the host's label without it.
  tab.title = std::string(61, 'x');
  auto keys = OverlayController::labelPlaceholderKeys({all[0], tab});
  ASSERT_EQ(keys.size(), 3u);
  EXPECT_EQ(keys[1].tabTitle, std::string(30, 'x') + "\u2026" + std::string(29, 'x'));
  EXPECT_FALSE(keys[2].tabTitle.has_value());
  // Titles drawn ahead never outnumber the title cache: the front of the order and its end.
  std::vector<WindowCard> many;
  for (uint32_t i = 0; i < 10; ++i) many.push_back(C::card(i, 1, "A"));
  const auto kept = OverlayController::titleCards(many, 6);
  ASSERT_EQ(kept.size(), 6u);
  EXPECT_EQ(kept[3].id, 3u);
  EXPECT_EQ(kept[4].id, 8u);
  EXPECT_EQ(OverlayController::titleCards(many, 10).size(), 10u);
  // A blank title is drawn as the application's name.
  WindowCard blank = C::card(5, 10, "Editor");
  blank.title = "   ";
  EXPECT_EQ(OverlayController::prepareTitles({blank})[0].text, "Editor");
}

TEST(OverlayControllerSummon, TheWindowIsOnScreenWithItsSceneBeforeAnyPlateIsAskedFor) {
  ControllerRig rig;
  rig.store.set("labelPlaceholders", true);
  rig.store.set("showCardTitles", true);
  std::vector<std::pair<int, int>> seen;  // window shows and scene presents at each plate request
  rig.textures.onPlates = [&] { seen.push_back({rig.window().shows, rig.scene().presents}); };
  rig.summon();
  ASSERT_EQ(seen.size(), 2u);
  for (const auto& [shows, presents] : seen) {
    EXPECT_EQ(shows, 1);
    EXPECT_EQ(presents, 1);
  }
  EXPECT_EQ(rig.textures.titles[0].size(), 3u);
}

TEST(OverlayControllerSummon, TabsHiddenAtSummonRemapTheSelectionAndWindowlessAppsFlyFromTheMiddle) {
  ControllerRig rig;
  WindowCard tab = ControllerRig::card(0xC0000001u, 12, "Beta");
  tab.state = WindowState::browserTab;
  tab.tab = WindowCard::TabFacts{102};
  WindowCard app = ControllerRig::card(WindowCard::applicationCardID(14), 14, "Delta", {});
  app.state = WindowState::windowlessApp;
  rig.store.set("tabsDisplay", std::string("whileSearching"));
  rig.cards.list.cards = {tab, rig.cards.list.cards[0], app};
  rig.cards.list.currentIndex = 0;  // a tab card: hidden, so the selection falls back to 0
  rig.cards.list.previousIndex = 1;
  rig.summon();
  const auto& shown = rig.controller->presentedCards();
  ASSERT_EQ(shown.size(), 2u);
  EXPECT_EQ(rig.controller->allPresentedCards().size(), 3u);
  EXPECT_EQ(rig.scene().startIndex, 0);
  EXPECT_EQ(rig.controller->presentedPreviousIndex(), 0);
  const auto frames = rig.controller->sourceFrames(shown, rig.desktop.screenList[0]);
  EXPECT_EQ(frames[1], (Rect{480, 300, 480, 300}));
  // The card frame moves into the screen's own top-left space.
  const auto onSecond = rig.controller->sourceFrames({rig.cards.list.cards[1]}, rig.desktop.screenList[1]);
  EXPECT_EQ(onSecond[0], (Rect{100 - 1440, 100 - (900 - 1080), 800, 600}));
}

TEST(OverlayControllerDismissal, CommitWithTheFlightWaitsForFlightAndFadeThenOrdersOut) {
  ControllerRig rig;
  LogCapture log;
  rig.summon();
  rig.runTo(rig.now(), 0.3);
  rig.controller->stepSelection(1);
  const Instant commit = rig.now();
  rig.controller->commitSelection();
  OverlayController& c = *rig.controller;
  ASSERT_EQ(rig.picked.size(), 1u);
  EXPECT_EQ(rig.picked[0].id, 102u);
  EXPECT_TRUE(log.contains("activate index 1 of 3: Beta"));
  EXPECT_FALSE(c.previousApp().has_value());
  EXPECT_TRUE(rig.desktop.activated.empty());
  EXPECT_FALSE(c.isVisible());
  EXPECT_TRUE(rig.window().clickThrough);
  EXPECT_EQ(rig.scene().flights, (std::vector<std::optional<int>>{1}));
  // The per-summon state is gone at once, the keyboard is released.
  EXPECT_TRUE(c.presentedCards().empty());
  EXPECT_TRUE(c.allPresentedCards().empty());
  EXPECT_FALSE(c.liveHeroTask() || c.missingCaptureTask() || c.refreshTask() || c.actionFollowUpTask() ||
               c.dragDwellTask());
  EXPECT_TRUE(c.iconSweepPending());
  EXPECT_EQ(rig.pictures.stillCancels, 1);  // the summon's missing pictures stop with it
  EXPECT_FALSE(rig.keyboard.back().has_value());
  EXPECT_EQ(rig.pictures.ends, 1);
  // The fade starts 0.1 s after the commit.
  const size_t alphasAtCommit = rig.window().alphas.size();
  rig.runTo(commit, 0.099);
  EXPECT_EQ(rig.window().alphas.size(), alphasAtCommit);
  rig.runTo(commit, 0.3);
  EXPECT_DOUBLE_EQ(rig.window().alphas.back(), 0.0);
  EXPECT_TRUE(c.dismissFadeDone());
  EXPECT_EQ(rig.window().orderOuts, 0);  // the flight has not reported
  rig.runTo(commit, 0.5);
  ASSERT_TRUE(rig.liveScenes[0]->releaseFlight());
  const Instant landed = rig.now();
  rig.loop.runUntilIdle();
  EXPECT_EQ(rig.scene().stops, 1);
  EXPECT_EQ(rig.pictures.flushes, 1);
  rig.runTo(landed, 0.03);
  EXPECT_EQ(rig.window().orderOuts, 0);
  rig.runTo(landed, 0.034);
  EXPECT_EQ(rig.window().orderOuts, 1);
  // The watchdog finds the dismissal finished.
  rig.runTo(commit, 2);
  EXPECT_FALSE(log.contains("Dismissal stalled, forcing the overlay out"));
  EXPECT_EQ(rig.window().orderOuts, 1);
  // The icon sweep runs 1 s after the dismissal.
  EXPECT_EQ(rig.textures.sweeps, 1);
}

TEST(OverlayControllerDismissal, TheWatchdogForcesAStalledFlightOut) {
  ControllerRig rig;
  LogCapture log;
  rig.summon();
  rig.runTo(rig.now(), 0.3);  // faded in
  const Instant cancel = rig.now();
  rig.controller->cancel();  // Escape: the previous application first, the fade 0.16 s later
  EXPECT_EQ(rig.desktop.activated, std::vector<int32_t>{11});
  rig.runTo(cancel, 0.159);
  EXPECT_DOUBLE_EQ(rig.window().alphas.back(), 1.0);
  rig.runTo(cancel, 0.899);
  EXPECT_FALSE(log.contains("Dismissal stalled, forcing the overlay out"));
  rig.runTo(cancel, 0.901);
  EXPECT_TRUE(log.contains("Dismissal stalled, forcing the overlay out"));
  EXPECT_DOUBLE_EQ(rig.window().alphas.back(), 0.0);
  EXPECT_EQ(rig.scene().stops, 1);  // the stop hands the held completion back: it finds the flags set
  rig.runTo(cancel, 0.901 + 1.0 / 30);
  EXPECT_EQ(rig.window().orderOuts, 1);
  EXPECT_EQ(log.count("Dismissal stalled, forcing the overlay out"), 1u);
  // A second cancel during the flight does nothing.
  rig.controller->cancel();
  EXPECT_EQ(rig.desktop.activated.size(), 1u);  // previousApp was already taken
  EXPECT_EQ(rig.scene().flights.size(), 1u);
}

TEST(OverlayControllerDismissal, FlightOffFadesClickThroughUnderTheWatchdog) {
  ControllerRig rig;
  rig.store.set("animateFlight", false);
  rig.summon();
  rig.runTo(rig.now(), 0.3);
  const Instant commit = rig.now();
  rig.controller->commitSelection();
  EXPECT_EQ(rig.scene().stops, 1);  // stopped at once, no flight
  EXPECT_TRUE(rig.scene().flights.empty());
  EXPECT_TRUE(rig.window().clickThrough);
  EXPECT_EQ(rig.pictures.flushes, 1);
  rig.runTo(commit, 0.1);
  EXPECT_GT(rig.window().alphas.back(), 0.0);
  EXPECT_LT(rig.window().alphas.back(), 1.0);
  rig.runTo(commit, 0.15);
  EXPECT_DOUBLE_EQ(rig.window().alphas.back(), 0.0);
  EXPECT_EQ(rig.window().orderOuts, 0);
  rig.runTo(commit, 0.19);
  EXPECT_EQ(rig.window().orderOuts, 1);
}

TEST(OverlayControllerDismissal, FlightOffWatchdogForcesAFadeThatNeverEnds) {
  ControllerRig rig;
  LogCapture log;
  rig.store.set("animateFlight", false);
  // The window system animates the alpha and its completion never comes.
  std::vector<std::function<void()>> fades;
  rig.animateAlpha = [&](OverlayWindow& w, double to, double, bool, std::function<void()> done) {
    w.setAlpha(to == 0 ? 0.5 : to);  // stuck half way out
    fades.push_back(std::move(done));
  };
  rig.make();
  rig.summon();
  fades.front()();  // the fade-in completes
  const Instant commit = rig.now();
  rig.controller->commitSelection();
  EXPECT_TRUE(rig.window().clickThrough);  // clicks reach the windows below while it hangs
  rig.runTo(commit, 0.739);
  EXPECT_FALSE(log.contains("Dismissal stalled, forcing the overlay out"));
  EXPECT_EQ(rig.window().orderOuts, 0);
  rig.runTo(commit, 0.741);
  EXPECT_TRUE(log.contains("Dismissal stalled, forcing the overlay out"));
  EXPECT_DOUBLE_EQ(rig.window().alphas.back(), 0.0);
  rig.runTo(commit, 0.741 + 1.0 / 30);
  EXPECT_EQ(rig.window().orderOuts, 1);
  fades.back()();  // a completion arriving after all changes nothing
  rig.runTo(rig.now(), 1);
  EXPECT_EQ(rig.window().orderOuts, 1);
}

TEST(OverlayControllerDismissal, ASummonDuringTheDismissalVoidsItsRemainingSteps) {
  ControllerRig rig;
  LogCapture log;
  rig.summon();
  rig.controller->commitSelection();
  rig.runTo(rig.now(), 0.12);  // the fade has begun
  const Instant again = rig.now();
  rig.summon();
  EXPECT_TRUE(rig.controller->isVisible());
  EXPECT_EQ(rig.desktop.windows.size(), 1u);  // the same window and scene serve again
  EXPECT_EQ(rig.scenes.size(), 1u);
  EXPECT_FALSE(rig.window().clickThrough);
  rig.runTo(again, 3);
  EXPECT_EQ(rig.window().orderOuts, 0);
  EXPECT_TRUE(rig.window().visible);
  EXPECT_DOUBLE_EQ(rig.window().alphas.back(), 1.0);
  EXPECT_FALSE(log.contains("Dismissal stalled, forcing the overlay out"));
  EXPECT_EQ(rig.textures.sweeps, 0);  // deferred while the switcher is up again
}

// Summons less than a second apart keep the delayed sweep from running; after 30 s it runs at a
// hide, so the icons of applications that came and went meanwhile do not pile up.
TEST(OverlayControllerDismissal, SummonsThatKeepComingPutTheIconSweepOffForThirtySecondsAtMost) {
  ControllerRig rig;
  const Instant first = rig.now();
  while (rig.textures.sweeps == 0 && rig.now() - first < fromSeconds(60)) {
    const Instant start = rig.now();
    rig.summon();
    rig.controller->commitSelection();
    rig.runTo(start, 0.8);
  }
  EXPECT_EQ(rig.textures.sweeps, 1);
  const double waited = toSeconds(rig.now() - first);
  EXPECT_GE(waited, OverlayController::kIconSweepLongestWait);
  EXPECT_LT(waited, OverlayController::kIconSweepLongestWait + 2);  // the summon at which it ran, plus one
  EXPECT_FALSE(rig.controller->iconSweepPending());
}

TEST(OverlayControllerDismissal, NoLiveStreamSurvivesAnyDismissal) {
  for (const bool flight : {true, false}) {
    for (const bool commit : {true, false}) {
      ControllerRig rig;
      rig.store.set("animateFlight", flight);
      rig.pictures.holdStarts = true;  // the start of the stream arrives late, after the stop
      rig.summon();
      rig.controller->stepSelection(1);
      rig.loop.runUntilIdle();
      if (commit) rig.controller->commitSelection();
      else rig.controller->cancel();
      rig.runTo(rig.now(), 2);
      rig.pictures.releaseStarts();
      EXPECT_FALSE(rig.pictures.live.has_value()) << "flight " << flight << " commit " << commit;
      rig.runTo(rig.now(), 1);
      EXPECT_NE(rig.scene().livePreview, std::optional<bool>(true));
    }
  }
}

TEST(OverlayControllerDismissal, CommitWithoutCardsOrRendererCancels) {
  ControllerRig rig;
  LogCapture log;
  rig.cards.list = {};
  rig.summon();
  EXPECT_TRUE(log.contains("Overlay shown with no cards"));
  rig.controller->commitSelection();
  EXPECT_TRUE(rig.picked.empty());
  EXPECT_EQ(rig.desktop.activated, std::vector<int32_t>{11});
  EXPECT_EQ(rig.scene().flights, (std::vector<std::optional<int>>{std::nullopt}));
  rig.controller->activate(5);  // not visible any more: an index outside only logs and cancels
  EXPECT_TRUE(log.contains("activate ignored: index 5 of 0"));
}

TEST(OverlayControllerDismissal, AControllerDestroyedMidTimelineDoesNothingAfterwards) {
  ControllerRig rig;
  LogCapture log;
  rig.summon();
  rig.controller->commitSelection();
  rig.runTo(rig.now(), 0.12);
  auto windowLog = rig.desktop.windows[0];
  const int orderOuts = windowLog->orderOuts;
  const size_t alphas = windowLog->alphas.size();
  rig.controller.reset();
  rig.liveScenes.clear();
  rig.runTo(rig.now(), 3);
  EXPECT_EQ(windowLog->alphas.size(), alphas);
  EXPECT_EQ(windowLog->orderOuts, orderOuts);
  EXPECT_FALSE(log.contains("Dismissal stalled, forcing the overlay out"));
  EXPECT_EQ(rig.textures.sweeps, 0);
}

TEST(OverlayControllerRelease, HoldToSwitchCommitsUnlessADwellDragHoldsTheButton) {
  ControllerRig rig;
  rig.summon();
  rig.store.set("dragToSwitch", true);
  rig.store.set("dragCommitMode", std::string("dwell"));
  rig.controller->cancel();
  rig.runTo(rig.now(), 2);
  rig.summon();  // dwell mode is read at the summon
  rig.desktop.buttons = 1;
  rig.controller->onHotkeyRelease();
  EXPECT_TRUE(rig.controller->isVisible());
  rig.desktop.buttons = 0;
  rig.controller->onHotkeyRelease();
  EXPECT_FALSE(rig.controller->isVisible());
  EXPECT_EQ(rig.picked.size(), 1u);
  rig.runTo(rig.now(), 2);
  // A menu or swipe summon, or the toggle behaviour: the release does nothing.
  rig.summon(false);
  rig.controller->onHotkeyRelease();
  EXPECT_TRUE(rig.controller->isVisible());
  rig.controller->cancel();
  rig.runTo(rig.now(), 2);
  rig.store.set("switcherBehavior", std::string("toggle"));
  rig.summon();
  rig.controller->onHotkeyRelease();
  EXPECT_TRUE(rig.controller->isVisible());
}

// A tap of the shortcut (its modifiers let go of within 0.3 s, nothing done in between) flips to
// the window the quick flip would raise; a hold stays where the summon put the selection. The tap
// is timed by the key events' own times when they have them, so a main queue that lagged behind
// the keys does not turn a hold into a tap or a tap into a hold.
TEST(OverlayControllerRelease, ATapFlipsToTheLastWindowAndAHoldStays) {
  struct Row {
    const char* name;
    const char* holdStyle;
    double clockHeld;  // seconds on the controller's clock between the press and the release
    std::optional<std::pair<uint32_t, uint32_t>> keyTimes;  // the press's and the release's
    const char* between;  // "", "step", "search", "scroll"
    uint32_t committed;
  };
  // Alpha in front, Beta right behind it, Gamma visited last of those behind: the flip goes to
  // Gamma, while the summon's previous card is Beta.
  const Row rows[] = {
      {"tap", "staysOnCurrent", 0.15, std::nullopt, "", 103},
      {"hold", "staysOnCurrent", 0.5, std::nullopt, "", 101},
      {"tap while the main queue lagged", "staysOnCurrent", 1.0, std::pair{5000u, 5150u}, "", 103},
      {"hold whose hops came together", "staysOnCurrent", 0.0, std::pair{5000u, 5400u}, "", 101},
      {"tap across the clock's wrap", "staysOnCurrent", 0.0, std::pair{0xFFFFFFA0u, 0x40u}, "", 103},
      {"a step in between", "staysOnCurrent", 0.1, std::nullopt, "step", 102},
      {"a search in between", "staysOnCurrent", 0.1, std::nullopt, "search", 101},
      {"a scroll in between", "staysOnCurrent", 0.1, std::nullopt, "scroll", 101},
      {"cmdTab tap", "cmdTab", 0.15, std::nullopt, "", 102},
      {"cmdTab hold", "cmdTab", 0.5, std::nullopt, "", 102},
  };
  for (const Row& row : rows) {
    ControllerRig rig;
    rig.store.set("holdStyle", std::string(row.holdStyle));
    rig.cards.zOrder = {{101, 0}, {102, 1}, {103, 2}};
    rig.cards.ticks = {{101, 9}, {102, 3}, {103, 5}};
    if (row.keyTimes) rig.keyTime = row.keyTimes->first;
    const Instant press = rig.now();
    rig.summon();
    const std::string between = row.between;
    if (between == "step") rig.controller->stepSelection(1);
    if (between == "search") {
      rig.controller->setSearching(true);
      rig.controller->setSearching(false);
    }
    if (between == "scroll") rig.controller->scroll(0.2);
    rig.runTo(press, row.clockHeld);
    if (row.keyTimes) rig.keyTime = row.keyTimes->second;
    rig.controller->onHotkeyRelease();
    ASSERT_EQ(rig.picked.size(), 1u) << row.name;
    EXPECT_EQ(rig.picked[0].id, row.committed) << row.name;
    EXPECT_FALSE(rig.controller->isVisible()) << row.name;  // leaves as after any commit
  }

  // Ten taps in a row go back and forth between the last two windows. Each raise records its visit
  // and makes its window the registry's current one, as the registry does; a stacking manager also
  // puts it in front, a tiling one (i3) leaves the stacking order as it is.
  for (const bool restacks : {true, false}) {
    ControllerRig rig;
    rig.cards.zOrder = {{101, 0}, {102, 1}, {103, 2}};
    uint64_t tick = 0;
    std::vector<uint32_t> flips;
    for (int tap = 0; tap < 10; ++tap) {
      const Instant press = rig.now();
      rig.summon();
      rig.runTo(press, 0.12);
      rig.controller->onHotkeyRelease();
      ASSERT_EQ(rig.picked.size(), static_cast<size_t>(tap + 1));
      const uint32_t raised = rig.picked.back().id;
      flips.push_back(raised);
      if (restacks) {
        for (auto& [id, z] : rig.cards.zOrder)
          if (z < rig.cards.zOrder[raised]) ++z;
        rig.cards.zOrder[raised] = 0;
      }
      rig.cards.ticks[raised] = ++tick;
      rig.cards.list.previousIndex = rig.cards.list.currentIndex;
      rig.cards.list.currentIndex = static_cast<int>(raised - 101);
      rig.runTo(press, 0.3);  // the next tap comes while this one's cards may still fly out
    }
    EXPECT_EQ(flips, (std::vector<uint32_t>{102, 101, 102, 101, 102, 101, 102, 101, 102, 101}))
        << (restacks ? "stacking" : "tiling");
  }
}

TEST(OverlayControllerKeys, TapRoutesActOnlyWhereTheOverlaysOwnRouteCannot) {
  ControllerRig rig;
  LogCapture log;
  rig.controller->handleTapKey(2);
  EXPECT_TRUE(log.contains("[tap] nothing on screen to dismiss, key=false appActive=true search=closed"));
  rig.summon();
  rig.controller->handleTapKey(0);
  rig.controller->handleTapKey(1);  // the window is key: the content view handles the key
  EXPECT_TRUE(rig.controller->isVisible());
  EXPECT_TRUE(log.contains("[tap] left to the overlay's own keyboard route, key=true appActive=true search=closed"));
  // The window lost the keyboard: the tap repairs the route.
  auto* window = static_cast<FakeOverlayWindow*>(rig.controller->window(1));
  window->loseKey();
  ASSERT_TRUE(rig.keyboard.back().has_value());
  EXPECT_FALSE(rig.keyboard.back()->holdsKeyboard);
  rig.controller->handleTapKey(1);
  EXPECT_FALSE(rig.controller->isVisible());
  EXPECT_TRUE(log.contains("[tapRepair] dismissed the switcher, key=false appActive=true search=closed"));
  EXPECT_EQ(rig.desktop.activated, std::vector<int32_t>{11});
}

TEST(OverlayControllerDisplays, AnotherScreenParksTheFirstAndAChangedFrameRebuilds) {
  ControllerRig rig;
  rig.summon();
  rig.controller->cancel();
  rig.runTo(rig.now(), 2);
  rig.desktop.pointer = Point{2000, 100};
  rig.summon();
  EXPECT_EQ(rig.scene(0).stops, 2);  // the dismissal's stop, then the parking
  EXPECT_EQ(rig.desktop.windows.size(), 2u);
  rig.controller->cancel();
  rig.runTo(rig.now(), 2);
  // Display 2 changed resolution: its overlay is dropped and built again.
  rig.desktop.screenList[1].frame.width = 2560;
  rig.summon();
  EXPECT_EQ(rig.desktop.windows.size(), 3u);
  EXPECT_EQ(rig.scene(1).shutdowns, 1);
  EXPECT_EQ(rig.scenes.size(), 3u);
  rig.controller->cancel();
  rig.runTo(rig.now(), 2);
  // Display 1 unplugged: its overlay goes with a log line.
  LogCapture log;
  rig.desktop.screenList.erase(rig.desktop.screenList.begin());
  rig.controller->dropGoneDisplays();
  EXPECT_TRUE(log.contains("display 1 is gone: dropping its overlay"));
  EXPECT_EQ(rig.controller->overlayCount(), 1u);
}

TEST(OverlayControllerQuickFlip, RaisesTheMostRecentlyVisitedWindowBehindTheFront) {
  ControllerRig rig;
  LogCapture log;
  rig.cards.zOrder = {{101, 0}, {102, 1}, {103, 2}};
  rig.controller->quickFlip(AppSettings::HotkeyScope::allWindows);
  ASSERT_EQ(rig.picked.size(), 1u);
  EXPECT_EQ(rig.picked[0].id, 102u);
  EXPECT_TRUE(log.contains("Flip to Beta (window 102) by stack, of 3, top [101, 102, 103]"));
  EXPECT_EQ(rig.summons, 1);
  // The third has the largest tick; the front window's own tick never counts.
  rig.cards.ticks = {{101, 99}, {102, 5}, {103, 7}};
  rig.controller->quickFlip(AppSettings::HotkeyScope::allWindows);
  EXPECT_EQ(rig.picked.back().id, 103u);
  EXPECT_TRUE(log.contains("Flip to Gamma (window 103) by history, of 3, top [101, 102, 103]"));
  EXPECT_EQ(rig.summons, 2);
  // Only the front application's windows with the scope: one window, nothing raised or posted.
  rig.controller->quickFlip(AppSettings::HotkeyScope::activeApp);
  EXPECT_EQ(rig.picked.size(), 2u);
  EXPECT_EQ(rig.summons, 2);
  EXPECT_TRUE(log.contains("Flip found 1 window to flip between, of 1 cards"));
  EXPECT_FALSE(rig.controller->isVisible());
}

TEST(OverlayControllerPrewarm, SlicesOfFourStopWhenTheOverlayShows) {
  ControllerRig rig;
  rig.store.set("labelPlaceholders", true);
  for (uint32_t i = 0; i < 7; ++i) rig.cards.list.cards.push_back(ControllerRig::card(200 + i, 20 + i, "App"));
  rig.controller->prewarmIfAllowed();
  EXPECT_TRUE(rig.controller->isPrewarming());
  rig.controller->prewarmIfAllowed();  // one run at a time
  // A summon arrives while the second slice is drawn: it runs before the third slice.
  rig.textures.onIcons = [&] {
    if (rig.textures.icons.size() == 2)
      rig.loop.main().post([&] { rig.controller->present(true, AppSettings::HotkeyScope::allWindows); });
  };
  rig.loop.runUntilIdle();
  // Two slices of four, then the summon's own request of every card; no third slice.
  ASSERT_EQ(rig.textures.icons.size(), 3u);
  EXPECT_EQ(rig.textures.icons[0].size(), 4u);
  EXPECT_EQ(rig.textures.icons[1].size(), 4u);
  EXPECT_EQ(rig.textures.icons[2].size(), 10u);
  EXPECT_TRUE(rig.controller->isVisible());
  EXPECT_TRUE(rig.textures.labels.size() <= 1u);  // the summon's own labels only
  EXPECT_FALSE(rig.controller->isPrewarming());
  EXPECT_EQ(rig.pictures.stillCaptures, 1);  // the summon's missing pictures, no pre-warm capture
}

TEST(OverlayControllerPrewarm, StartUpRefreshesBuildsTheWindowAndCapturesUnlessASummonCameFirst) {
  {
    ControllerRig rig;
    rig.controller->start();
    rig.runTo(rig.now(), 0.49);
    EXPECT_TRUE(rig.cards.refreshes.empty());
    rig.runTo(rig.now(), 0.02);
    ASSERT_EQ(rig.cards.refreshes.size(), 1u);
    rig.cards.refreshes[0]();
    rig.loop.runUntilIdle();
    EXPECT_EQ(rig.textures.icons.size(), 1u);
    EXPECT_EQ(rig.desktop.windows.size(), 1u);  // built ahead, not shown
    EXPECT_EQ(rig.window().shows, 0);
    // The renderer too, which draws the cards for a while and is stopped.
    ASSERT_EQ(rig.scenes.size(), 1u);
    EXPECT_EQ(rig.scenes[0]->presents, 1);
    rig.runTo(rig.now(), OverlayController::kWarmFrameTime);
    EXPECT_EQ(rig.scenes[0]->stops, 1);
    EXPECT_EQ(rig.pictures.stillCaptures, 1);
    EXPECT_TRUE(rig.controller->isPrewarming());
    rig.pictures.pendingStills[0]();
    EXPECT_FALSE(rig.controller->isPrewarming());
    rig.summon();  // the first summon reuses the window and the renderer built ahead
    EXPECT_EQ(rig.desktop.windows.size(), 1u);
    EXPECT_EQ(rig.scenes.size(), 1u);
    EXPECT_EQ(rig.scenes[0]->presents, 2);
  }
  {
    ControllerRig rig;
    rig.controller->start();
    rig.runTo(rig.now(), 0.2);
    rig.summon();
    const size_t icons = rig.textures.icons.size();
    rig.runTo(rig.now(), 1);
    EXPECT_TRUE(rig.cards.refreshes.size() <= 1u);  // the post-summon refresh only
    EXPECT_EQ(rig.textures.icons.size(), icons);
    EXPECT_FALSE(rig.controller->isPrewarming());
  }
}

TEST(OverlayControllerSettings, StyleChangesReachTheSceneOnlyWhenTheyMatter) {
  ControllerRig rig;
  rig.summon();
  auto layoutName = [&] {
    return rig.liveScenes[0]->state().withLock([](SceneState::Storage& s) { return s.layout.current()->style(); });
  };
  const auto before = layoutName();
  rig.store.set("gridOrder", std::string("snake"));  // not "expo": nothing to do
  rig.controller->settingsChanged();
  EXPECT_EQ(layoutName(), before);
  rig.store.set("switcherStyle", std::string("expo"));
  rig.controller->settingsChanged();
  EXPECT_EQ(rig.controller->style(), AppSettings::SwitcherStyle::expo);
  EXPECT_NE(layoutName(), before);
}

}  // namespace
}  // namespace quorvel
