// The overlay controller while it is up: search, window actions, pointer routes and the focus
// follow-ups, on the manual loop with every service faked.
#include <gtest/gtest.h>

#include "base/LogCapture.h"
#include "overlay/ControllerFakes.h"

namespace quorvel {
namespace {

int selected(ControllerRig& rig) {
  return rig.liveScenes.back()->state().withLock([](SceneState::Storage& s) { return SceneState::selectedIndex(s); });
}

std::vector<uint32_t> shownIDs(ControllerRig& rig) {
  std::vector<uint32_t> ids;
  for (const WindowCard& c : rig.controller->presentedCards()) ids.push_back(c.id);
  return ids;
}

OverlayContentView& view(ControllerRig& rig) { return *rig.controller->content(*rig.controller->activeDisplay()); }

void type(ControllerRig& rig, const std::string& text) {
  rig.controller->insertSearchText(text);
  rig.loop.runUntilIdle();
}

// Cards whose titles and application names are in several scripts.
void useManyScripts(ControllerRig& rig) {
  auto add = [&](uint32_t id, int32_t pid, std::string app, std::string title) {
    WindowCard c = ControllerRig::card(id, pid, std::move(app));
    c.title = std::move(title);
    c.ax = AXHandle::make(nullptr);
    return c;
  };
  rig.cards.list.cards = {add(101, 11, "Terminal", "build log"),
                          add(102, 12, "Editor", "Cafe\u0301 menu.txt"),         // decomposed accent
                          add(103, 13, "\u30a8\u30c7\u30a3\u30bf", "\u6708\u5ea6\u62a5\u544a"),
                          add(104, 14, "Chat", "Team \U0001F44D\U0001F3FD thread"),
                          add(105, 15, "Mail", "R\u00c9SUM\u00c9 draft")};
}

// ---- Search ----

TEST(OverlayControllerSearch, TypingNarrowsAndRanksInEveryScriptAndDeletingBringsCardsBack) {
  ControllerRig rig;
  useManyScripts(rig);
  rig.summon();
  OverlayController& c = *rig.controller;
  c.setSearching(true);
  type(rig, "caf\u00e9");  // composed, against a decomposed title
  EXPECT_EQ(shownIDs(rig), (std::vector<uint32_t>{102}));
  EXPECT_EQ(selected(rig), 0);
  for (int i = 0; i < 4; ++i) c.deleteBackward();
  EXPECT_EQ(c.searchField(), (SearchField{"", 0}));
  EXPECT_EQ(shownIDs(rig).size(), 5u);
  type(rig, "r\u00e9sum\u00e9");  // lower-case, against an upper-case title
  EXPECT_EQ(shownIDs(rig), (std::vector<uint32_t>{105}));
  c.setSearching(false);
  type(rig, "");
  c.setSearching(true);
  type(rig, "\u62a5\u544a");  // CJK
  EXPECT_EQ(shownIDs(rig), (std::vector<uint32_t>{103}));
  c.setSearching(false);
  c.setSearching(true);
  type(rig, "\U0001F44D\U0001F3FD");  // emoji with a skin tone
  EXPECT_EQ(shownIDs(rig), (std::vector<uint32_t>{104}));
  c.setSearching(false);
  c.setSearching(true);
  type(rig, "edit");  // the application name counts too
  EXPECT_EQ(shownIDs(rig), (std::vector<uint32_t>{102}));
  type(rig, " zzzz");
  EXPECT_TRUE(shownIDs(rig).empty());
  EXPECT_EQ(c.searchField(), (SearchField{"edit zzzz", 9}));
}

TEST(OverlayControllerSearch, CombiningInputKeepsTheCaretInsideAndDeletesWholeCharacters) {
  ControllerRig rig;
  rig.summon();
  OverlayController& c = *rig.controller;
  c.setSearching(true);
  type(rig, "e");
  type(rig, "\u0301");
  type(rig, "\U0001F1FA");
  type(rig, "\U0001F1F8");
  EXPECT_EQ(c.searchField().caret, 2);
  c.deleteForward();  // at the end: nothing
  EXPECT_EQ(c.searchField().text, "e\u0301\U0001F1FA\U0001F1F8");
  c.deleteBackward();
  c.deleteBackward();
  c.deleteBackward();
  EXPECT_EQ(c.searchField(), (SearchField{"", 0}));
}

TEST(OverlayControllerSearch, EndingTheSearchKeepsTheSelectedCardAndTabCardsShowOnlyWhileSearching) {
  ControllerRig rig;
  WindowCard tab = ControllerRig::card(0xC0000001u, 12, "Browser");
  tab.state = WindowState::browserTab;
  tab.tab = WindowCard::TabFacts{};
  tab.title = "Release notes";
  rig.cards.list.cards.push_back(tab);
  rig.textures.sites[0xC0000001u] = "news.example.org";
  rig.store.set("tabsDisplay", std::string("whileSearching"));
  rig.summon();
  OverlayController& c = *rig.controller;
  EXPECT_EQ(shownIDs(rig), (std::vector<uint32_t>{101, 102, 103}));
  c.setSearching(true);
  type(rig, " ");  // only a space: no terms, but the tab cards come in
  EXPECT_EQ(shownIDs(rig), (std::vector<uint32_t>{101, 102, 103, 0xC0000001u}));
  type(rig, "example");  // the tab's site is searched
  EXPECT_EQ(shownIDs(rig), (std::vector<uint32_t>{0xC0000001u}));
  c.deleteBackward();
  c.setSearching(false);
  EXPECT_EQ(shownIDs(rig), (std::vector<uint32_t>{101, 102, 103}));
  // The card in front stays selected where it moved to.
  c.setSearching(true);
  type(rig, "gamma");
  EXPECT_EQ(shownIDs(rig), (std::vector<uint32_t>{103}));
  c.setSearching(false);
  EXPECT_EQ(selected(rig), 2);
}

// The chrome on screen is painted again after the search opens, after each key and after the
// caret moves, for as long as its animations run, and not before the next change.
TEST(OverlayControllerSearch, TheChromeIsPaintedAgainAfterEachChangeOfTheQuery) {
  ControllerRig rig;
  rig.summon();
  rig.runTo(rig.now(), 2);
  int painted = rig.scene().chromes;
  view(rig).beginSearch();
  rig.runTo(rig.now(), 1);
  EXPECT_GT(rig.scene().chromes, painted + 1) << "the search capsule grows over 0.2 s";
  for (const std::string& text : {std::string("a"), std::string("b")}) {
    painted = rig.scene().chromes;
    view(rig).keyDown(OverlayKeyEvent{0, 0, text});
    rig.runTo(rig.now(), 1);
    EXPECT_GT(rig.scene().chromes, painted) << text;
  }
  EXPECT_EQ(rig.controller->searchField(), (SearchField{"ab", 2}));
  painted = rig.scene().chromes;
  rig.controller->setSearchCaret(view(rig), 1);
  rig.runTo(rig.now(), 1);
  EXPECT_GT(rig.scene().chromes, painted);
  painted = rig.scene().chromes;
  rig.runTo(rig.now(), 2);
  EXPECT_EQ(rig.scene().chromes, painted);
}

// ---- Window actions ----

struct ActionRig : ControllerRig {
  ActionRig() {
    for (WindowCard& c : cards.list.cards) c.ax = AXHandle::make(nullptr);
  }
  // Summons and lets the refresh that follows every summon end.
  void summonAndSettle() {
    summon();
    runTo(now(), 0.4);
    cards.finishRefreshes();
    loop.runUntilIdle();
  }
};

TEST(OverlayControllerWindowActions, ACloseThatTheWindowRefusesMakesTheSwitcherStepAside) {
  ActionRig rig;
  LogCapture log;
  rig.summonAndSettle();
  OverlayController& c = *rig.controller;
  c.step(1);
  c.windowAction(0);  // W on Beta
  // The card leaves at once and the card now at its place is selected.
  EXPECT_EQ(shownIDs(rig), (std::vector<uint32_t>{101, 103}));
  EXPECT_EQ(selected(rig), 1);
  EXPECT_TRUE(log.contains("close window of Beta"));
  EXPECT_EQ(rig.windowActions.calls, std::vector<std::string>{"close"});
  // The close is carried out; 1.5 s later the registry refreshes; the window is still there.
  const Instant closed = rig.now();
  rig.windowActions.finish();
  rig.runTo(closed, 1.4);
  EXPECT_TRUE(rig.cards.refreshes.empty());
  rig.runTo(closed, 1.5);
  ASSERT_EQ(rig.cards.refreshes.size(), 1u);
  rig.cards.finishRefreshes();
  rig.loop.runUntilIdle();
  EXPECT_TRUE(log.contains("a closed window is still there, leaving the switcher so the app can be answered"));
  EXPECT_EQ(rig.desktop.activated, std::vector<int32_t>{11});
  EXPECT_FALSE(c.isVisible());
  EXPECT_TRUE(c.closedWindowIDs().empty());
}

TEST(OverlayControllerWindowActions, ClosingTheLastCardsAndAClosedWindowThatWent) {
  ActionRig rig;
  rig.summonAndSettle();
  OverlayController& c = *rig.controller;
  c.step(2);
  c.windowAction(0);
  EXPECT_EQ(selected(rig), 1);  // the new last card
  rig.windowActions.finish();
  rig.runTo(rig.now(), 1.5);
  rig.cards.list.cards.pop_back();  // the window really closed
  rig.cards.finishRefreshes();
  rig.loop.runUntilIdle();
  EXPECT_TRUE(c.isVisible());
  EXPECT_EQ(shownIDs(rig), (std::vector<uint32_t>{101, 102}));
  c.windowAction(0);
  c.windowAction(0);
  EXPECT_TRUE(c.presentedCards().empty());
  EXPECT_FALSE(view(rig).emptyCapsule.hidden);
  // Two closes in quick succession: one refresh, 1.5 s after the later one was carried out.
  rig.windowActions.finish();
  rig.runTo(rig.now(), 1.5);
  EXPECT_EQ(rig.cards.refreshes.size(), 1u);
}

TEST(OverlayControllerWindowActions, MinimizeThenRestoreAndRefusals) {
  ActionRig rig;
  LogCapture log;
  rig.summonAndSettle();
  OverlayController& c = *rig.controller;
  c.windowAction(1);
  EXPECT_TRUE(log.contains("minimize window of Alpha"));
  EXPECT_EQ(shownIDs(rig).size(), 3u);  // the card stays
  rig.windowActions.finish();
  rig.runTo(rig.now(), 1.5);
  rig.cards.list.cards[0].state = WindowState::minimized;
  rig.cards.finishRefreshes();
  rig.loop.runUntilIdle();
  EXPECT_EQ(c.presentedCards()[0].state, WindowState::minimized);
  c.windowAction(1);
  EXPECT_TRUE(log.contains("restore window of Alpha"));
  EXPECT_EQ(rig.windowActions.calls, (std::vector<std::string>{"minimize", "restore"}));
  // The program's own window goes through its own application object; restored a moment ago, it is
  // minimized again.
  rig.windowActions.own = OwnWindow{101, true};
  c.windowAction(1);
  EXPECT_EQ(rig.windowActions.calls.back(), "minimizeOwn 101");
  // A card without a handle is refused with a beep and a log line.
  WindowCard& beta = const_cast<WindowCard&>(c.presentedCards()[1]);
  beta.ax = nullptr;
  c.step(1);
  c.windowAction(0);
  EXPECT_TRUE(log.contains("Refused close: actsOnItsOwnWindow=true hasHandle=false"));
  EXPECT_EQ(rig.windowActions.beeps, 1);
  EXPECT_EQ(shownIDs(rig).size(), 3u);
}

TEST(OverlayControllerWindowActions, NothingWhenTurnedOffOrAfterTheOverlayWent) {
  ActionRig rig;
  LogCapture log;
  rig.store.set("windowActionsEnabled", false);
  rig.summonAndSettle();
  rig.controller->windowAction(0);
  EXPECT_TRUE(rig.windowActions.calls.empty());
  EXPECT_FALSE(log.contains("close window of Alpha"));
  rig.store.set("windowActionsEnabled", true);
  rig.controller->cancel();
  rig.runTo(rig.now(), 2);
  rig.summonAndSettle();
  rig.controller->windowAction(0);
  rig.controller->cancel();
  rig.windowActions.finish();  // the close ends after the overlay went: no follow-up
  rig.runTo(rig.now(), 3);
  EXPECT_TRUE(rig.cards.refreshes.empty());
}

// ---- Pointer routes ----

TEST(OverlayControllerPointer, ClicksBringBuriedCardsForwardCommitFrontCardsAndCancelBesideThem) {
  ControllerRig rig;
  rig.summon();
  OverlayController& c = *rig.controller;
  FakeScene& scene = *rig.liveScenes.back();
  const Size size{1440, 900};
  scene.cardUnderPointer = 2;
  scene.buried = {2};
  c.click({10, 10}, size);
  EXPECT_TRUE(c.isVisible());
  EXPECT_EQ(selected(rig), 2);
  EXPECT_EQ(rig.haptics, 1);
  scene.buried.clear();
  c.click({10, 10}, size);
  ASSERT_EQ(rig.picked.size(), 1u);
  EXPECT_EQ(rig.picked[0].id, 103u);
  rig.runTo(rig.now(), 2);
  // Beside the cards: the application that was in front comes back.
  rig.summon();
  rig.liveScenes.back()->cardUnderPointer.reset();
  c.click({10, 10}, size);
  EXPECT_FALSE(c.isVisible());
  EXPECT_EQ(rig.desktop.activated, std::vector<int32_t>{11});
}

TEST(OverlayControllerPointer, BadgesAndMiddleClicksActOnTheCardUnderThePointer) {
  ActionRig rig;
  LogCapture log;
  rig.summonAndSettle();
  OverlayController& c = *rig.controller;
  FakeScene& scene = *rig.liveScenes.back();
  scene.badge = std::pair(1, CardAction::minimize);
  c.click({5, 5}, {100, 100});
  EXPECT_EQ(rig.windowActions.calls, std::vector<std::string>{"minimize"});
  scene.badge.reset();
  scene.cardUnderPointer.reset();
  c.middleClick({5, 5}, {100, 100});
  EXPECT_TRUE(log.contains("Middle click landed on no card, so nothing was closed"));
  scene.cardUnderPointer = 2;
  scene.buried = {2};
  c.middleClick({5, 5}, {100, 100});
  EXPECT_EQ(rig.windowActions.calls.size(), 1u);  // only brought forward
  EXPECT_EQ(selected(rig), 2);
  scene.buried.clear();
  c.middleClick({5, 5}, {100, 100});
  EXPECT_EQ(rig.windowActions.calls.back(), "close");
  EXPECT_EQ(shownIDs(rig), (std::vector<uint32_t>{101, 102}));
}

TEST(OverlayControllerPointer, HoverHighlightsOrRecentresOnlyWhenSomethingChanges) {
  ControllerRig rig;
  rig.summon();
  OverlayController& c = *rig.controller;
  FakeScene& scene = *rig.liveScenes.back();
  scene.cardUnderPointer = 1;
  EXPECT_TRUE(c.hoverSelect({1, 1}, {10, 10}));
  EXPECT_EQ(selected(rig), 1);
  EXPECT_FALSE(c.hoverSelect({1, 1}, {10, 10}));  // already highlighted
  scene.cardUnderPointer.reset();
  EXPECT_FALSE(c.hoverSelect({1, 1}, {10, 10}));
  rig.controller->cancel();
  rig.runTo(rig.now(), 2);
  rig.store.set("hoverSelectMode", std::string("recenter"));
  rig.summon();
  FakeScene& again = *rig.liveScenes.back();
  again.cardUnderPointer = 0;
  EXPECT_FALSE(c.hoverSelect({1, 1}, {10, 10}));  // already in front
  again.cardUnderPointer = 2;
  EXPECT_TRUE(c.hoverSelect({1, 1}, {10, 10}));
  EXPECT_EQ(selected(rig), 2);
}

TEST(OverlayControllerPointer, ADragRestingOnACardCommitsItInDwellMode) {
  ControllerRig rig;
  LogCapture log;
  rig.store.set("dragCommitMode", std::string("dwell"));
  rig.summon();
  OverlayController& c = *rig.controller;
  FakeScene& scene = *rig.liveScenes.back();
  c.dragEntered();
  EXPECT_TRUE(c.isDragging());
  scene.cardUnderPointer = 1;
  const Instant first = rig.now();
  EXPECT_TRUE(c.dragUpdate({1, 1}, {10, 10}));
  rig.runTo(first, 0.5);
  EXPECT_TRUE(c.dragUpdate({1, 1}, {10, 10}));  // resting: the wait is not restarted
  scene.cardUnderPointer = 2;
  rig.runTo(first, 0.6);
  const Instant second = rig.now();
  EXPECT_TRUE(c.dragUpdate({1, 1}, {10, 10}));  // another card: the wait starts again
  rig.runTo(first, 0.8);
  EXPECT_TRUE(c.isVisible());
  // Over empty space the dwell is cancelled; back on a card it starts again.
  scene.cardUnderPointer.reset();
  EXPECT_FALSE(c.dragUpdate({1, 1}, {10, 10}));
  rig.runTo(second, 1.0);
  EXPECT_TRUE(c.isVisible());
  scene.cardUnderPointer = 2;
  c.dragUpdate({1, 1}, {10, 10});
  rig.runTo(rig.now(), 0.8);
  EXPECT_TRUE(log.contains("drag rested on index 2: raising its window and standing aside"));
  ASSERT_EQ(rig.picked.size(), 1u);
  EXPECT_EQ(rig.picked[0].id, 103u);
  EXPECT_FALSE(c.isVisible());
}

TEST(OverlayControllerPointer, ADropCommitsOnlyOverACardAndLeavingClearsTheDwell) {
  ControllerRig rig;
  rig.store.set("dragCommitMode", std::string("dwell"));
  rig.summon();
  OverlayController& c = *rig.controller;
  FakeScene& scene = *rig.liveScenes.back();
  c.dragEntered();
  scene.cardUnderPointer = 1;
  c.dragUpdate({1, 1}, {10, 10});
  c.dragExited();
  EXPECT_FALSE(c.isDragging());
  rig.runTo(rig.now(), 2);
  EXPECT_TRUE(c.isVisible());
  c.dragEntered();
  scene.cardUnderPointer.reset();
  c.drop({1, 1}, {10, 10});
  EXPECT_FALSE(c.isDragging());
  EXPECT_TRUE(c.isVisible());
  scene.cardUnderPointer = 1;
  c.drop({1, 1}, {10, 10});
  ASSERT_EQ(rig.picked.size(), 1u);
  EXPECT_EQ(rig.picked[0].id, 102u);
}

// ---- Steps ----

// Tab, Shift+Tab, the key above Tab and a further press of the shortcut go round from one end of
// the cards to the other in every arrangement; the arrows keep stopping at the ends of the
// arrangements that stop there. The selection, the title and what a release commits agree.
TEST(OverlayControllerSteps, KeyboardStepsGoRoundInEveryArrangementAndTheArrowsStillStop) {
  const struct {
    const char* style;
    bool stopsAtTheEnds;
  } arrangements[] = {{"coverArc", true}, {"tangentRing", false}, {"flatRing", false}, {"flip3d", true},
                      {"cylinder", false}, {"expo", true},        {"row", true}};
  constexpr int64_t kTab = 48, kAboveTab = 50, kLeft = 123, kRight = 124;
  const struct {
    const char* name;
    int from;
    std::function<void(ControllerRig&)> press;
    int to;
  } steps[] = {
      {"Tab from the last", 2, [](ControllerRig& r) { view(r).keyDown(OverlayKeyEvent{kTab, 0}); }, 0},
      {"Shift+Tab from the first", 0,
       [](ControllerRig& r) { view(r).keyDown(OverlayKeyEvent{kTab, OverlayModifiers::shift}); }, 2},
      {"the key above Tab from the first", 0, [](ControllerRig& r) { view(r).keyDown(OverlayKeyEvent{kAboveTab, 0}); },
       2},
      {"a further press from the last", 2, [](ControllerRig& r) { r.controller->stepSelection(1); }, 0},
  };
  for (const auto& arrangement : arrangements) {
    for (const auto& step : steps) {
      const std::string name = std::string(arrangement.style) + ", " + step.name;
      ControllerRig rig;
      rig.store.set("switcherStyle", std::string(arrangement.style));
      rig.cards.list.currentIndex = step.from;  // "Hold stays on current" starts on it
      rig.summon();
      ASSERT_EQ(selected(rig), step.from) << name;
      step.press(rig);
      EXPECT_EQ(selected(rig), step.to) << name;
      const WindowCard shown = rig.controller->presentedCards()[static_cast<size_t>(step.to)];
      rig.controller->onFocusChange(selected(rig), FocusChangeSource::keyboard);
      EXPECT_EQ(view(rig).titleCapsule.attributedText().text, OverlayController::titleText(shown.appName, shown.title))
          << name;
      rig.controller->onHotkeyRelease();
      ASSERT_EQ(rig.picked.size(), 1u) << name;
      EXPECT_EQ(rig.picked[0].id, shown.id) << name;
    }
    if (!arrangement.stopsAtTheEnds) continue;
    ControllerRig rig;
    rig.store.set("switcherStyle", std::string(arrangement.style));
    rig.cards.list.currentIndex = 2;
    rig.summon();
    view(rig).keyDown(OverlayKeyEvent{kRight, 0});
    EXPECT_EQ(selected(rig), 2) << arrangement.style << ", the right arrow on the last";
    rig.controller->step(1);  // round to the first
    view(rig).keyDown(OverlayKeyEvent{kLeft, 0});
    EXPECT_EQ(selected(rig), 0) << arrangement.style << ", the left arrow on the first";
  }
}

// ---- Focus follow-ups ----

TEST(OverlayControllerFollowUps, TheTitleNamesTheApplicationAndADifferentTitle) {
  EXPECT_EQ(OverlayController::titleText("Editor", "Report"), "Editor \u00b7 Report");
  EXPECT_EQ(OverlayController::titleText("Editor", "EDITOR"), "Editor");
  EXPECT_EQ(OverlayController::titleText("Editor", "   "), "Editor");
  EXPECT_EQ(OverlayController::titleText("  Editor ", "\tReport \n"), "Editor \u00b7 Report");
  ControllerRig rig;
  rig.summon();
  rig.controller->step(1);
  rig.controller->onFocusChange(1, FocusChangeSource::keyboard);
  EXPECT_EQ(view(rig).titleCapsule.attributedText().text, "Beta \u00b7 Beta window");
}

TEST(OverlayControllerFollowUps, TheLiveStreamStartsOnlyOnAFocusThatRestsAndStopsWhenItsCardLeftFront) {
  ControllerRig rig;
  rig.summon();
  OverlayController& c = *rig.controller;
  EXPECT_FALSE(rig.pictures.live);  // 150 ms first
  rig.runTo(rig.now(), 0.15);
  EXPECT_EQ(rig.pictures.live, 101u);
  EXPECT_EQ(rig.scene().livePreview, true);
  // Stepping quickly through the cards starts nothing until the focus rests.
  const int starts = rig.pictures.starts;
  for (int i = 0; i < 5; ++i) {
    c.step(1);
    c.onFocusChange(selected(rig), FocusChangeSource::keyboard);
    rig.runTo(rig.now(), 0.1);
  }
  EXPECT_EQ(rig.pictures.starts, starts);
  rig.runTo(rig.now(), 0.05);
  EXPECT_EQ(rig.pictures.starts, starts + 1);
  EXPECT_EQ(rig.pictures.live, rig.controller->presentedCards()[static_cast<size_t>(selected(rig))].id);
  // A start that returns after its card left the front (the focus moved, not yet reported): the
  // stream is stopped.
  rig.pictures.holdStarts = true;
  c.onFocusChange(selected(rig), FocusChangeSource::keyboard);
  rig.runTo(rig.now(), 0.15);
  c.step(-1);
  rig.pictures.releaseStarts();
  rig.loop.runUntilIdle();
  EXPECT_FALSE(rig.pictures.live);
  EXPECT_EQ(rig.scene().livePreview, false);
  // And after the overlay went, whatever the order, no stream runs.
  c.onFocusChange(selected(rig), FocusChangeSource::keyboard);
  rig.runTo(rig.now(), 0.15);
  c.cancel();
  rig.pictures.releaseStarts();
  rig.runTo(rig.now(), 2);
  EXPECT_FALSE(rig.pictures.live);
}

TEST(OverlayControllerFollowUps, AWindowOpenedAfterTheSummonJoinsTheEndWithItsTextures) {
  ControllerRig rig;
  rig.store.set("labelPlaceholders", true);
  rig.store.set("tabsDisplay", std::string("off"));
  rig.summon();
  const Instant shown = rig.now();
  rig.cards.list.cards.push_back(ControllerRig::card(104, 14, "Delta"));
  rig.runTo(shown, 0.39);
  EXPECT_TRUE(rig.cards.refreshes.empty());
  rig.runTo(shown, 0.4);
  ASSERT_EQ(rig.cards.refreshes.size(), 1u);
  const size_t iconRequests = rig.textures.icons.size();
  rig.cards.finishRefreshes();
  rig.loop.runUntilIdle();
  EXPECT_EQ(shownIDs(rig), (std::vector<uint32_t>{101, 102, 103, 104}));
  ASSERT_EQ(rig.textures.icons.size(), iconRequests + 1);
  EXPECT_EQ(rig.textures.icons.back().back().pid, 14);
  EXPECT_EQ(rig.pictures.refreshCaptureLists.size(), 1u);
  ASSERT_EQ(rig.textures.siteIconRequests.size(), 1u);
  EXPECT_FALSE(rig.textures.siteIconRequests[0]);  // no site icons while tabs are off
}

}  // namespace
}  // namespace quorvel
