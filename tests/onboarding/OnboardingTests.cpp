#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QIcon>
#include <QLabel>
#include <QSystemTrayIcon>

#include <array>
#include <cstdlib>
#include <filesystem>

#include "base/DefaultsStore.h"
#include "base/ManualLoop.h"
#include "base/ObserverList.h"
#include "onboarding/Brand.h"
#include "onboarding/BrandArt.h"
#include "onboarding/OnboardingChrome.h"
#include "onboarding/OnboardingFlow.h"
#include "onboarding/OnboardingScreens.h"
#include "onboarding/OnboardingWindow.h"
#include "onboarding/PermissionLostWindow.h"
#include "onboarding/PermissionWatcher.h"
#include "platform/UsKeyboardLayout.h"
#include "settings/KeyNames.h"
#include "settings_ui/AdviceView.h"
#include "settings_ui/SettingsUiFixture.h"
#include "windows/ChromeWindowCensus.h"

namespace quorvel {
namespace {

const auto* const environment = ::testing::AddGlobalTestEnvironment(new QtWidgetsEnvironment);

using Step = OnboardingFlow::Step;

// The desktop as the tour sees it, with switches for what it reports.
class OnboardingTest : public ::testing::Test {
 protected:
  OnboardingTest() {
    settings.registerDefaults();
    services.shortcutHeldElsewhere = [this] { return heldElsewhere; };
    services.askForShortcutAgain = [this] { ++askedAgain; };
    services.windowPicturesAvailable = [this] { return composite; };
    services.browserTabsReadable = [this] { return tabsOn; };
    services.windowManagerName = [] { return std::string("Openbox"); };
    services.loginItemEnabled = [this] { return loginEnabled; };
    services.setLoginItem = [this](bool wanted) {
      loginCalls.push_back(wanted);
      if (!loginRefuses) loginEnabled = wanted;
      return LoginItem::Result{loginEnabled, loginRefuses ? std::optional<std::string>(LoginItem::kCannotEnable)
                                                          : std::nullopt};
    };
    services.touchpadPresent = [this] { return touchpad; };
    services.swipeConflicts = [this](AppSettings::SummonGesture gesture, AppSettings::SummonSwipeDirection) {
      return swipeTaken && gesture != AppSettings::SummonGesture::off;
    };
    services.observeSummons = [this](std::function<void()> observer) { return summons.add(std::move(observer)); };
    services.virtualKeyCode = [](uint32_t native) -> std::optional<int64_t> { return native; };
    services.suspendShortcuts = [](bool) {};
    services.quit = [this] { ++quits; };
  }

  std::unique_ptr<OnboardingFlow> makeFlow() {
    return std::make_unique<OnboardingFlow>(services, [this] { ++finishes; }, [this] { ++changes; });
  }
  void walkTo(OnboardingFlow& flow, Step step) {
    while (flow.step() != step) flow.advance();
    loop.runUntilIdle();
  }
  // A new tour walked from its start to `step`, and that step's page (which goes first).
  struct Shown {
    std::unique_ptr<OnboardingFlow> flow;
    std::unique_ptr<QWidget> page;
  };
  Shown freshPage(Step step) {
    store.remove(OnboardingFlow::stepKey);
    Shown shown{makeFlow(), nullptr};
    walkTo(*shown.flow, step);
    shown.page.reset(OnboardingScreens::page(*shown.flow, services));
    return shown;
  }

