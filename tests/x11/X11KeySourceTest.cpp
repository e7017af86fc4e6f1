#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <thread>

#include <xcb/xtest.h>

#include "X11PlatformTest.h"
#include "app/HotkeyManager.h"
#include "base/DefaultsStore.h"
#include "base/LogCapture.h"
#include "base/ManualLoop.h"
#include "platform/x11/X11KeySource.h"
#include "platform/x11/X11ModifierMap.h"
#include "platform/x11/X11Workspace.h"

namespace quorvel {
namespace {

using namespace std::chrono_literals;
using Calls = std::vector<std::string>;

// The key stream of a real X session, driven by XTest through xdotool, with an xterm in front that
// writes every byte it receives to a file: what the focused application got.
class X11KeySourceTest : public X11PlatformTest {
 protected:
  void SetUp() override {
    X11PlatformTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    typedPath = session->folder() + "/typed";
    const std::string record = "stty raw -echo; exec cat > '" + typedPath + "'";
    terminal = session->launchXterm("Recorder", "Recorder", {"-xrm", "*metaSendsEscape: true"},
                                    {"sh", "-c", record});
    ASSERT_TRUE(terminal) << session->log("xterm");
    ASSERT_TRUE(activate(*terminal));
    // The terminal is ready once its shell has set the line up: a plain key comes through.
    ASSERT_TRUE(X11Session::waitUntil([&] {
      type({"key", "a"});
      return typed().find('a') != std::string::npos;
    }));
    // The wait above may have typed more than one "a" while the terminal started; a marker typed
    // after them arrives after them, so every test measures from a quiet terminal.
    ASSERT_TRUE(settle());
    settings.registerDefaults();
    source = X11KeySource::open(runtime->main(), session->display());
    ASSERT_TRUE(source);
  }
  void TearDown() override {
    manager.reset();
    source.reset();
    X11PlatformTest::TearDown();
  }

  void makeManager() {
    manager = HotkeyManager::create(settings, platform->workspace(), *source, runtime->main());
    manager->onSummon = [this](int direction, HotkeyPress press, AppSettings::HotkeyScope) {
      calls.push_back(std::string("summon ") + (direction > 0 ? "+1" : "-1") +
                      (press == HotkeyPress::backward ? " backward" : ""));
    };
    manager->onModifierRelease = [this] { calls.push_back("release"); };
    manager->onPrewarm = [this] { calls.push_back("prewarm"); };
    manager->onDismissKey = [this](DismissKeyRoute route) {
      calls.push_back("dismiss " + std::to_string(static_cast<int>(route)));
    };
  }

  // Drives the main queue for a moment.
  void run() { runUntil([] { return false; }, 100ms); }
  bool type(const std::vector<std::string>& arguments) {
    std::vector<std::string> argv{"xdotool"};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    return session->runTool(argv);
  }
  std::string typed() const {
    std::ifstream in(typedPath, std::ios::binary);
    std::stringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
  }
  // Types `marker` and waits until the terminal has it: everything typed before has arrived too.
  bool settle(const std::string& marker = "z") {
    const size_t before = typed().size();
    type({"key", marker});
    return runUntil([&] { return typed().size() > before && typed().back() == marker[0]; });
  }
  bool callsBecome(const Calls& expected) {
    return runUntil([&] { return calls.size() >= expected.size(); }, 5000ms) && calls == expected;
  }

