#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "windows/RegistryFixture.h"

namespace quorvel {
namespace {

using namespace std::chrono_literals;
using Ids = std::vector<uint32_t>;

class WindowRegistryTest : public RegistryFixture {};

// ---- Start and release ----

TEST_F(WindowRegistryTest, StartRunsTheFirstPassAtOnceAndOnlyOnce) {
  SimApp& mail = launch(100, "Mail");
  SimWindow& inbox = open(mail, "Inbox");
  EXPECT_FALSE(hooks.hasDidRaiseWindow());

  start();
  EXPECT_EQ(cardIDs(), Ids{inbox.number});
  EXPECT_EQ(sim.shareableContentRequests(), 1);
  EXPECT_TRUE(hooks.hasDidRaiseWindow());
  EXPECT_TRUE(hooks.hasDidPressTab());

  // A second start adds no observers and no second loop: one pass per tick, one pass per launch.
  start();
  const size_t before = passesBegun();
  loop.advance(2s);
  EXPECT_EQ(passesBegun(), before + 1);
  launch(101, "Notes");
  settle();
  EXPECT_EQ(passesBegun(), before + 2);
}

TEST_F(WindowRegistryTest, ReleasingTheRegistryEndsItsLoopAndEveryClosure) {
  SimApp& mail = launch(100, "Mail");
  open(mail, "Inbox");
  start();
  std::weak_ptr<WindowRegistry> weak = registry;
  registry.reset();
  settle();
  EXPECT_TRUE(weak.expired());
  const size_t before = passesBegun();
  // Observers, activator callbacks and the loop all find the registry gone.
  launch(101, "Notes");
  hooks.didRaiseWindow(5, 100);
  hooks.didPressTab(0xC0000001, 5);
  store.set(AppSettings::Key::minimizedDisplay, "hide");
  loop.advance(30s);
  EXPECT_EQ(passesBegun(), before);
}

TEST_F(WindowRegistryTest, TheRunningLoopFollowsTheDesktop) {
  SimApp& mail = launch(100, "Mail");
  SimWindow& inbox = open(mail, "Inbox");
  start();
  ASSERT_EQ(cardIDs(), Ids{inbox.number});

  // A new window shows at the next tick; a minimized one changes state.
  SimWindow& draft = open(mail, "Draft");
  loop.advance(2s);
  EXPECT_EQ(card(draft.number)->state, WindowState::onCurrentSpace);
  draft.minimize();
  loop.advance(2s);
  EXPECT_EQ(card(draft.number)->state, WindowState::minimized);

  // A launch and a quit are seen at once, without waiting for a tick.
  SimApp& notes = launch(101, "Notes");
  settle();
  EXPECT_TRUE(card(WindowCard::applicationCardID(101)));
  SimWindow& list = open(notes, "List");
  loop.advance(2s);
  EXPECT_TRUE(card(list.number));
  EXPECT_FALSE(card(WindowCard::applicationCardID(101)));
  sim.quitApp(101);
  settle();
  EXPECT_FALSE(card(list.number));

  // Hiding and unhiding; a closed window goes.
  mail.hide();
  loop.advance(2s);
  EXPECT_EQ(card(inbox.number)->state, WindowState::hiddenApp);
  mail.unhide();
  loop.advance(2s);
  EXPECT_EQ(card(inbox.number)->state, WindowState::onCurrentSpace);
  inbox.close();
  loop.advance(2s);
  EXPECT_EQ(cardIDs(), Ids{draft.number});

  // Quiet for a minute: the loop slows to one tick every 10 s.
  loop.advance(70s);
  EXPECT_EQ(withState([](RegistryState& s) { return s.lastInterval; }), std::chrono::seconds(10));
}

// ---- Visits, recency and leave captures ----

TEST_F(WindowRegistryTest, VisitsKeepAShortRecencyListWithoutRepeats) {
  for (uint32_t id = 1; id <= 70; ++id) registry->noteVisit(id);
  registry->noteVisit(68);
  const Ids recency = recencyIDs();
  ASSERT_EQ(recency.size(), 64u);
  EXPECT_EQ(recency[0], 68u);
  EXPECT_EQ(recency[1], 70u);
  EXPECT_EQ(recency[2], 69u);
  EXPECT_EQ(recency.back(), 7u);
  EXPECT_EQ(withState([](RegistryState& s) { return s.recency.visitCounter(); }), 71u);
  EXPECT_EQ(withState([](RegistryState& s) { return s.recency.visitTicks().at(68); }), 71u);
}

TEST_F(WindowRegistryTest, LeavingAWindowQueuesItsPictureOnceEveryTwoSeconds) {
  auto pending = [&] { return withState([](RegistryState& s) { return s.leaveCaptures.pending(); }); };
  registry->noteVisit(1);  // A
  registry->noteVisit(2);  // B: A left
  registry->noteVisit(1);  // B left
  registry->noteVisit(2);  // A left again within 2 s: nothing
  EXPECT_EQ(pending(), (Ids{1, 2}));
  loop.advance(2s);
  registry->noteVisit(1);  // B left again, 2 s after its first leave: queued again, at the end
  EXPECT_EQ(pending(), (Ids{1, 2}));
  registry->noteVisit(1);  // the same window again: no leave
  EXPECT_EQ(pending(), (Ids{1, 2}));

  // At most eight, the oldest dropped.
  for (uint32_t id = 10; id <= 20; ++id) registry->noteVisit(id);
  EXPECT_EQ(pending(), (Ids{12, 13, 14, 15, 16, 17, 18, 19}));

  // With the setting off visits still count but queue nothing.
  set(AppSettings::Key::refreshPictureOnLeave, false);
  withState([](RegistryState& s) {
    s.leaveCaptures.takePending();
    return 0;
  });
  registry->noteVisit(30);
  registry->noteVisit(31);
  EXPECT_TRUE(pending().empty());
  EXPECT_EQ(recencyIDs()[0], 31u);
}

TEST_F(WindowRegistryTest, FocusChangesCreditOnlyNewCurrentDesktopWindows) {
  SimApp& mail = launch(100, "Mail");
  SimWindow& a = open(mail, "A");
  SimWindow& b = open(mail, "B");
  const int64_t other = sim.addDesktop(1);
  SimWindow& c = open(mail, "C");
  c.moveToDesktop(other);
  pass();
  const uint64_t counter = withState([](RegistryState& s) { return s.recency.visitCounter(); });

  // The focus observer delivers on the Accessibility queue.
  auto focus = [&](uint32_t windowID) {
    funnel.queue().post([&, windowID] { registry->focusSink(windowID, 100); });
    settle();
  };
  focus(a.number);
  EXPECT_EQ(recencyIDs()[0], a.number);
  focus(a.number);    // already at the head: no step
  focus(c.number);    // on another desktop: not credited
  focus(999);         // no card at all
  EXPECT_EQ(withState([](RegistryState& s) { return s.recency.visitCounter(); }), counter + 1);
  EXPECT_EQ(recencyIDs()[0], a.number);
  // A change heard of before a newer visit, delivered after it, credits nothing.
  const Instant heard = loop.clock().now();
  loop.advance(1s);
  funnel.queue().post([&] {
    registry->noteVisit(c.number);
    registry->focusSink(b.number, 100, heard);
  });
  settle();
  EXPECT_EQ(recencyIDs()[0], c.number) << "a late focus change turned the order around";
  // So does one heard of late, once the platform says another window has the focus now.
  sim.reportFocus(WindowFocus{b.number});
  focus(a.number);
  EXPECT_EQ(recencyIDs()[0], c.number) << "a report for a window that lost the focus was credited";
  sim.reportFocus(WindowFocus{});  // no window has it, as between two windows
  focus(a.number);
  EXPECT_EQ(recencyIDs()[0], c.number) << "a report for a window that lost the focus to none was credited";
  sim.reportFocus(std::nullopt);

  // Through the focus observer: the application's focused-window notification reaches the sink.
  start();
  b.focus();
  settle();
  EXPECT_EQ(recencyIDs()[0], b.number);
}

TEST_F(WindowRegistryTest, ActivationCreditsTheRaisedWindowForOneSecond) {
  SimApp& mail = launch(100, "Mail");
  SimWindow& a = open(mail, "A");
  SimWindow& b = open(mail, "B");  // front-most
  pass();
  start();

  hooks.didRaiseWindow(a.number, 100);  // the activator raised A; the front-most is still B
  EXPECT_EQ(recencyIDs()[0], a.number);
  registry->noteVisit(77);
  loop.advance(999ms);
  registry->onAppActivated(100);
  EXPECT_EQ(recencyIDs()[0], a.number);

  registry->noteVisit(77);
  loop.advance(1ms);  // one second after the raise: the front-most window instead
  registry->onAppActivated(100);
  EXPECT_EQ(recencyIDs()[0], b.number);
}

TEST_F(WindowRegistryTest, AnActivationNoticedBeforeTheLastCreditCreditsNothing) {
  SimApp& mail = launch(100, "Mail");
  SimWindow& inbox = open(mail, "Inbox");
  SimApp& notes = launch(200, "Notes");
  SimWindow& note = open(notes, "Note");
  pass();
  start();

  // Mail came forward, but its notice is still on its way when the user moves on to Notes.
  const Instant noticed = loop.clock().now();
  loop.advance(10ms);
  registry->noteVisit(note.number);
  registry->onAppActivated(100, noticed);
  EXPECT_EQ(recencyIDs()[0], note.number);

  // A notice from the time of the last credit or later is credited as always, as is one without a time.
  registry->onAppActivated(100, loop.clock().now());
  EXPECT_EQ(recencyIDs()[0], inbox.number);
  registry->noteVisit(note.number);
  registry->onAppActivated(100);
  EXPECT_EQ(recencyIDs()[0], inbox.number);

  // A notice that waited while the focus moved on to another application credits nothing either.
  registry->noteVisit(note.number);
  sim.reportFocus(WindowFocus{note.number});
  registry->onAppActivated(100);
  EXPECT_EQ(recencyIDs()[0], note.number);
  sim.reportFocus(std::nullopt);

  // The desktop's notice carries the time the activation happened, however late it is delivered.
  std::optional<Instant> delivered;
  Subscription token = sim.services().workspace.addObserver(
      Workspace::Event::didActivateApplication,
      [&](Workspace::Event, const RunningApplication& app) { delivered = app.noticedAt; });
  const Instant activated = loop.clock().now();
  ASSERT_TRUE(sim.activateApp(200));
  loop.clock().setNow(activated + 10ms);
  settle();
  EXPECT_EQ(delivered, activated);
  token.cancel();
}

// Where the platform reports the focus apart from its window list (an X window manager whose
// stacking does not follow the focus), the focused window is the one credited and preselected, never
// the front of the stacking.
TEST_F(WindowRegistryTest, AReportedFocusOutweighsTheStackingOrder) {
  SimApp& mail = launch(100, "Mail");
  SimWindow& inbox = open(mail, "Inbox");
  SimWindow& draft = open(mail, "Draft");
  SimApp& notes = launch(200, "Notes");
  SimWindow& note = open(notes, "Note");  // front-most in the stacking
  sim.reportFocus(WindowFocus{inbox.number}, {{100, inbox.number}});
  pass();
  EXPECT_EQ(recencyIDs(), Ids{inbox.number}) << "the pass credits the focused window";

  // The summon preselects the focused window; the stacking still orders the rest.
  registry->noteVisit(note.number);
  registry->noteVisit(inbox.number);
  WindowRegistry::SummonList summon = registry->cardsForSummon();
  ASSERT_FALSE(summon.cards.empty());
  EXPECT_EQ(summon.cards[summon.currentIndex].id, inbox.number);
  EXPECT_EQ(summon.cards[summon.previousIndex].id, note.number);
  EXPECT_EQ(recencyIDs()[0], inbox.number);

  // Activating Mail credits its front window as the platform knows it, not its top one in the stacking.
  registry->noteVisit(note.number);
  registry->onAppActivated(100);
  EXPECT_EQ(recencyIDs()[0], inbox.number);
  // A front window no longer on screen leaves the stacking to decide.
  ASSERT_TRUE(inbox.minimize());
  registry->noteVisit(note.number);
  registry->onAppActivated(100);
  EXPECT_EQ(recencyIDs()[0], draft.number);

  // Focus on no window (or on one that is no card) credits nothing at a pass.
  sim.reportFocus(WindowFocus{}, {});
  registry->noteVisit(note.number);
  withState([](RegistryState& s) { return s.mustRunNextPass = true; });
  pass();
  EXPECT_EQ(recencyIDs()[0], note.number);
}

TEST_F(WindowRegistryTest, APassReadsWindowsAndDesktopsAsOnePicture) {
  SimApp& mail = launch(100, "Mail");
  SimWindow& inbox = open(mail, "Inbox");
  const int64_t second = sim.addDesktop(1);
  pass();
  ASSERT_EQ(cardIDs(), Ids{inbox.number});

  // The current desktop changes between the reading of the windows and that of the desktops: both
  // are read again.
  int calls = 0;
  const int64_t first = *sim.currentDesktop(1);
  sim.transformManagedDisplaySpaces([&](std::vector<ManagedDisplaySpaces>& displays) {
    if (++calls > 1) displays[0].currentSpaceID = second;
  });
  const int before = sim.shareableContentRequests();
  withState([](RegistryState& s) { return s.mustRunNextPass = true; });
  pass();
  EXPECT_EQ(sim.shareableContentRequests() - before, 2);

  // A desktop that keeps changing leaves the cards as they were, and the next pass reads again.
  SimWindow& draft = open(mail, "Draft");
  sim.transformManagedDisplaySpaces([&](std::vector<ManagedDisplaySpaces>& displays) {
    displays[0].currentSpaceID = ++calls % 2 == 0 ? second : first;
  });
  withState([](RegistryState& s) { return s.mustRunNextPass = true; });
  pass();
  EXPECT_EQ(cardIDs(), Ids{inbox.number});
  EXPECT_TRUE(withState([](RegistryState& s) { return s.mustRunNextPass; }));
  sim.transformManagedDisplaySpaces({});
  pass();
  EXPECT_TRUE(card(draft.number).has_value());
}

TEST_F(WindowRegistryTest, ActivatingThisProgramRecordsNothingButAsksForAPass) {
  SimApp& mail = launch(100, "Mail");
  open(mail, "Inbox");
  pass();
  const Ids before = recencyIDs();
  const size_t passes = passesBegun();
  registry->onAppActivated(kOwnPid);
  EXPECT_EQ(recencyIDs(), before);
  EXPECT_TRUE(withState([](RegistryState& s) { return s.lastWorkspaceNotification.has_value(); }));
  settle();
  EXPECT_EQ(passesBegun(), passes + 1);
}

TEST_F(WindowRegistryTest, TabPressesAndRaisesQueueAtMost512Touches) {
  auto touches = [&] { return withState([](RegistryState& s) { return s.pendingTabTouches; }); };
  withState([](RegistryState& s) {
    s.showingTabByHost[5] = 0xC0000010;
    return 0;
  });
  registry->recordRaise(5, 100);  // a raised browser window touches the tab it shows
  EXPECT_EQ(touches(), Ids{0xC0000010});
  registry->recordTabPress(0xC0000011, 5);
  EXPECT_EQ(withState([](RegistryState& s) { return s.showingTabByHost.at(5); }), 0xC0000011u);
  registry->recordTabPress(6, 6);  // a window standing for its own tab shows no tab
  EXPECT_FALSE(withState([](RegistryState& s) { return s.showingTabByHost.contains(6); }));

  for (uint32_t i = 0; i < 509; ++i) registry->recordTabPress(0xC0001000 + i, 9);
  ASSERT_EQ(touches().size(), 512u);
  registry->recordTabPress(0xC0002000, 9);  // the oldest goes
  EXPECT_EQ(touches().size(), 512u);
  EXPECT_EQ(touches().front(), 0xC0000011u);
  EXPECT_EQ(touches().back(), 0xC0002000u);
  registry->recordRaise(5, 100);  // full: a raise queues nothing
  EXPECT_EQ(touches().front(), 0xC0000011u);
}

// ---- Triggers ----

TEST_F(WindowRegistryTest, OnlyMembershipSettingsForceAPass) {
  SimApp& mail = launch(100, "Mail");
  open(mail, "Inbox");
  start();
  size_t passes = passesBegun();
  const size_t requests = sim.shareableContentRequests();

  set(AppSettings::Key::windowOrder, "alphabetical");  // reorders at summon time only
  set(AppSettings::Key::groupByApp, true);
  settle();
  EXPECT_EQ(passesBegun(), passes);

  set(AppSettings::Key::minimizedDisplay, "hide");
  settle();
  EXPECT_EQ(passesBegun(), passes + 1);
  EXPECT_EQ(sim.shareableContentRequests(), requests + 1);  // forced: not skipped
}

// ---- The pass driver ----

TEST_F(WindowRegistryTest, QuietPassesSkipUntilEveryFifteenthRebuildsAndVerifiesOneProcess) {
  SimApp& mail = launch(120, "Mail");
  open(mail, "Inbox");
  SimApp& notes = launch(300, "Notes");
  open(notes, "List");
  pass();  // the first pass always runs
  EXPECT_EQ(sim.shareableContentRequests(), 1);
  const int axMail = sim.axCalls(120);
  const int axNotes = sim.axCalls(300);

  for (int i = 2; i <= 14; ++i) pass();
  EXPECT_EQ(sim.shareableContentRequests(), 1);
  EXPECT_EQ(skippedPasses(), 13u);
  EXPECT_EQ(withState([](RegistryState& s) { return s.passesSinceForcedRefresh; }), 14);

  pass();  // the 15th: rebuilt, and the lowest process is read afresh
  EXPECT_EQ(sim.shareableContentRequests(), 2);
  EXPECT_EQ(withState([](RegistryState& s) { return s.passesSinceForcedRefresh; }), 0);
  EXPECT_EQ(withState([](RegistryState& s) { return s.lastDeepVerified; }), 120);
  EXPECT_GT(sim.axCalls(120), axMail);
  EXPECT_EQ(sim.axCalls(300), axNotes);

  // A change rebuilds at once without resetting the count or verifying anyone.
  pass();
  SimWindow& second = open(notes, "Second");
  pass();
  EXPECT_EQ(sim.shareableContentRequests(), 3);
  EXPECT_TRUE(card(second.number).has_value());
  EXPECT_EQ(withState([](RegistryState& s) { return s.passesSinceForcedRefresh; }), 2);
  EXPECT_EQ(withState([](RegistryState& s) { return s.lastDeepVerified; }), 120);
  for (int i = 3; i <= 15; ++i) pass();
  EXPECT_EQ(withState([](RegistryState& s) { return s.lastDeepVerified; }), 300);
}

TEST_F(WindowRegistryTest, DeepVerificationTakesProcessesInTurn) {
  std::vector<RegistryState::RawWindow> raw(3);
  raw[0].pid = 300;
  raw[1].pid = 120;
  raw[2].pid = 450;
  std::vector<int32_t> picks;
  for (int i = 0; i < 4; ++i) {
    picks.push_back(*registry->lock().withLock([&] { return registry->pickDeepVerified(raw); }));
  }
  EXPECT_EQ(picks, (std::vector<int32_t>{120, 300, 450, 120}));
  EXPECT_EQ(registry->lock().withLock([&] { return registry->pickDeepVerified({}); }), std::nullopt);
  EXPECT_EQ(withState([](RegistryState& s) { return s.lastDeepVerified; }), 120);
}

TEST_F(WindowRegistryTest, LaunchingAnApplicationForcesTheNextPassWithoutVerification) {
  SimApp& mail = launch(100, "Mail");
  open(mail, "Inbox");
  start();
  const int requests = sim.shareableContentRequests();
  launch(200, "Calculator");  // no window: the window list does not change
  settle();
  EXPECT_EQ(sim.shareableContentRequests(), requests + 1);
  EXPECT_TRUE(card(WindowCard::applicationCardID(200)).has_value());
  EXPECT_EQ(withState([](RegistryState& s) { return s.lastDeepVerified; }), std::nullopt);

  sim.quitApp(200);
  settle();
  EXPECT_FALSE(card(WindowCard::applicationCardID(200)).has_value());
}

TEST_F(WindowRegistryTest, RequestsDuringAPassYieldExactlyOneMorePass) {
  SimApp& mail = launch(100, "Mail");
  open(mail, "Inbox");
  sim.setShareableContentDelay(500ms);
  auto request = [&] {
    return registry->lock().withLock([&] { return registry->requestRefresh(); });
  };
  TaskHandle<void> first = request();
  settle();  // the pass now waits for the capture service
  EXPECT_FALSE(first.isDone());
  EXPECT_EQ(request(), first);
  EXPECT_EQ(request(), first);
  withState([](RegistryState& s) {
    s.mustRunNextPass = true;
    return 0;
  });
  loop.advance(2s);
  EXPECT_TRUE(first.isDone());
  EXPECT_EQ(passesBegun(), 2u);
  EXPECT_EQ(sim.shareableContentRequests(), 2);
  // The task is gone: the next request starts a new one.
  EXPECT_FALSE(request() == first);
  settle();
}

TEST_F(WindowRegistryTest, WithoutScreenRecordingTheCardsStayAndTheForcedFlagWaits) {
  SimApp& mail = launch(100, "Mail");
  SimWindow& inbox = open(mail, "Inbox");
  pass();
  sim.setScreenRecordingGranted(false);
  open(mail, "Draft");
  withState([](RegistryState& s) {
    s.mustRunNextPass = true;
    return 0;
  });
  pass();
  EXPECT_EQ(sim.shareableContentRequests(), 1);
  EXPECT_EQ(cardIDs(), Ids{inbox.number});
  // The pass that consumed the forced flag could not finish: the flag waits for the next pass.
  EXPECT_TRUE(withState([](RegistryState& s) { return s.mustRunNextPass; }));
}

TEST_F(WindowRegistryTest, AFailedContentRequestKeepsTheCardsAndTheForcedFlag) {
  sim.setWindowListAvailable(false);  // every pass sees the same (unavailable) window list
  SimApp& mail = launch(100, "Mail");
  SimWindow& inbox = open(mail, "Inbox");
  pass();
  ASSERT_EQ(cardIDs(), Ids{inbox.number});

  SimWindow& draft = open(mail, "Draft");
  sim.failShareableContent("busy", 1);
  withState([](RegistryState& s) {
    s.mustRunNextPass = true;
    return 0;
  });
  pass();
  EXPECT_EQ(cardIDs(), Ids{inbox.number});
  // Without the flag handed on, this pass would be skipped with the draft missing.
  pass();
  EXPECT_EQ(cards().size(), 2u);
  EXPECT_TRUE(card(draft.number).has_value());
}

TEST_F(WindowRegistryTest, AnEmptyWindowListEmptiesTheCardsAndTheNextPassLooksAgain) {
  sim.setWindowListAvailable(false);
  SimApp& mail = launch(100, "Mail");
  SimWindow& inbox = open(mail, "Inbox");
  pass();
  inbox.close();
  withState([](RegistryState& s) {
    s.mustRunNextPass = true;  // as a launch would
    return 0;
  });
  pass();  // finds no window at all
  EXPECT_TRUE(cards().empty());
  EXPECT_EQ(withState([](RegistryState& s) { return s.lastFingerprint; }), std::nullopt);

  // A window comes back while the window list still reads the same: the next pass shows it.
  SimWindow& again = open(mail, "Inbox again");
  pass();
  EXPECT_TRUE(card(again.number).has_value());
}

TEST_F(WindowRegistryTest, SmallWindowsNeverBecomeCards) {
  SimApp& mail = launch(100, "Mail");
  SimWindow& narrow = mail.openWindow({.title = std::string("narrow"), .frame = {0, 0, 59, 400}});
  SimWindow& flat = mail.openWindow({.title = std::string("flat"), .frame = {0, 0, 400, 59.9}});
  SimWindow& square = mail.openWindow({.title = std::string("square"), .frame = {0, 0, 60, 60}});
  pass();
  EXPECT_EQ(cardIDs(), Ids{square.number});
  EXPECT_FALSE(card(narrow.number) || card(flat.number));

  // Windows without an owner or off layer 0 are left out too.
  std::vector<ShareableWindow> windows(3);
  windows[0] = {.windowID = 1, .frame = {0, 0, 100, 100}, .owningApplication = ShareableApplication{7, "A", ""}};
  windows[1] = {.windowID = 2, .frame = {0, 0, 100, 100}};
  windows[2] = {.windowID = 3, .frame = {0, 0, 100, 100}, .windowLayer = 3,
                .owningApplication = ShareableApplication{7, "A", "a"}};
  const auto raw = WindowRegistry::rawWindows(windows);
  ASSERT_EQ(raw.size(), 1u);
  EXPECT_EQ(raw[0].bundleID, std::nullopt);  // an empty identifier is none
  EXPECT_EQ(raw[0].title, "");
}

TEST_F(WindowRegistryTest, TouchesAndLeaveCapturesPassOnEvenWhenThePassIsSkipped) {
  SimApp& mail = launch(100, "Mail");
  SimWindow& a = open(mail, "A");
  SimWindow& b = open(mail, "B");
  std::vector<std::vector<uint32_t>> captured;
  registry->setLeaveCaptureSink([&](std::vector<WindowCard> cards, std::unordered_map<uint32_t, uint32_t>,
                                    std::unordered_map<uint32_t, uint64_t> ticks) {
    captured.push_back(idsOf(cards));
    EXPECT_FALSE(ticks.empty());
  });
  pass();
  registry->noteVisit(a.number);
  registry->noteVisit(b.number);
  registry->recordTabPress(0xC0000001, b.number);
  const size_t skipped = skippedPasses();
  pass();
  EXPECT_EQ(skippedPasses(), skipped + 1);
  // The pass credited the front-most window (B); then B and A were left, in card order.
  EXPECT_EQ(captured, (std::vector<std::vector<uint32_t>>{{b.number, a.number}}));
  EXPECT_TRUE(withState([](RegistryState& s) {
    return s.leaveCaptures.pending().empty() && s.pendingTabTouches.empty();
  }));
  EXPECT_EQ(withState([](RegistryState& s) { return s.tabRecency->size(); }), 1u);
}

TEST_F(WindowRegistryTest, TheTickFollowsIdleTimeAndWorkspaceQuiet) {
  sim.setIdleSeconds(30.0);
  EXPECT_EQ(registry->tickInterval(), 2s);
  sim.setIdleSeconds(90.0);
  EXPECT_EQ(registry->tickInterval(), 10s);
  registry->onAppLaunchedOrTerminated();
  EXPECT_EQ(registry->tickInterval(), 2s);
  EXPECT_EQ(withState([](RegistryState& s) { return s.lastInterval; }), 2s);
  settle();

  sim.setIdleSeconds(std::nullopt);
  loop.advance(120s);
  logs.clear();
  EXPECT_EQ(registry->tickInterval(), 2s);
  EXPECT_EQ(registry->tickInterval(), 2s);
  EXPECT_EQ(logs.count("Idle time unavailable: the refresh tick stays on its fast cadence"), 2u);
}

}  // namespace
}  // namespace quorvel