  ManualLoop loop;
  DefaultsStore store;
  AppSettings settings{store};
  ChromeWindowCensus census;
  UsKeyboardLayout layout;
  KeyNames names{layout};
  OnboardingServices services{settings, loop.main(), census, names};
  ObserverList<> summons;
  bool heldElsewhere = false;
  bool composite = true;
  bool tabsOn = false;
  bool loginEnabled = false;
  bool loginRefuses = false;
  bool touchpad = true;
  bool swipeTaken = true;
  std::vector<bool> loginCalls;
  int askedAgain = 0;
  int finishes = 0;
  int changes = 0;
  int quits = 0;
};

// Openbox's packaged rc.xml holds Alt+Tab: the advice as the program gives it.
AdviceText openboxHolds() {
  ShortcutAdvice::Findings found;
  found.managerHolds = true;
  found.bindings = {"A-Tab"};
  found.systemFile = "/etc/xdg/openbox/rc.xml";
  return ShortcutAdvice::advice("Openbox", "Alt+Tab", found);
}

std::vector<std::string> titles(const std::vector<OnboardingFlow::Action>& actions) {
  std::vector<std::string> result;
  for (const auto& action : actions) result.push_back(action.title + (action.isDefault ? "*" : ""));
  return result;
}

TEST_F(OnboardingTest, ASavedStepResumesAndAnythingElseStartsOnWelcomeAndIsStoredAtOnce) {
  const struct {
    std::optional<std::string> stored;
    Step expected;
  } cases[] = {{std::nullopt, Step::welcome}, {"style", Step::style}, {"shortcut", Step::shortcut},
               {"Style", Step::welcome},      {"screenRecording", Step::welcome}};
  for (const auto& c : cases) {
    if (c.stored) store.set(OnboardingFlow::stepKey, *c.stored);
    else store.remove(OnboardingFlow::stepKey);
    auto flow = makeFlow();
    EXPECT_EQ(flow->step(), c.expected) << c.stored.value_or("none");
    flow->shown();
    EXPECT_EQ(store.string(OnboardingFlow::stepKey), std::string(OnboardingFlow::rawValue(c.expected)));
  }
  EXPECT_TRUE(OnboardingFlow::shouldShowAtLaunch(store));
}

TEST_F(OnboardingTest, TheFooterOffersAWayOnEvenWhileTheShortcutIsTakenAndFinishCompletesTheTour) {
  auto flow = makeFlow();
  flow->shown();
  using V = std::vector<std::string>;
  EXPECT_EQ(titles(flow->footer()), (V{"Continue*"}));
  flow->goBack();
  EXPECT_EQ(flow->step(), Step::welcome);
  composite = false;  // pictures missing leave the switcher usable: no stop
  walkTo(*flow, Step::windowPictures);
  EXPECT_EQ(titles(flow->footer()), (V{"Back", "Continue*"}));
  heldElsewhere = true;
  flow->advance();
  loop.runUntilIdle();
  // The switcher is still of use with its keys taken (the tray, the swipe, another shortcut): the
  // tour goes on, and nothing ends the program.
  EXPECT_EQ(titles(flow->footer()), (V{"Back", "Continue*"}));
  walkTo(*flow, Step::close);
  EXPECT_EQ(quits, 0);
  EXPECT_EQ(titles(flow->footer()), (V{"Back", "Finish*"}));
  flow->advance();
  EXPECT_EQ(finishes, 1);
  EXPECT_TRUE(store.boolValue(OnboardingFlow::completedKey));
  EXPECT_FALSE(store.hasStoredValue(OnboardingFlow::stepKey));
  EXPECT_FALSE(OnboardingFlow::shouldShowAtLaunch(store));
}

TEST_F(OnboardingTest, TheStandingsFollowTheGrabCompositeAndTheBusEverySecondOnTheCheckPagesOnly) {
  auto flow = makeFlow();
  flow->shown();
  walkTo(*flow, Step::permissionsIntro);
  EXPECT_EQ(loop.pendingTimers(), 0u);  // nothing is polled away from the check pages

  composite = false;
  tabsOn = true;
  flow->advance();  // the first look comes at once
  EXPECT_EQ(flow->picturesStanding(), ReadinessStanding::waiting);
  EXPECT_EQ(flow->tabsStanding(), ReadinessStanding::allowed);
  composite = true;
  tabsOn = false;
  loop.advance(OnboardingFlow::pollInterval);
  EXPECT_EQ(flow->picturesStanding(), ReadinessStanding::allowed);
  EXPECT_EQ(flow->tabsStanding(), ReadinessStanding::waiting);

  heldElsewhere = true;
  flow->advance();
  EXPECT_EQ(flow->shortcutStanding(), ReadinessStanding::waiting);
  EXPECT_NE(flow->freeingAdvice().plain().find("openbox --reconfigure"), std::string::npos);
  loop.advance(3 * OnboardingFlow::pollInterval);
  EXPECT_EQ(askedAgain, 3);  // the keys are asked for again while they are taken
  heldElsewhere = false;
  const int before = changes;
  loop.advance(OnboardingFlow::pollInterval);
  EXPECT_EQ(flow->shortcutStanding(), ReadinessStanding::allowed);
  EXPECT_GT(changes, before);
  loop.advance(OnboardingFlow::pollInterval);
  EXPECT_EQ(askedAgain, 4);  // free keys are left alone

  // A shortcut chosen on the page is stored and its standing read again.
  flow->chooseShortcut({50, HotkeyBinding::controlFlag});
  loop.runUntilIdle();
  EXPECT_EQ(settings.hotkeyBinding(HotkeySlot::first), (HotkeyBinding{50, HotkeyBinding::controlFlag}));
  EXPECT_EQ(flow->keyCaps(), (std::vector<std::string>{"Ctrl", "`"}));

  flow->advance();
  EXPECT_EQ(loop.pendingTimers(), 0u);
}

// The page after the checks claims both only when both are: a taken shortcut shows as not working,
// switch and all, until the keys are freed while it is on screen.
TEST_F(OnboardingTest, ThePageAfterTheChecksShowsWhatIsNotReady) {
  const struct {
    bool composite, held;
    std::string title;
    std::array<bool, 2> switches;
    bool card;
  } cases[] = {{true, false, "That is both of them", {true, true}, false},
               {true, true, "Your shortcut does not work yet", {true, false}, true},
               {false, true, "Your shortcut does not work yet", {false, false}, true},
               {false, false, "One of them is missing", {false, true}, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.title);
    composite = c.composite;
    heldElsewhere = c.held;
    const auto [flow, page] = freshPage(Step::permissionsDone);
    EXPECT_EQ(page->findChild<QLabel*>("title")->text().toStdString(), c.title);
    EXPECT_EQ(page->findChild<BrandArt*>("art")->switchesOn(), c.switches);
    EXPECT_EQ(page->findChild<QWidget*>("shortcutCard") != nullptr, c.card);
    if (c.held) {
      EXPECT_TRUE(page->findChild<QLabel*>("message")->text().startsWith(
          "Alt+Tab is still held by another program, usually the window manager, so"));
    }
  }
  // It names the holder that the shortcut page's advice named.
  services.shortcutTaken = [](const HotkeyBinding&) -> std::optional<AdviceText> { return openboxHolds(); };
  {
    heldElsewhere = true;
    const auto [flow, page] = freshPage(Step::permissionsDone);
    EXPECT_TRUE(page->findChild<QLabel*>("message")->text().startsWith(
        "Alt+Tab is still held by the window manager, Openbox, so pressing it does not reach Quorvel."))
        << page->findChild<QLabel*>("message")->text().toStdString();
  }
  // Freed while the page shows: the keys are asked for again, the page says so within a poll, and
  // the polls stop.
  composite = true;
  heldElsewhere = true;
  const auto [flow, page] = freshPage(Step::permissionsDone);
  const int asked = askedAgain, before = changes;
  heldElsewhere = false;
  loop.advance(OnboardingFlow::pollInterval);
  EXPECT_GT(askedAgain, asked);
  EXPECT_TRUE(flow->shortcutWorks());
  EXPECT_GT(changes, before);
  EXPECT_EQ(loop.pendingTimers(), 0u);
}

TEST_F(OnboardingTest, TheLoginDefaultIsAppliedOnceAndTheCheckboxAsksOnlyForTheUsersChanges) {
  auto flow = makeFlow();
  walkTo(*flow, Step::close);
  EXPECT_EQ(loginCalls, (std::vector<bool>{true}));
  EXPECT_TRUE(flow->opensAtLogin());
  flow->goBack();
  flow->advance();
  EXPECT_EQ(loginCalls.size(), 1u);  // not again on the way back

  // The page is built with the state the item is in: that is no wish of the user's.
  auto page = std::unique_ptr<QWidget>(OnboardingScreens::page(*flow, services));
  auto* login = page->findChild<QAbstractButton*>("login");
  ASSERT_TRUE(login);
  EXPECT_TRUE(login->isChecked());
  login->setChecked(false);
  login->setChecked(true);
  EXPECT_EQ(loginCalls.size(), 1u);
  flow->setOpensAtLogin(true);
  EXPECT_EQ(loginCalls.size(), 1u);
  login->click();  // the user's own change
  EXPECT_EQ(loginCalls, (std::vector<bool>{true, false}));
  EXPECT_FALSE(flow->opensAtLogin());

  // A refusal shows the item's real state and its sentence.
  loginRefuses = true;
  store.remove(OnboardingFlow::stepKey);
  auto second = makeFlow();
  walkTo(*second, Step::close);
  EXPECT_FALSE(second->opensAtLogin());
  EXPECT_EQ(second->launchAtLoginMessage(), std::optional<std::string>(LoginItem::kCannotEnable));
}

TEST_F(OnboardingTest, ASummonCountsOnlyOnTheKeysPageAndStays) {
  auto flow = makeFlow();
  walkTo(*flow, Step::style);
  summons.notify();
  EXPECT_FALSE(flow->didSummon());
  walkTo(*flow, Step::keys);
  summons.notify();
  EXPECT_TRUE(flow->didSummon());
  flow->goBack();
  flow->advance();
  EXPECT_TRUE(flow->didSummon());
}

TEST_F(OnboardingTest, TheSwipeNoteFollowsEveryWriteOfTheSwipeAndTheKeysPageItsRow) {
  store.set(AppSettings::Key::summonGesture, "off");
  auto flow = makeFlow();
  EXPECT_FALSE(flow->systemAnswersTheSameSwipe());
  flow->setSwipeToSummon(true);
  EXPECT_EQ(store.string(AppSettings::Key::summonGesture), std::optional<std::string>("threeFingers"));
  EXPECT_TRUE(flow->systemAnswersTheSameSwipe());
  flow->setSwipeToSummon(false);
  EXPECT_FALSE(flow->systemAnswersTheSameSwipe());

  using G = AppSettings::SummonGesture;
  using D = AppSettings::SummonSwipeDirection;
  const auto caps = OnboardingFlow::keyCaps(HotkeyBinding{48, HotkeyBinding::optionFlag}, names);
  const struct {
    OnboardingScreens::KeyRowFacts facts;
    size_t rows;
    std::vector<std::string> lastCaps;
    std::string lastMeaning;
  } cases[] = {
      {{true, true, false}, 7, {"Alt", "`"}, "Jump straight back to your last app, without summoning"},
      {{true, true, true, G::threeFingers, D::up}, 8, {"Swipe up"}, "Three fingers on the touchpad, and down to put it away"},
      {{true, true, true, G::fourFingers, D::sideways}, 8, {"Swipe sideways"},
       "Four fingers on the touchpad, and sideways again to put it away"},
      // No touchpad: neither its row nor the swipe's, whatever the setting.
      {{true, false, true}, 6, {"Alt", "`"}, "Jump straight back to your last app, without summoning"},
      // Without a shortcut on Tab there is no flip back to show.
      {{false, false, false}, 5, {"\u2190", "\u2192"}, "Hop over a stack of tabs"},
      // Keys another program holds are said to be held, by whom, not offered.
      {{true, false, false, G::threeFingers, D::up, "the window manager, Metacity", "the window manager, Openbox"}, 6,
       {"Alt", "`"}, "Held by the window manager, Metacity, so it cannot jump back to your last app"},
  };
  for (const auto& c : cases) {
    const auto rows = OnboardingScreens::keyRows(caps, c.facts);
    ASSERT_EQ(rows.size(), c.rows) << c.lastMeaning;
    EXPECT_EQ(rows.back().caps, c.lastCaps);
    EXPECT_EQ(rows.back().meaning, c.lastMeaning);
    EXPECT_EQ(rows.front().meaning, c.facts.summonHeldBy
                                        ? "Held by the window manager, Openbox, so it does not summon the switcher yet"
                                        : "Summon the switcher");
    // Backward is Shift+Tab, as in the switcher and its key reference.
    EXPECT_EQ(rows[3].caps, (std::vector<std::string>{"Shift", "Tab"}));
    EXPECT_EQ(rows[3].meaning, "Move backward");
  }
  EXPECT_EQ(OnboardingScreens::swipeWords(G::off, D::up).choice, "Swipe up with three fingers to summon");
  EXPECT_EQ(OnboardingScreens::swipeWords(G::fourFingers, D::sideways).choice, "Swipe sideways with four fingers to summon");
}

// The key above Tab with the shortcut's modifiers is asked for as the shortcut is: held by another
// program (metacity's switch-group binding), the keys page says so with the advice, as the shortcut
// row does, each naming the holder its advice names; free, it offers the flip back; without the
// flip it asks nothing. Shown, the page follows the keys changing hands.
TEST_F(OnboardingTest, TheKeysPageSaysWhoHoldsTheKeysAndFollowsThemChangingHands) {
  std::vector<HotkeyBinding> asked;
  bool held = false, summonHeld = false;
  AdviceText metacityHolds("Alt+` is held by the window manager, Metacity.");
  metacityHolds.holder = AdviceText::Holder::windowManager;
  metacityHolds.holderName = "Metacity";
  services.shortcutTaken = [&](const HotkeyBinding& binding) -> std::optional<AdviceText> {
    if (binding.keyCode == HotkeyBinding::tabKeyCode) {
      return summonHeld ? std::optional<AdviceText>(openboxHolds()) : std::nullopt;
    }
    asked.push_back(binding);
    if (held) return metacityHolds;
    return std::nullopt;
  };
  ObserverList<> owners;
  services.observeShortcutOwners = [&](std::function<void()> observer) { return owners.add(std::move(observer)); };
  const std::string summonTaken = "Held by the window manager, Openbox, so it does not summon the switcher yet";
  const std::string flipTaken = "Held by the window manager, Metacity, so it cannot jump back to your last app";
  const std::string flipFree = "Jump straight back to your last app, without summoning";
  auto shows = [](const QWidget& page, const std::string& text) {
    for (const QLabel* label : page.findChildren<QLabel*>()) {
      if (label->text().toStdString() == text) return true;
    }
    return false;
  };
  const struct {
    bool flip, held, summonHeld, asks;
    const char* meaning;
  } cases[] = {
      {true, true, false, true, flipTaken.c_str()},
      {true, false, false, true, flipFree.c_str()},
      {false, true, true, false, nullptr},
  };
  for (const auto& c : cases) {
    store.set(AppSettings::Key::graveCyclesBackward, c.flip);
    held = c.held;
    summonHeld = c.summonHeld;
    asked.clear();
    const auto [flow, page] = freshPage(Step::keys);
    // The shortcut's own row says whether it summons, as the key source answers now.
    EXPECT_EQ(shows(*page, "Summon the switcher"), !c.summonHeld);
    EXPECT_EQ(shows(*page, summonTaken), c.summonHeld);
    EXPECT_EQ(!asked.empty(), c.asks) << c.flip << c.held;
    for (const HotkeyBinding& binding : asked) EXPECT_EQ(binding.requiredFlags, HotkeyBinding::optionFlag);
    EXPECT_EQ(c.meaning && shows(*page, c.meaning), c.meaning != nullptr) << c.flip << c.held;
    const auto* note = page->findChild<AdviceView*>("quickFlipNote");
    ASSERT_EQ(note != nullptr, c.flip && c.held);
    if (note) {
      EXPECT_EQ(note->text().toStdString(),
                "Alt+` is held by the window manager, Metacity. Inside the switcher it still steps backward.");
    }
  }

  // Both keys freed while the page shows: it says so as soon as the key source reports it.
  store.set(AppSettings::Key::graveCyclesBackward, true);
  store.set(OnboardingFlow::stepKey, "keys");
  held = summonHeld = heldElsewhere = true;
  OnboardingWindowController tour(services);
  tour.show();
  QCoreApplication::processEvents();
  ASSERT_TRUE(tour.window());
  EXPECT_TRUE(shows(*tour.window()->page(), summonTaken));
  EXPECT_TRUE(shows(*tour.window()->page(), flipTaken));
  held = summonHeld = heldElsewhere = false;
  owners.notify();
  QCoreApplication::processEvents();
  EXPECT_TRUE(shows(*tour.window()->page(), "Summon the switcher"));
  EXPECT_TRUE(shows(*tour.window()->page(), flipFree));
  EXPECT_EQ(tour.window()->page()->findChild<AdviceView*>("quickFlipNote"), nullptr);
  held = true;  // and taken again
  owners.notify();
  QCoreApplication::processEvents();
  EXPECT_TRUE(shows(*tour.window()->page(), flipTaken));
}

TEST_F(OnboardingTest, TheLastPageOffersTheSwipeOnlyWithATouchpadAndWarnsOnlyWhenItIsTaken) {
  store.set(AppSettings::Key::summonGesture, "threeFingers");
  const struct {
    bool touchpad, taken, checkbox, warning;
  } cases[] = {{false, true, false, false}, {true, false, true, false}, {true, true, true, true}};
  for (const auto& c : cases) {
    touchpad = c.touchpad;
    swipeTaken = c.taken;
    const auto [flow, page] = freshPage(Step::close);
    EXPECT_EQ(page->findChild<QAbstractButton*>("swipe") != nullptr, c.checkbox) << c.touchpad << c.taken;
    EXPECT_EQ(page->findChild<QLabel*>("swipeConflict") != nullptr, c.warning) << c.touchpad << c.taken;
  }
}

TEST_F(OnboardingTest, TheShortcutDrawingShowsTheShortcutsOwnKeysAndTheTabsNoteTheCommand) {
  settings.setHotkeyBinding(HotkeyBinding{40, HotkeyBinding::controlFlag | HotkeyBinding::optionFlag}, HotkeySlot::first);
  auto flow = makeFlow();
  walkTo(*flow, Step::shortcut);
  auto page = std::unique_ptr<QWidget>(OnboardingScreens::page(*flow, services));
  auto* art = page->findChild<BrandArt*>("art");
  ASSERT_TRUE(art);
  EXPECT_EQ(art->keys(), (QStringList{"Ctrl", "Alt", "K"}));
  // However many, the caps stay left of the arrow, apart and in order.
  for (const QStringList& keys : {QStringList{"Alt", "Tab"}, QStringList{"Ctrl", "Alt", "Super", "Shift", "Tab"},
                                  QStringList{"No shortcut"}}) {
    const auto caps = BrandArt::keycaps(keys);
    ASSERT_EQ(caps.frames.size(), size_t(keys.size()));
    EXPECT_NEAR(caps.frames.back().right(), 98, 1e-9);
    EXPECT_GE(caps.frames.front().left(), 4 - 1e-9);
    for (size_t i = 1; i < caps.frames.size(); ++i) EXPECT_NEAR(caps.frames[i].left() - caps.frames[i - 1].right(), 6, 1e-9);
  }
  EXPECT_EQ(BrandArt::keycaps({"Alt", "Tab"}).fontSize, 12);
  EXPECT_GT(BrandArt::keycaps({"Ctrl", "Alt", "Tab"}).fontSize, 10);  // three keys stay readable
  // With the bus off the check page gives the command that switches it on.
  flow->goBack();
  loop.runUntilIdle();
  ASSERT_EQ(flow->step(), Step::windowPictures);
  for (const bool on : {false, true}) {
    tabsOn = on;
    flow->pollReadiness();
    auto checks = std::unique_ptr<QWidget>(OnboardingScreens::page(*flow, services));
    // The command in the advice's box, with its Copy button.
    auto* command = checks->findChild<QWidget*>("tabsCommand");
    EXPECT_EQ(command != nullptr, !on);
    if (command) {
      const QString text = "gsettings set org.gnome.desktop.interface toolkit-accessibility true";
      EXPECT_EQ(command->findChild<QLabel*>("command")->text(), text);
      auto* copy = command->findChild<QPushButton*>("copyCommand");
      ASSERT_TRUE(copy);
      QApplication::clipboard()->clear();
      copy->click();
      EXPECT_EQ(QApplication::clipboard()->text(), text);
      EXPECT_EQ(copy->text(), "Copied");
    }
  }
}

TEST_F(OnboardingTest, KeyCapsNameEachModifierThenTheKey) {
  using V = std::vector<std::string>;
  EXPECT_EQ(OnboardingFlow::keyCaps(std::nullopt, names), (V{"No shortcut"}));
  EXPECT_EQ(OnboardingFlow::keyCaps(HotkeyBinding{48, HotkeyBinding::optionFlag}, names), (V{"Alt", "Tab"}));
  EXPECT_EQ(OnboardingFlow::keyCaps(HotkeyBinding{48, HotkeyBinding::modifierMask}, names),
            (V{"Ctrl", "Alt", "Super", "Tab"}));
  store.set(AppSettings::Key::switcherStyle, "classicRing");
  auto flow = makeFlow();
  EXPECT_EQ(flow->style(), AppSettings::SwitcherStyle::flatRing);
  flow->setStyle(AppSettings::SwitcherStyle::row);
  EXPECT_EQ(store.string(AppSettings::Key::switcherStyle), std::optional<std::string>("row"));
}

TEST_F(OnboardingTest, TheWatcherAsksForOneWindowPerLossAndNeverShowsTwo) {
  PermissionLostWindowController windows(services);
  int asked = 0;
  PermissionWatcher watcher(store, loop.main(), [this] { return heldElsewhere; }, [&](bool lost) {
    ++asked;
    windows.show(lost);
  });
  watcher.start();
  heldElsewhere = true;
  loop.advance(PermissionWatcher::lookInterval);
  EXPECT_EQ(asked, 0);  // nothing before the tour is completed

  store.set(OnboardingFlow::completedKey, true);
  watcher.ownershipChanged();
  EXPECT_EQ(asked, 1);
  loop.advance(PermissionWatcher::lookInterval);
  EXPECT_EQ(asked, 1);  // once per loss
  auto openWindows = [] {
    int count = 0;
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    for (QWidget* widget : QApplication::topLevelWidgets()) count += widget->objectName() == "shortcutNeeded";
    return count;
  };
  EXPECT_EQ(openWindows(), 1);
  windows.window()->hide();
  windows.show();  // a hidden window goes too
  EXPECT_EQ(openWindows(), 1);
  EXPECT_EQ(census.openWindowNumbers().size(), 1u);

  heldElsewhere = false;
  loop.advance(PermissionLostView::recheckInterval);
  EXPECT_EQ(openWindows(), 0);  // the window closes itself when the keys are back
  EXPECT_TRUE(census.openWindowNumbers().empty());
  watcher.ownershipChanged();
  heldElsewhere = true;
  watcher.ownershipChanged();
  EXPECT_EQ(asked, 2);
  EXPECT_EQ(openWindows(), 1);
}

// "Shortcut needed" says "any more" only when the keys were the switcher's earlier in the run, and
// its default button leads on to the Shortcuts settings; Quit is still there.
TEST_F(OnboardingTest, TheShortcutNeededWindowSaysWhatHappenedAndOffersTheWayOn) {
  int settingsShown = 0;
  services.showShortcutSettings = [&] { ++settingsShown; };
  PermissionLostWindowController windows(services);
  std::vector<bool> shown;
  PermissionWatcher watcher(store, loop.main(), [this] { return heldElsewhere; }, [&](bool lost) {
    shown.push_back(lost);
    windows.show(lost);
  });
  store.set(OnboardingFlow::completedKey, true);
  heldElsewhere = true;
  watcher.ownershipChanged();  // taken from the start
  ASSERT_EQ(shown, std::vector<bool>{false});
  auto* title = windows.window()->page()->findChild<QLabel*>("title");
  EXPECT_EQ(title->text(), "It cannot hear your shortcut");
  auto* footer = windows.window()->page()->findChild<BrandFooter*>("footer");
  ASSERT_EQ(footer->buttons().size(), 2u);
  EXPECT_EQ(footer->buttons()[0]->text(), "Quit");
  EXPECT_FALSE(footer->buttons()[0]->isDefault());
  EXPECT_EQ(footer->buttons()[1]->text(), "Open the setting for me");
  EXPECT_TRUE(footer->buttons()[1]->isDefault());
  footer->buttons()[1]->click();
  EXPECT_EQ(settingsShown, 1);
  EXPECT_EQ(quits, 0);
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_EQ(windows.window(), nullptr);  // the settings say it now

  heldElsewhere = false;
  watcher.ownershipChanged();
  heldElsewhere = true;
  watcher.ownershipChanged();  // the keys worked, then were taken
  EXPECT_EQ(shown, (std::vector<bool>{false, true}));
  EXPECT_EQ(windows.window()->page()->findChild<QLabel*>("title")->text(), "It cannot hear your shortcut any more");
  windows.window()->page()->findChild<BrandFooter*>("footer")->buttons()[0]->click();
  EXPECT_EQ(quits, 1);
}

// A shortcut taken while the settings or the tour are open was chosen there and is said there; the
// window is for a loss elsewhere, and for a tour finished with the keys still taken.
TEST_F(OnboardingTest, TheWatcherLeavesAShortcutChosenInAnOpenWindowToThatWindow) {
  int asked = 0;
  bool inPlace = true;
  PermissionWatcher watcher(store, loop.main(), [this] { return heldElsewhere; }, [&](bool) { ++asked; });
  watcher.setAnsweredInPlace([&] { return inPlace; });
  heldElsewhere = true;
  watcher.ownershipChanged();
  EXPECT_EQ(asked, 0);  // the tour is not finished: its page says it
  store.set(OnboardingFlow::completedKey, true);
  watcher.start();
  loop.advance(PermissionWatcher::lookInterval);
  EXPECT_EQ(asked, 0);  // said in the open window
  // The window closes with the keys still taken (a restore brought them back): the watcher speaks
  // once the close is over, and again after a later visit that left them taken.
  watcher.answeringWindowClosed();
  EXPECT_EQ(asked, 0);
  inPlace = false;
  loop.runUntilIdle();
  EXPECT_EQ(asked, 1);
  loop.advance(PermissionWatcher::lookInterval);
  EXPECT_EQ(asked, 1);
  watcher.answeringWindowClosed();
  loop.runUntilIdle();
  EXPECT_EQ(asked, 2);
  heldElsewhere = false;
  watcher.ownershipChanged();
  watcher.answeringWindowClosed();
  loop.runUntilIdle();
  EXPECT_EQ(asked, 2);  // nothing to say with the keys free
  heldElsewhere = true;
  watcher.ownershipChanged();
  EXPECT_EQ(asked, 3);  // lost with no window of choice open
}

// Before the tour has been completed, a taken shortcut is told beside the tray item only while no
// window says it (the tour's own page at the first start), once per loss, in short, and taken back
// when the keys are free or the "Shortcut needed" window says it.
TEST_F(OnboardingTest, TheTrayNoticeSpeaksOnlyWhereNothingElseDoes) {
  int asked = 0;
  bool inPlace = true;  // the tour is open
  std::vector<bool> notices;
  PermissionWatcher watcher(store, loop.main(), [this] { return heldElsewhere; }, [&](bool) { ++asked; });
  watcher.setAnsweredInPlace([&] { return inPlace; });
  watcher.setNotice([&](bool shown) { notices.push_back(shown); });
  watcher.start();
  heldElsewhere = true;
  watcher.ownershipChanged();
  EXPECT_TRUE(notices.empty());  // the tour's page says it
  inPlace = false;               // the tour is closed before its end
  watcher.answeringWindowClosed();
  loop.runUntilIdle();
  EXPECT_EQ(notices, std::vector<bool>{true});
  loop.advance(PermissionWatcher::lookInterval);
  EXPECT_EQ(notices, std::vector<bool>{true});  // once per loss
  heldElsewhere = false;
  watcher.ownershipChanged();
  heldElsewhere = true;
  watcher.ownershipChanged();
  EXPECT_EQ(notices, (std::vector<bool>{true, false, true}));
  store.set(OnboardingFlow::completedKey, true);
  loop.advance(PermissionWatcher::lookInterval);
  EXPECT_EQ(asked, 1);
  EXPECT_EQ(notices, (std::vector<bool>{true, false, true, false}));  // the window says it now

  // It names the holder that the advice names.
  EXPECT_EQ(PermissionWatcher::noticeText("Alt+Tab", openboxHolds().heldBy()),
            "Alt+Tab is held by the window manager, Openbox, so pressing it does not open Quorvel. To read what to "
            "do, choose Settings in this icon's menu and open Shortcuts.");
}

// However long the advice, the "Shortcut needed" window shows it whole: no line cut off at the top
// or the bottom, each command taken whole by a triple-click or its Copy button, and its heading
// naming the advice's holder.
TEST_F(OnboardingTest, TheShortcutNeededWindowShowsLongAdviceWholeWithSelectableCommands) {
  heldElsewhere = true;
  services.shortcutTaken = [](const HotkeyBinding&) -> std::optional<AdviceText> { return longAdvice(); };
  PermissionLostWindowController windows(services);
  windows.show();
  EXPECT_EQ(clippedTexts(*windows.window()), std::vector<std::string>{});
  const auto* note = windows.window()->findChild<AdviceView*>("shortcutNote");
  ASSERT_TRUE(note);
  const std::vector<std::pair<std::string, std::string>> taken = commandsTaken(*note);
  ASSERT_EQ(taken.size(), 2u);
  for (size_t i = 0; i < taken.size(); ++i) {
    EXPECT_EQ(taken[i].first, longAdvice().parts[i + 1].text);
    EXPECT_EQ(taken[i].second, longAdvice().parts[i + 1].text);
  }
  // The words above the advice name the holder it names.
  auto message = [](PermissionLostWindowController& shown) {
    return shown.window()->page()->findChild<QLabel*>("message")->text().toStdString();
  };
  EXPECT_NE(message(windows).find("Alt+Tab is held by the window manager, Metacity, so"), std::string::npos)
      << message(windows);
  services.shortcutTaken = [](const HotkeyBinding&) -> std::optional<AdviceText> {
    ShortcutAdvice::Findings found;
    found.managerHolds = false;
    return ShortcutAdvice::advice("IceWM", "Alt+Tab", found);
  };
  PermissionLostWindowController others(services);
  others.show();
  EXPECT_NE(message(others).find("held by another program, not by the window manager, so"), std::string::npos)
      << message(others);
  EXPECT_EQ(message(others).find("usually"), std::string::npos) << message(others);
}

// Every page builds with its texts; with QUORVEL_SHOTS set each is written there as a PNG.
TEST_F(OnboardingTest, EveryPageOfTheTourBuildsInItsWindow) {
  heldElsewhere = true;
  tabsOn = false;
  // The program's icon, as the program sets it, for the welcome drawing.
  QApplication::setWindowIcon(QIcon(QUORVEL_ICON));
  settings.setHotkeyBinding(HotkeyBinding{48, HotkeyBinding::controlFlag | HotkeyBinding::optionFlag}, HotkeySlot::first);
  OnboardingWindowController tour(services);
  tour.showIfNeeded();
  OnboardingWindow* window = tour.window();
  ASSERT_TRUE(window);
  EXPECT_EQ(window->size(), QSize(720, 600));
  const char* shots = std::getenv("QUORVEL_SHOTS");
  auto shoot = [&](const std::string& name) {
    QCoreApplication::processEvents();
    if (shots && tour.window()) tour.window()->grab().save(QString::fromStdString(std::string(shots) + "/" + name + ".png"));
  };
  for (int i = 0; i < OnboardingFlow::stepCount; ++i) {
    const Step step = window->flow().step();
    const auto texts = OnboardingScreens::texts(step, true, QSystemTrayIcon::isSystemTrayAvailable());
    QCoreApplication::processEvents();
    ASSERT_TRUE(window->page());
    EXPECT_EQ(window->page()->objectName().toStdString(), OnboardingFlow::rawValue(step));
    auto* title = window->page()->findChild<QLabel*>("title");
    ASSERT_TRUE(title);
    EXPECT_EQ(title->text(), texts.title);
    shoot(std::to_string(i) + "-" + std::string(OnboardingFlow::rawValue(step)));
    if (step == Step::shortcut) {
      heldElsewhere = false;
      loop.advance(OnboardingFlow::pollInterval);
      shoot(std::to_string(i) + "-shortcut-ready");
    }
    if (step == Step::keys) {
      // Every key of the three-key shortcut shows, and the meanings line up.
      std::vector<const BrandKeyRow*> rows;
      for (const QWidget* row : window->page()->findChildren<QWidget*>("keyRow")) {
        rows.push_back(dynamic_cast<const BrandKeyRow*>(row));
        ASSERT_TRUE(rows.back());
      }
      ASSERT_FALSE(rows.empty());
      for (const BrandKeyRow* row : rows) {
        EXPECT_GE(row->keysWidth(), row->keysNeeded());
        EXPECT_EQ(row->keysWidth(), rows.front()->keysWidth());
      }
      EXPECT_GT(rows.front()->keysWidth(), BrandKeyRow::kKeysWidth);
      summons.notify();
      shoot(std::to_string(i) + "-keys-summoned");
    }
    window->flow().advance();
    loop.runUntilIdle();
  }
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_EQ(tour.window(), nullptr);  // Finish closed it
  EXPECT_TRUE(census.openWindowNumbers().empty());
  tour.showIfNeeded();
  EXPECT_EQ(tour.window(), nullptr);
  tour.showTour();
  ASSERT_TRUE(tour.window());
  EXPECT_EQ(tour.window()->flow().step(), Step::welcome);
  if (shots) {
    // The last two pages on a machine without a touchpad.
    touchpad = false;
    while (tour.window()->flow().step() != Step::keys) tour.window()->flow().advance();
    loop.runUntilIdle();
    shoot("8-keys-no-touchpad");
    tour.window()->flow().advance();
    loop.runUntilIdle();
    shoot("9-close-no-touchpad");
    PermissionLostWindowController lost(services);
    heldElsewhere = true;
    lost.show();
    QCoreApplication::processEvents();
    lost.window()->grab().save(QString(shots) + "/shortcut-needed.png");
  }
}

}  // namespace
}  // namespace quorvel