  LogCapture logs;
  DefaultsStore store;
  AppSettings settings{store};
  std::string typedPath;
  std::optional<uint32_t> terminal;
  std::unique_ptr<X11KeySource> source;
  std::shared_ptr<HotkeyManager> manager;
  Calls calls;
};

TEST_F(X11KeySourceTest, ShortcutIsSwallowedStepsAndItsReleaseIsSeen) {
  makeManager();
  manager->start();
  ASSERT_TRUE(manager->isInstalled());
  const size_t before = typed().size();

  ASSERT_TRUE(type({"keydown", "alt", "key", "Tab", "key", "Tab", "key", "shift+Tab", "key", "grave", "keyup", "alt"}));
  EXPECT_TRUE(callsBecome({"prewarm", "summon +1", "summon +1", "summon -1", "summon -1 backward", "release"}))
      << ::testing::PrintToString(calls);

  // Alt with a key the shortcut does not take reaches the terminal untouched.
  ASSERT_TRUE(type({"key", "alt+f"}));
  ASSERT_TRUE(settle());
  EXPECT_EQ(typed().substr(before), "\x1b" "fz") << "no Tab, no grave: only Alt+F and the marker";
  EXPECT_EQ(source->watchdogReplays(), 0u);
}

TEST_F(X11KeySourceTest, AltLetGoWhileTabIsStillDownIsARelease) {
  makeManager();
  manager->start();
  ASSERT_TRUE(manager->isInstalled());
  ASSERT_TRUE(type({"keydown", "alt", "keydown", "Tab", "keyup", "alt", "keyup", "Tab"}));
  EXPECT_TRUE(callsBecome({"prewarm", "summon +1", "release"})) << ::testing::PrintToString(calls);
}

TEST_F(X11KeySourceTest, PassThroughApplicationReceivesTheShortcutReplayed) {
  store.set(AppSettings::Key::passThroughBundleIDs, nlohmann::json::array({"x11.recorder"}));
  makeManager();
  manager->start();
  ASSERT_TRUE(manager->isInstalled());
  ASSERT_TRUE(runUntil([&] { return manager->passThroughActive(); }));
  const size_t before = typed().size();
  ASSERT_TRUE(type({"key", "alt+Tab"}));
  ASSERT_TRUE(settle());
  EXPECT_EQ(typed().substr(before), "\x1b\tz");
  run();
  EXPECT_EQ(calls, Calls{}) << ::testing::PrintToString(calls);
}

// The open overlay holds the whole keyboard and gets Escape through that: the key stream asks for
// no grab of it, so a window manager's binding on it is refused nothing and nothing is told.
TEST_F(X11KeySourceTest, EscapeIsNeverGrabbedWhateverTheOverlaysKeyboardState) {
  makeManager();
  manager->start();
  ASSERT_TRUE(manager->isInstalled());
  const size_t before = typed().size();
  for (auto state : {std::optional<OverlayKeyboardState>{OverlayKeyboardState{false, std::nullopt}},
                     std::optional<OverlayKeyboardState>{OverlayKeyboardState{true, std::nullopt}},
                     std::optional<OverlayKeyboardState>{}}) {
    manager->reportKeyboardState(state);
    ASSERT_TRUE(type({"key", "Escape"}));
  }
  ASSERT_TRUE(settle());
  EXPECT_EQ(typed().substr(before), "\x1b\x1b\x1bz");
  EXPECT_EQ(calls, Calls{});
}

// One key of the shortcut held by another client (as a window manager holds Alt+grave) leaves the
// others working; a shortcut held elsewhere is told to the user once, with the advice on freeing
// it, and each key comes back by itself within the ask interval once the other client lets go.
TEST_F(X11KeySourceTest, AKeyHeldElsewhereLeavesTheOthersWorkingAndComesBackOnceFreed) {
  store.set(AppSettings::Key::graveCyclesBackward, true);
  const uint8_t tab = 23, grave = 49;
  ASSERT_TRUE(x().check(xcb_grab_key_checked(x().xcb(), 0, x().root(), XCB_MOD_MASK_1, grave, XCB_GRAB_MODE_ASYNC,
                                             XCB_GRAB_MODE_ASYNC)));
  makeManager();
  std::vector<std::string> told;
  manager->onShortcutRefused = [&](const std::string& sentence) { told.push_back(sentence); };
  manager->start();
  ASSERT_TRUE(manager->isInstalled());
  EXPECT_EQ(logs.count("The shortcut could not be set up yet (the keyboard could not be read), retrying"), 0u);
  ASSERT_TRUE(runUntil([&] {
    return logs.count("Alt+` is taken by another program, so the key above Tab steps backward only inside the "
                      "switcher") == 1;
  }));
  EXPECT_TRUE(told.empty()) << "the key above Tab is not the shortcut the user chose";
  EXPECT_EQ(source->refusedKeys(), (std::vector<KeyInterest>{{50, KeyFlags::option}}));
  ASSERT_TRUE(type({"keydown", "alt", "key", "Tab", "keyup", "alt"}));
  EXPECT_TRUE(callsBecome({"prewarm", "summon +1", "release"})) << ::testing::PrintToString(calls);

  // Let go of, the key is the program's at the next ask.
  xcb_ungrab_key(x().xcb(), grave, x().root(), XCB_MOD_MASK_1);
  x().flush();
  const auto askInterval = std::chrono::duration_cast<std::chrono::milliseconds>(HotkeyManager::refusedAskInterval);
  const auto within = askInterval + X11KeySource::confirmDelay + 1500ms;
  ASSERT_TRUE(runUntil([&] { return source->refusedKeys().empty(); }, within));
  EXPECT_TRUE(runUntil(
      [&] { return logs.count("Alt+` was let go of by the program that held it; it steps backward again") == 1; }));
  calls.clear();
  ASSERT_TRUE(type({"keydown", "alt", "key", "grave", "keyup", "alt"}));
  EXPECT_TRUE(runUntil([&] { return !calls.empty() && calls.back() == "release"; }));
  std::erase(calls, "prewarm");
  EXPECT_EQ(calls, (Calls{"summon -1 backward", "release"}));

  // A second shortcut the user chooses while another client holds it: told once, by its name and
  // with the advice; taken at an ask once it is free.
  ASSERT_TRUE(x().check(xcb_grab_key_checked(x().xcb(), 0, x().root(), XCB_MOD_MASK_4, tab, XCB_GRAB_MODE_ASYNC,
                                             XCB_GRAB_MODE_ASYNC)));
  store.set(AppSettings::Key::hotkeyBinding2, HotkeyBinding{48, HotkeyBinding::commandFlag}.storedValue());
  ASSERT_TRUE(runUntil([&] { return told.size() == 1; }));
  EXPECT_TRUE(told[0].starts_with("Super+Tab is taken by another program, usually the window manager. ")) << told[0];
  EXPECT_EQ(logs.count(told[0]), 1u);
  runUntil([] { return false; }, askInterval * 2);
  EXPECT_EQ(logs.count(told[0]), 1u) << "the asks while it is held say nothing more";
  xcb_ungrab_key(x().xcb(), tab, x().root(), XCB_MOD_MASK_4);
  x().flush();
  ASSERT_TRUE(runUntil([&] { return source->refusedKeys().empty(); }, within));
  EXPECT_TRUE(runUntil(
      [&] { return logs.count("Super+Tab was let go of by the program that held it; the shortcut works now") == 1; }));
  calls.clear();
  ASSERT_TRUE(type({"key", "super+Tab"}));
  EXPECT_TRUE(runUntil([&] { return std::find(calls.begin(), calls.end(), "summon +1") != calls.end(); }))
      << ::testing::PrintToString(calls);
  EXPECT_EQ(told.size(), 1u);
}

// While the user is being told to free a key (the tour, the "Shortcut needed" window), the program
// asks for it again, and a key freed meanwhile is taken once it has stayed free for a moment.
TEST_F(X11KeySourceTest, AKeyFreedIsTakenWhenTheProgramAsksAgain) {
  const uint8_t q = 24;
  ASSERT_TRUE(x().check(xcb_grab_key_checked(x().xcb(), 0, x().root(), XCB_MOD_MASK_4, q, XCB_GRAB_MODE_ASYNC,
                                             XCB_GRAB_MODE_ASYNC)));
  store.set(AppSettings::Key::hotkeyBinding2, HotkeyBinding{12, HotkeyBinding::commandFlag}.storedValue());
  makeManager();
  int changes = 0;
  manager->onOwnershipChange = [&] { ++changes; };
  manager->start();
  ASSERT_TRUE(manager->isInstalled());
  ASSERT_TRUE(runUntil([&] { return manager->keysHeldElsewhere(HotkeySlot::second); }));
  EXPECT_FALSE(manager->keysHeldElsewhere(HotkeySlot::first));
  manager->askForKeysAgain();  // still held: nothing changes
  run();
  EXPECT_TRUE(manager->keysHeldElsewhere(HotkeySlot::second));
  xcb_ungrab_key(x().xcb(), q, x().root(), XCB_MOD_MASK_4);
  ASSERT_TRUE(x().sync());  // the server has let go before the program asks, from its own connection
  manager->askForKeysAgain();
  ASSERT_TRUE(runUntil([&] { return !manager->keysHeldElsewhere(HotkeySlot::second); }));
  EXPECT_TRUE(source->refusedKeys().empty());
  EXPECT_EQ(changes, 2);
  calls.clear();
  ASSERT_TRUE(type({"key", "super+q"}));
  EXPECT_TRUE(runUntil([&] { return std::find(calls.begin(), calls.end(), "summon +1") != calls.end(); }))
      << ::testing::PrintToString(calls);
}

// A window manager's own switcher lets go of its keys while it holds the keyboard, and its steps
// leave a moment as it opens (Alt down, the keys let go of, the keyboard not grabbed yet) and one as
// it closes (the keyboard let go of, the keys not grabbed again yet) in which neither is held. An
// ask in either moment takes nothing, so the manager gets its keys back; a key let go of for good
// is taken once it has stayed free.
TEST_F(X11KeySourceTest, AKeyItsHolderLetsGoOfForAMomentIsNotTaken) {
  const uint8_t tab = 23;
  auto grabAltTab = [&] {
    return x().check(
        xcb_grab_key_checked(x().xcb(), 0, x().root(), XCB_MOD_MASK_1, tab, XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC));
  };
  ASSERT_TRUE(grabAltTab());
  makeManager();
  manager->start();
  ASSERT_TRUE(runUntil([&] { return manager->keysHeldElsewhere(); }));
  const std::vector<KeyInterest> held{{48, KeyFlags::option}};
  ASSERT_EQ(source->refusedKeys(), held);

  ASSERT_TRUE(type({"keydown", "alt"}));
  xcb_ungrab_key(x().xcb(), tab, x().root(), XCB_MOD_MASK_1);
  ASSERT_TRUE(x().sync());
  manager->askForKeysAgain();
  std::unique_ptr<xcb_grab_keyboard_reply_t, X11Connection::FreeDeleter> grab(xcb_grab_keyboard_reply(
      x().xcb(),
      xcb_grab_keyboard(x().xcb(), 0, x().root(), XCB_CURRENT_TIME, XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC),
      nullptr));
  ASSERT_TRUE(grab && grab->status == XCB_GRAB_STATUS_SUCCESS);
  runUntil([] { return false; }, 200ms);

  ASSERT_TRUE(type({"keyup", "alt"}));
  xcb_ungrab_keyboard(x().xcb(), XCB_CURRENT_TIME);
  ASSERT_TRUE(x().sync());
  manager->askForKeysAgain();
  EXPECT_TRUE(grabAltTab()) << "the key was taken in the moment its holder let go of it";
  runUntil([] { return false; }, X11KeySource::confirmDelay + 500ms);
  EXPECT_EQ(source->refusedKeys(), held);
  EXPECT_TRUE(manager->keysHeldElsewhere());

  xcb_ungrab_key(x().xcb(), tab, x().root(), XCB_MOD_MASK_1);
  ASSERT_TRUE(x().sync());
  manager->askForKeysAgain();
  EXPECT_TRUE(runUntil([&] { return source->refusedKeys().empty(); }));
}

// A user who has freed the shortcut in the window manager and keeps trying it (Alt held a moment,
// Tab, Alt let go, again and again) has it within a few tries, whatever the pace; the looks at it
// come at the manager's asks and by themselves. A manager whose own switcher lets go of the key
// while it is up (metacity) keeps it, even when looks fall in the moments its steps leave it free:
// from letting go of the key to grabbing the keyboard as the switcher opens, and from letting go of
// the keyboard to grabbing the key again as it closes (here a slow one, 150 ms). Played on the
// clock of the queue the source looks on.
TEST_F(X11SessionTest, AFreedShortcutIsTakenBetweenTheUsersTriesAndAManagersSwitcherKeepsItsOwn) {
  using Ms = std::chrono::milliseconds;
  struct Row {
    const char* name;
    Ms period;  // from one try to the next
    Ms hold;    // Alt down
    bool freed;  // the manager lets go of the key for good as the tries begin (else: its switcher)
  };
  const Row rows[] = {
      {"freed, a try every 1.5 s, Alt held 1 s", 1500ms, 1000ms, true},
      {"freed, a try every 1.5 s, Alt held 0.65 s", 1500ms, 650ms, true},
      {"freed, a try every 2 s, Alt held 1 s", 2000ms, 1000ms, true},
      {"freed, a try every 2 s, Alt held 0.65 s", 2000ms, 650ms, true},
      {"the manager's switcher, a try every 1.5 s, Alt held 1 s", 1500ms, 1000ms, false},
      {"the manager's switcher, a try every 2 s, Alt held 0.65 s", 2000ms, 650ms, false},
  };
  const uint8_t alt = 64, tab = 23;
  const KeyInterest altTab{48, KeyFlags::option};
  const Ms firstTry = 500ms, tabAfter = 200ms, closing = 150ms, answerWithin = 6000ms, played = 10000ms;
  auto holderGrabsTheKey = [&] {
    return x().check(
        xcb_grab_key_checked(x().xcb(), 0, x().root(), XCB_MOD_MASK_1, tab, XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC));
  };
  auto holderLetsGoOfTheKey = [&] { return x().check(xcb_ungrab_key_checked(x().xcb(), tab, x().root(), XCB_MOD_MASK_1)); };

  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    ManualLoop loop;
    std::atomic<uint64_t> flags{0};
    std::atomic<int64_t> answeredAt{-1};  // the first Tab the source showed, in ms from the start
    const Instant start = loop.clock().now();
    auto elapsed = [&] { return std::chrono::duration_cast<Ms>(loop.clock().now() - start); };
    ASSERT_TRUE(holderGrabsTheKey());
    std::unique_ptr<X11KeySource> source = X11KeySource::open(loop.main(), session->display());
    ASSERT_TRUE(source);
    std::vector<std::string> taken;
    source->setOwnershipHandler([&](const KeyInterest&, bool held) {
      taken.push_back(std::to_string(elapsed().count()) + (held ? " ms: taken" : " ms: refused"));
    });
    source->setInterest({altTab});
    ASSERT_TRUE(source->install([&](const KeyEvent& event) {
      if (event.type == KeyEvent::Type::flagsChanged) flags = event.flags;
      if (event.type != KeyEvent::Type::keyDown) return KeyVerdict::deliver;
      int64_t none = -1;
      answeredAt.compare_exchange_strong(none, elapsed().count());
      return KeyVerdict::swallow;
    }));
    ASSERT_EQ(source->refusedKeys(), std::vector<KeyInterest>{altTab});
    if (row.freed) {
      ASSERT_TRUE(holderLetsGoOfTheKey());
    }

    // The manager's asks, every refusedAskInterval, fall while Alt is down when the tries come at
    // the same pace.
    Instant nextAsk = start + 800ms;
    auto playUntil = [&](Instant at) {
      while (nextAsk <= at) {
        loop.advance(nextAsk - loop.clock().now());
        source->askForRefusedKeys();
        nextAsk += HotkeyManager::refusedAskInterval;
      }
      loop.advance(at - loop.clock().now());
    };
    auto key = [&](uint8_t code, bool down) {
      xcb_test_fake_input(x().xcb(), down ? XCB_KEY_PRESS : XCB_KEY_RELEASE, code, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
      return x().sync();
    };
    int regrabsRefused = 0;
    for (Instant tryAt = start + firstTry; tryAt < start + played; tryAt += row.period) {
      playUntil(tryAt);
      ASSERT_TRUE(key(alt, true));
      ASSERT_TRUE(X11Session::waitUntil([&] { return (flags & KeyFlags::option) != 0; }));
      playUntil(tryAt + tabAfter);
      ASSERT_TRUE(key(tab, true));
      if (!row.freed) {
        // The switcher opens: the manager lets go of its keys, then takes the whole keyboard.
        ASSERT_TRUE(holderLetsGoOfTheKey());
        source->askForRefusedKeys();
      }
      ASSERT_TRUE(key(tab, false));
      std::unique_ptr<xcb_grab_keyboard_reply_t, X11Connection::FreeDeleter> grab;
      if (!row.freed) {
        grab.reset(xcb_grab_keyboard_reply(
            x().xcb(),
            xcb_grab_keyboard(x().xcb(), 0, x().root(), XCB_CURRENT_TIME, XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC),
            nullptr));
        ASSERT_TRUE(grab && grab->status == XCB_GRAB_STATUS_SUCCESS);
      }
      playUntil(tryAt + row.hold);
      ASSERT_TRUE(key(alt, false));
      ASSERT_TRUE(X11Session::waitUntil([&] { return (flags & KeyFlags::option) == 0; }));
      if (!row.freed) {
        // The switcher closes: the manager lets go of the keyboard and, a moment later, takes its
        // keys back; every look in between finds them free.
        xcb_ungrab_keyboard(x().xcb(), XCB_CURRENT_TIME);
        ASSERT_TRUE(x().sync());
        source->askForRefusedKeys();
        playUntil(loop.clock().now() + closing);
        if (!holderGrabsTheKey()) ++regrabsRefused;
      }
    }
    playUntil(start + played);

    if (row.freed) {
      EXPECT_TRUE(source->refusedKeys().empty()) << ::testing::PrintToString(taken);
      EXPECT_GE(answeredAt.load(), 0) << "no try reached the source; " << ::testing::PrintToString(taken);
      EXPECT_LE(answeredAt.load(), answerWithin.count()) << ::testing::PrintToString(taken);
    } else {
      EXPECT_EQ(source->refusedKeys(), std::vector<KeyInterest>{altTab}) << ::testing::PrintToString(taken);
      EXPECT_EQ(answeredAt.load(), -1);
      EXPECT_EQ(regrabsRefused, 0) << "a look held the key as the manager took it back";
    }
    source.reset();
    holderLetsGoOfTheKey();
  }
}

// While another program holds the key, the looks at it leave no trace: the focused window sees no
// focus change (an active grab of the keyboard sends it one as it comes and one as it goes), and the
// reader sleeps through the looks' round trips instead of turning round on the socket they read.
TEST_F(X11KeySourceTest, LooksAtAKeyHeldElsewhereLeaveNoTraceAndLetTheReaderSleep) {
  const uint8_t tab = 23;
  ASSERT_TRUE(x().check(
      xcb_grab_key_checked(x().xcb(), 0, x().root(), XCB_MOD_MASK_1, tab, XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC)));
  std::unique_ptr<xcb_get_input_focus_reply_t, X11Connection::FreeDeleter> focus(
      xcb_get_input_focus_reply(x().xcb(), xcb_get_input_focus(x().xcb()), nullptr));
  ASSERT_TRUE(focus && focus->focus != XCB_WINDOW_NONE && focus->focus != XCB_INPUT_FOCUS_POINTER_ROOT &&
              focus->focus != x().root());
  // A client of its own watches the focused window, as the program in front would.
  std::unique_ptr<X11Connection> watcher = X11Connection::open(session->display());
  ASSERT_TRUE(watcher);
  const uint32_t focusChanges = XCB_EVENT_MASK_FOCUS_CHANGE;
  ASSERT_TRUE(watcher->check(
      xcb_change_window_attributes_checked(watcher->xcb(), focus->focus, XCB_CW_EVENT_MASK, &focusChanges)));
  const KeyInterest altTab{48, KeyFlags::option};
  source->setInterest({altTab});
  ASSERT_TRUE(source->install([](const KeyEvent&) { return KeyVerdict::deliver; }));
  ASSERT_EQ(source->refusedKeys(), std::vector<KeyInterest>{altTab});

  constexpr uint64_t looks = 100;
  const uint64_t wakeupsBefore = source->readerWakeups();
  for (uint64_t look = 0; look < looks; ++look) source->askForRefusedKeys();
  // An event the looks caused comes before the answer to a request made after them.
  ASSERT_TRUE(watcher->sync());
  int focusEvents = 0;
  watcher->pumpEvents([&](const xcb_generic_event_t& event) {
    const uint8_t type = event.response_type & 0x7f;
    if (type == XCB_FOCUS_IN || type == XCB_FOCUS_OUT) ++focusEvents;
  });
  EXPECT_EQ(focusEvents, 0);
  // Woken by the first answer of a look and by its end, at most, however the threads take turns.
  EXPECT_LE(source->readerWakeups() - wakeupsBefore, 2 * looks + 2);
  EXPECT_EQ(source->refusedKeys(), std::vector<KeyInterest>{altTab});
}

TEST_F(X11KeySourceTest, AltMovedToAnotherModifierIsFollowed) {
  makeManager();
  manager->start();
  ASSERT_TRUE(manager->isInstalled());
  // Move the Alt keys from Mod1 to Mod3, as a keyboard setting of the user might.
  xcb_connection_t* c = x().xcb();
  std::unique_ptr<xcb_get_modifier_mapping_reply_t, X11Connection::FreeDeleter> mapping(
      xcb_get_modifier_mapping_reply(c, xcb_get_modifier_mapping(c), nullptr));
  ASSERT_TRUE(mapping);
  const int perModifier = mapping->keycodes_per_modifier;
  std::vector<uint8_t> keycodes(xcb_get_modifier_mapping_keycodes(mapping.get()),
                                xcb_get_modifier_mapping_keycodes(mapping.get()) + 8 * perModifier);
  const uint8_t altL = 64, altR = 108;
  std::vector<uint8_t> moved;
  for (int k = 0; k < perModifier; ++k) {
    uint8_t& code = keycodes[3 * perModifier + k];
    if (code == altL || code == altR) {
      moved.push_back(code);
      code = 0;
    }
  }
  ASSERT_FALSE(moved.empty());
  for (int k = 0; k < perModifier && !moved.empty(); ++k) {
    uint8_t& code = keycodes[5 * perModifier + k];
    if (code == 0) {
      code = moved.back();
      moved.pop_back();
    }
  }
  ASSERT_TRUE(moved.empty()) << "no room on Mod3";
  std::unique_ptr<xcb_set_modifier_mapping_reply_t, X11Connection::FreeDeleter> set(xcb_set_modifier_mapping_reply(
      c, xcb_set_modifier_mapping(c, static_cast<uint8_t>(perModifier), keycodes.data()), nullptr));
  ASSERT_TRUE(set);
  ASSERT_EQ(set->status, XCB_MAPPING_STATUS_SUCCESS);
  ASSERT_EQ(X11ModifierMap::read(c)->altMask(), XCB_MOD_MASK_3);

  // The key stream follows: Alt+Tab (now Mod3+Tab) is still the shortcut.
  EXPECT_TRUE(runUntil([&] {
    type({"key", "alt+Tab"});
    run();
    return std::find(calls.begin(), calls.end(), "summon +1") != calls.end();
  })) << ::testing::PrintToString(calls);
}

TEST_F(X11KeySourceTest, WatchdogReplaysAPressTheHandlerDoesNotAnswer) {
  std::atomic<int> timeouts{0};
  std::atomic<int> slowPresses{1};
  source->setInterest({{48, KeyFlags::option}});
  X11KeySource* stream = source.get();  // the handler runs on the stream's thread until it is destroyed
  ASSERT_TRUE(source->install([&timeouts, &slowPresses, stream](const KeyEvent& event) {
    if (event.type == KeyEvent::Type::disabledByTimeout) {
      ++timeouts;
      stream->enable();
    }
    if (event.type != KeyEvent::Type::keyDown) return KeyVerdict::deliver;
    if (slowPresses.fetch_sub(1) > 0) std::this_thread::sleep_for(600ms);
    return KeyVerdict::swallow;
  }));
  const size_t before = typed().size();
  ASSERT_TRUE(type({"key", "alt+Tab"}));
  ASSERT_TRUE(X11Session::waitUntil([&] { return typed().size() >= before + 2; }, 2000ms))
      << "the keyboard stayed frozen on the unanswered press";
  EXPECT_EQ(source->watchdogReplays(), 1u);
  EXPECT_TRUE(X11Session::waitUntil([&] { return timeouts == 1; }));

  // Back on: the next press is answered in time and swallowed.
  ASSERT_TRUE(type({"key", "alt+Tab"}));
  ASSERT_TRUE(settle());
  EXPECT_EQ(typed().substr(before), "\x1b\tz");
  EXPECT_EQ(source->watchdogReplays(), 1u);
}

TEST_F(X11KeySourceTest, GrabsFollowTheInterestAndLetGoOfTheRest) {
  makeManager();
  manager->start();
  ASSERT_TRUE(manager->isInstalled());
  // The shortcut moves from Alt+Tab to Super+Tab: Alt+Tab now reaches the terminal, Super+Tab is taken.
  store.set(AppSettings::Key::hotkeyBinding1, HotkeyBinding{48, HotkeyBinding::commandFlag}.storedValue());
  run();
  const size_t before = typed().size();
  ASSERT_TRUE(type({"key", "alt+Tab"}));
  ASSERT_TRUE(settle());
  EXPECT_EQ(typed().substr(before), "\x1b\tz");
  ASSERT_TRUE(type({"key", "super+Tab"}));
  EXPECT_TRUE(runUntil([&] { return std::find(calls.begin(), calls.end(), "summon +1") != calls.end(); }))
      << ::testing::PrintToString(calls);
  // With Caps Lock on the shortcut still works.
  calls.clear();
  ASSERT_TRUE(type({"key", "Caps_Lock", "key", "super+Tab", "key", "Caps_Lock"}));
  EXPECT_TRUE(runUntil([&] { return std::find(calls.begin(), calls.end(), "summon +1") != calls.end(); }))
      << ::testing::PrintToString(calls);
}

// A stopped source lets go of the shortcut at once and calls nothing more: the keys reach the
// application in front untouched, and the shortcut manager hears of none.
TEST_F(X11KeySourceTest, AStoppedSourceLetsGoOfTheShortcutAndCallsNothingMore) {
  makeManager();
  manager->start();
  ASSERT_TRUE(manager->isInstalled());
  source->stop();
  manager->askForKeysAgain();
  const size_t before = typed().size();
  ASSERT_TRUE(type({"keydown", "alt", "key", "Tab", "keyup", "alt"}));
  ASSERT_TRUE(settle());
  run();
  EXPECT_EQ(typed().substr(before), "\x1b\tz");
  EXPECT_TRUE(calls.empty()) << ::testing::PrintToString(calls);
}

// Under metacity, which binds Alt+Tab and Alt+grave itself, the shortcut stays the manager's
// however its own switcher is used (while its popup is up it holds the keyboard and lets go of its
// keys, to take them back when it closes): no ask takes the keys while another client holds the
// keyboard.
class X11KeySourceUnderMetacityTest : public X11PlatformTest {
 protected:
  X11Session::Options sessionOptions() const override {
    X11Session::Options options;
    options.manager = X11Session::Manager::metacity;
    return options;
  }
  void TearDown() override {
    manager.reset();
    source.reset();
    X11PlatformTest::TearDown();
  }

  LogCapture logs;
  DefaultsStore store;
  AppSettings settings{store};
  std::unique_ptr<X11KeySource> source;
  std::shared_ptr<HotkeyManager> manager;
};

TEST_F(X11KeySourceUnderMetacityTest, UsingTheManagersSwitcherNeverHandsItsShortcutOver) {
  settings.registerDefaults();
  store.set(AppSettings::Key::graveCyclesBackward, true);
  for (const char* title : {"One", "Two"}) ASSERT_TRUE(launch({"--title", title}));
  source = X11KeySource::open(runtime->main(), session->display());
  ASSERT_TRUE(source);
  manager = HotkeyManager::create(settings, platform->workspace(), *source, runtime->main());
  int summons = 0;
  manager->onSummon = [&](int, HotkeyPress, AppSettings::HotkeyScope) { ++summons; };
  manager->start();
  ASSERT_TRUE(manager->isInstalled());
  const std::vector<KeyInterest> held{{48, KeyFlags::option}, {50, KeyFlags::option}};
  ASSERT_EQ(source->refusedKeys(), held);
  // Twenty uses of metacity's switcher, each asking for the keys while its popup holds the keyboard
  // (as the "Shortcut needed" window asks every second), and the first held past an ask of the
  // manager's own.
  for (int round = 0; round < 20; ++round) {
    ASSERT_TRUE(session->runTool({"xdotool", "keydown", "alt", "key", "Tab"}));
    const auto askInterval =
        std::chrono::duration_cast<std::chrono::milliseconds>(HotkeyManager::refusedAskInterval);
    runUntil([] { return false; }, round == 0 ? askInterval + 500ms : 300ms);
    manager->askForKeysAgain();
    runUntil([] { return false; }, 200ms);
    ASSERT_TRUE(session->runTool({"xdotool", "keyup", "alt"}));
    runUntil([] { return false; }, 300ms);
    EXPECT_EQ(source->refusedKeys(), held) << "round " << round;
  }
  EXPECT_EQ(summons, 0);
  EXPECT_EQ(logs.count("Alt+Tab was let go of by the program that held it; the shortcut works now"), 0u);
}

}  // namespace
}  // namespace quorvel
