#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "windows/PrivateWindowRule.h"
#include "windows/WindowFacts.h"
#include "windows/WindowRules.h"

namespace quorvel {
namespace {

using RawWindow = RegistryState::RawWindow;
using PrivateDisplay = SettingEnums::PrivateWindowsDisplay;
using CategoryDisplay = SettingEnums::CategoryDisplay;

constexpr int32_t kOwnPid = 1;
constexpr int64_t kCurrent = 10;
constexpr int64_t kOther = 20;

RawWindow raw(uint32_t id, int32_t pid, std::string title, bool onScreen = true, Rect frame = {100, 100, 800, 600},
              std::optional<std::string> bundleID = std::string("com.example.app")) {
  RawWindow w;
  w.id = id;
  w.pid = pid;
  w.title = std::move(title);
  w.isOnScreen = onScreen;
  w.frame = frame;
  w.bundleID = std::move(bundleID);
  w.appName = "App";
  return w;
}

// One pass's inputs, owned here, from which the facts of each window are read.
struct PassInputs {
  std::vector<RawWindow> windows;
  std::unordered_map<uint32_t, WindowAXInfo> ax;
  std::optional<SpaceMap::Snapshot> snapshot = SpaceMap::Snapshot{};
  bool trusted = true;
  std::unordered_set<uint32_t> ownOpen;
  std::unordered_set<int32_t> hiddenPids;
  std::unordered_set<uint32_t> knownPrivate;
  RegistryState::PriorAnswers prior;

  PassInputs() {
    snapshot->currentSpaceIDs = {kCurrent};
    snapshot->visibleSpaceIDs = {kCurrent};
    snapshot->indexBySpaceID = {{kCurrent, 1}, {kOther, 2}};
  }
  void place(uint32_t id, std::set<int64_t> spaces) { snapshot->spacesByWindow[id] = std::move(spaces); }
  void listAX(uint32_t id, std::optional<AXSubrole> subrole = AXSubrole::standardWindow, bool minimized = false) {
    ax[id] = WindowAXInfo{nullptr, minimized, subrole};
  }

  // The facts of window `id`, read as the filter reads them.
  WindowFacts facts(uint32_t id) {
    byPid.clear();
    pidsWithAX.clear();
    for (const RawWindow& w : windows) {
      byPid[w.pid].push_back(&w);
      if (trusted && ax.contains(w.id)) pidsWithAX.insert(w.pid);
    }
    pass.emplace(WindowFacts::Pass{ax, snapshot ? &*snapshot : nullptr, trusted, kOwnPid, ownOpen, hiddenPids,
                                   knownPrivate, prior, byPid, pidsWithAX});
    for (const RawWindow& w : windows) {
      if (w.id == id) return WindowFacts::of(w, *pass);
    }
    ADD_FAILURE() << "no window " << id;
    return WindowFacts::of(windows.front(), *pass);
  }

  std::unordered_map<int32_t, std::vector<const RawWindow*>> byPid;
  std::unordered_set<int32_t> pidsWithAX;
  std::optional<WindowFacts::Pass> pass;
};

const std::vector<Rect> kDisplays{{0, 0, 1920, 1080}};

TEST(WindowFacts, AreLookedUpOnceFromThePass) {
  PassInputs in;
  in.windows = {raw(5, 100, "  "), raw(6, 100, "Doc", false), raw(7, kOwnPid, "Settings")};
  in.place(6, {kOther});
  in.listAX(6, AXSubrole::dialog, true);
  in.hiddenPids = {100};
  in.ownOpen = {7};
  in.prior.placedOnASpace = {5};
  in.knownPrivate = {6};

  const WindowFacts blank = in.facts(5);
  EXPECT_TRUE(blank.blank) << "white space only";
  EXPECT_TRUE(blank.spaces.empty());
  EXPECT_EQ(blank.ax, nullptr);
  EXPECT_TRUE(blank.placedBefore);
  EXPECT_TRUE(blank.hiddenApp);
  EXPECT_TRUE(blank.appAnsweredAX) << "another window of the application was listed";
  EXPECT_EQ(blank.sameApp.size(), 2u);

  const WindowFacts listed = in.facts(6);
  EXPECT_TRUE(listed.listedByAX());
  EXPECT_TRUE(listed.minimized);
  EXPECT_TRUE(listed.knownPrivate);
  EXPECT_EQ(listed.spaces, (std::set<int64_t>{kOther}));

  const WindowFacts own = in.facts(7);
  EXPECT_TRUE(own.own);
  EXPECT_TRUE(own.ownOpen);

  in.trusted = false;
  EXPECT_FALSE(in.facts(6).minimized) << "without trust nothing Accessibility says counts";
  EXPECT_FALSE(in.facts(6).listedByAX());
}

TEST(WindowRules, SubrolesDropBlankAndFloatingWindows) {
  struct Case {
    const char* what;
    std::optional<AXSubrole> subrole;
    std::string title;
    std::optional<std::string> bundleID;
    bool onADesktop;
    bool withSnapshot;
    bool dropped;
  };
  const Case cases[] = {
      {"blank standard window of a blank-window application", AXSubrole::standardWindow, "", "com.jetbrains.goland",
       true, true, true},
      {"blank standard window of another application", AXSubrole::standardWindow, "", "com.example.app", true, true,
       false},
      {"blank dialog of a blank-window application", AXSubrole::dialog, " ", "org.qemu.QEMU", true, true, true},
      {"titled standard window of a blank-window application", AXSubrole::standardWindow, "Main",
       "com.jetbrains.goland", true, true, false},
      {"blank floating panel", AXSubrole::floatingWindow, "", "com.example.app", true, true, true},
      {"titled floating panel on a desktop", AXSubrole::floatingWindow, "Colors", "com.example.app", true, true, false},
      {"titled floating panel on no desktop", AXSubrole::floatingWindow, "Colors", "com.example.app", false, true, true},
      {"titled floating panel without desktop facts", AXSubrole::floatingWindow, "Colors", "com.example.app", false,
       false, true},
      {"titled unknown subrole without desktop facts", AXSubrole::other, "Tool", "com.example.app", false, false, false},
      {"unreadable subrole", std::nullopt, "", "com.jetbrains.goland", true, true, false},
  };
  for (const Case& c : cases) {
    PassInputs in;
    in.windows = {raw(5, 100, c.title, true, {100, 100, 800, 600}, c.bundleID)};
    in.listAX(5, c.subrole);
    if (c.onADesktop) in.place(5, {kCurrent});
    if (!c.withSnapshot) in.snapshot.reset();
    EXPECT_EQ(WindowRules::droppedBySubrole(in.facts(5)), c.dropped) << c.what;
    in.trusted = false;
    EXPECT_FALSE(WindowRules::droppedBySubrole(in.facts(5))) << c.what << ", without trust";
  }
}

TEST(WindowRules, OwnWindowsCountOnlyWhileOpen) {
  PassInputs in;
  in.windows = {raw(5, kOwnPid, "Settings"), raw(6, kOwnPid, "Tour"), raw(7, 100, "Doc")};
  in.ownOpen = {5};
  EXPECT_FALSE(WindowRules::isStrayOwnWindow(in.facts(5)));
  EXPECT_TRUE(WindowRules::isStrayOwnWindow(in.facts(6)));
  EXPECT_FALSE(WindowRules::isStrayOwnWindow(in.facts(7)));
}

TEST(WindowRules, VisibilityFollowsDesktopsAndTheOnScreenFlag) {
  PassInputs in;
  in.windows = {raw(1, 100, "On screen"), raw(2, 100, "Off, visible desktop", false),
                raw(3, 100, "Off, other desktop", false), raw(4, 100, "Nowhere, never placed", false),
                raw(5, 100, "Nowhere, placed before", false), raw(6, 100, "Nowhere, placed before, on screen")};
  in.place(1, {kCurrent});
  in.place(2, {kCurrent});
  in.place(3, {kOther});
  in.prior.placedOnASpace = {5, 6};
  EXPECT_TRUE(WindowRules::isVisible(in.facts(1), kDisplays));
  EXPECT_FALSE(WindowRules::isVisible(in.facts(2), kDisplays)) << "covered on a desktop the user sees";
  EXPECT_TRUE(WindowRules::isVisible(in.facts(3), kDisplays));
  EXPECT_FALSE(WindowRules::isVisible(in.facts(4), kDisplays));
  EXPECT_TRUE(WindowRules::isVisible(in.facts(5), kDisplays));
  EXPECT_TRUE(WindowRules::isVisible(in.facts(6), kDisplays));

  in.hiddenPids = {100};
  EXPECT_TRUE(WindowRules::isVisible(in.facts(2), kDisplays)) << "a hidden application's windows are off screen";
  EXPECT_TRUE(WindowRules::isVisible(in.facts(4), kDisplays));
}

TEST(WindowRules, AccessibilityPresenceDropsWindowsItNeverListed) {
  PassInputs in;
  in.windows = {raw(1, 100, "Listed"), raw(2, 100, "Unlisted", false), raw(3, 200, "Other app", false),
                raw(4, kOwnPid, "Own", false)};
  in.listAX(1);
  for (uint32_t id : {1u, 2u, 3u, 4u}) in.place(id, {kOther});
  in.ownOpen = {4};
  EXPECT_TRUE(WindowRules::isVisible(in.facts(1), kDisplays));
  EXPECT_FALSE(WindowRules::isVisible(in.facts(2), kDisplays)) << "its application answered without it";
  EXPECT_TRUE(WindowRules::isVisible(in.facts(3), kDisplays)) << "its application listed no window at all";
  EXPECT_TRUE(WindowRules::isVisible(in.facts(4), kDisplays)) << "own windows are accepted at once";
  in.prior.axNamed = {2};
  EXPECT_TRUE(WindowRules::isVisible(in.facts(2), kDisplays)) << "listed in an earlier pass";
  EXPECT_FALSE(WindowRules::failsAXPresence(in.facts(3), false));
  in.trusted = false;
  in.prior.axNamed.clear();
  EXPECT_TRUE(WindowRules::isVisible(in.facts(2), kDisplays)) << "no presence rule without trust";
}

TEST(WindowRules, WithoutDesktopFactsOffScreenWindowsNeedAccessibility) {
  PassInputs in;
  in.snapshot.reset();
  in.windows = {raw(1, 100, "Off, listed", false), raw(2, 100, "Off, unlisted", false),
                raw(3, kOwnPid, "Own, unlisted", false), raw(4, 100, "On screen")};
  in.listAX(1);
  in.ownOpen = {3};
  EXPECT_TRUE(WindowRules::isVisible(in.facts(1), kDisplays));
  EXPECT_FALSE(WindowRules::isVisible(in.facts(2), kDisplays));
  EXPECT_TRUE(WindowRules::isVisible(in.facts(3), kDisplays));
  EXPECT_TRUE(WindowRules::isVisible(in.facts(4), kDisplays));
  in.trusted = false;
  EXPECT_TRUE(WindowRules::isVisible(in.facts(2), kDisplays));
}

TEST(WindowRules, MinimizedBackgroundTabsOfWindowTabbedApplicationsAreDropped) {
  PassInputs in;
  const std::optional<std::string> finder = std::string("com.apple.finder");
  in.windows = {raw(3, 100, "Front tab", true, {50, 50, 900, 700}, finder),
                raw(2, 100, "Background tab", false, {50, 50, 900, 700}, finder),
                raw(4, 100, "Elsewhere", false, {60, 50, 900, 700}, finder)};
  in.place(3, {kCurrent});
  for (uint32_t id : {2u, 3u, 4u}) in.listAX(id, AXSubrole::standardWindow, id != 3);
  EXPECT_FALSE(WindowRules::isVisible(in.facts(2), kDisplays));
  EXPECT_TRUE(WindowRules::isVisible(in.facts(4), kDisplays)) << "another frame: a minimized window of its own";
  EXPECT_EQ(WindowRules::orderingID(in.windows[0], in.facts(3).sameApp), 2u) << "the group's smallest id";
  EXPECT_EQ(WindowRules::orderingID(in.windows[2], in.facts(4).sameApp), 4u);
  // The opening order takes the group's earliest on its own numbers; the ordering id stays a window id.
  EXPECT_EQ(WindowRules::openingOrder(in.windows[0], in.facts(3).sameApp), std::nullopt) << "none known";
  in.windows[0].openingOrder = 9;
  in.windows[1].openingOrder = 5;
  in.windows[2].openingOrder = 1;
  EXPECT_EQ(WindowRules::openingOrder(in.windows[0], in.facts(3).sameApp), 5u) << "the group's earliest";
  EXPECT_EQ(WindowRules::orderingID(in.windows[0], in.facts(3).sameApp), 2u);
  EXPECT_EQ(WindowRules::openingOrder(in.windows[2], in.facts(4).sameApp), 1u);

  in.windows[1].bundleID = "com.example.app";
  EXPECT_TRUE(WindowRules::isVisible(in.facts(2), kDisplays)) << "only applications whose tabs are windows";
  EXPECT_EQ(WindowRules::orderingID(in.windows[1], in.facts(2).sameApp), 2u);
  in.windows[0].bundleID = "com.example.app";
  EXPECT_EQ(WindowRules::orderingID(in.windows[0], in.facts(3).sameApp), 3u);
  EXPECT_EQ(WindowRules::openingOrder(in.windows[0], in.facts(3).sameApp), 9u);
}

TEST(WindowRules, TheTitleStripOfAFullScreenWindowIsDropped) {
  PassInputs in;
  in.windows = {raw(1, 100, "Strip", true, {0, 0, 1920, 40}), raw(2, 100, "Full", true, {0, 0, 1920, 1080}),
                raw(3, kOwnPid, "Own strip", true, {0, 0, 1920, 40}), raw(4, kOwnPid, "Own full", true, {0, 0, 1920, 1080})};
  for (uint32_t id : {1u, 2u, 3u, 4u}) in.place(id, {kCurrent});
  in.ownOpen = {3, 4};
  EXPECT_FALSE(WindowRules::isVisible(in.facts(1), kDisplays));
  EXPECT_TRUE(WindowRules::isVisible(in.facts(2), kDisplays));
  EXPECT_TRUE(WindowRules::isVisible(in.facts(3), kDisplays)) << "own windows are never strips";
  in.place(2, {kOther});
  EXPECT_TRUE(WindowRules::isVisible(in.facts(1), kDisplays)) << "the full window lies on another desktop";
  EXPECT_TRUE(WindowRules::isFullscreenStrip(in.windows[0], in.facts(1).sameApp, kDisplays, nullptr))
      << "without desktop facts the frames decide";
}

TEST(WindowRules, StatesAndTheDisplaysThatGovernThem) {
  PassInputs in;
  in.windows = {raw(1, 100, "Here"), raw(2, 100, "There", false), raw(3, 100, "Small", false),
                raw(4, 200, "Hidden app", false), raw(5, 100, "Two desktops", false)};
  in.place(1, {kCurrent});
  in.place(2, {kOther});
  in.place(5, {kOther, 30});
  in.snapshot->fullscreenSpaceIDs = {kOther};
  in.listAX(3, AXSubrole::standardWindow, true);
  in.hiddenPids = {200};
  PassSettings settings;
  settings.otherSpacesDisplay = CategoryDisplay::atEnd;
  settings.minimizedDisplay = CategoryDisplay::hide;
  settings.hiddenAppsDisplay = CategoryDisplay::show;

  EXPECT_EQ(WindowRules::stateOf(in.facts(1)), WindowState::onCurrentSpace);
  EXPECT_EQ(WindowRules::governingDisplay(WindowState::onCurrentSpace, settings), CategoryDisplay::show);
  EXPECT_EQ(WindowRules::stateOf(in.facts(2)), WindowState::onOtherSpace);
  EXPECT_EQ(WindowRules::governingDisplay(WindowState::onOtherSpace, settings), CategoryDisplay::atEnd);
  EXPECT_EQ(WindowRules::spaceNumber(in.facts(2), WindowState::onOtherSpace), 2);
  EXPECT_TRUE(WindowRules::isOnFullscreenSpace(in.facts(2), WindowState::onOtherSpace));
  EXPECT_EQ(WindowRules::spaceNumber(in.facts(5), WindowState::onOtherSpace), std::nullopt) << "two desktops";
  EXPECT_FALSE(WindowRules::isOnFullscreenSpace(in.facts(5), WindowState::onOtherSpace));
  EXPECT_EQ(WindowRules::spaceNumber(in.facts(1), WindowState::onCurrentSpace), std::nullopt);
  EXPECT_EQ(WindowRules::stateOf(in.facts(3)), WindowState::minimized);
  EXPECT_EQ(WindowRules::governingDisplay(WindowState::minimized, settings), CategoryDisplay::hide);
  EXPECT_EQ(WindowRules::stateOf(in.facts(4)), WindowState::hiddenApp);

  in.snapshot.reset();
  EXPECT_EQ(WindowRules::stateOf(in.facts(1)), WindowState::onCurrentSpace) << "on screen";
  EXPECT_EQ(WindowRules::stateOf(in.facts(2)), WindowState::onOtherSpace) << "off screen";
  EXPECT_EQ(WindowRules::spaceNumber(in.facts(2), WindowState::onOtherSpace), std::nullopt);
}

TEST(WindowRules, TheUsersHideRulesMatchLowerCasedTitleWords) {
  PassInputs in;
  in.windows = {raw(1, 100, "Quarterly REPORT"), raw(2, 100, "Notes"), raw(3, 200, "Anything", true,
                                                                          {100, 100, 800, 600}, "com.example.other")};
  PassSettings settings;
  settings.hiddenBundleIDs = {"com.example.app", "com.example.other"};
  settings.hiddenTitlePatterns = {{"com.example.app", {"report"}}};
  EXPECT_TRUE(WindowRules::hiddenByUser(in.facts(1), settings));
  EXPECT_FALSE(WindowRules::hiddenByUser(in.facts(2), settings));
  EXPECT_TRUE(WindowRules::hiddenByUser(in.facts(3), settings)) << "no words: every window";
}

TEST(PrivateWindowRule, OneTreatmentPerDisplay) {
  struct Case {
    PrivateDisplay display;
    bool names;
    PrivateWindowRule::Treatment marked;
  };
  const Case cases[] = {
      {PrivateDisplay::show, false, {false, false, false, true}},
      {PrivateDisplay::blur, false, {false, true, true, false}},
      {PrivateDisplay::blur, true, {false, true, true, true}},
      {PrivateDisplay::hidePicture, false, {false, true, false, false}},
      {PrivateDisplay::hide, false, {true, false, false, false}},
  };
  for (const Case& c : cases) {
    PassSettings settings;
    settings.privateWindowsDisplay = c.display;
    settings.privateWindowNames = c.names;
    const auto t = PrivateWindowRule::treat(true, settings);
    const int display = static_cast<int>(c.display);
    EXPECT_EQ(t.hide, c.marked.hide) << display;
    EXPECT_EQ(t.isPrivate, c.marked.isPrivate) << display;
    EXPECT_EQ(t.blursPicture, c.marked.blursPicture) << display;
    EXPECT_EQ(t.realTitle, c.marked.realTitle) << display;

    const auto plain = PrivateWindowRule::treat(false, settings);
    EXPECT_FALSE(plain.hide || plain.isPrivate || plain.blursPicture) << display;
    EXPECT_TRUE(plain.realTitle) << display;
  }
}

TEST(PrivateWindowRule, MarkedByKnowledgeOrByTitleUnlessShown) {
  const std::optional<std::string> chrome = std::string("com.google.Chrome");
  EXPECT_TRUE(PrivateWindowRule::isMarked(false, PrivateDisplay::blur, chrome, "New Tab - Incognito"));
  EXPECT_FALSE(PrivateWindowRule::isMarked(false, PrivateDisplay::show, chrome, "New Tab - Incognito"))
      << "titles are not even looked at while private windows are shown";
  EXPECT_TRUE(PrivateWindowRule::isMarked(true, PrivateDisplay::show, chrome, "Inbox"));
  EXPECT_FALSE(PrivateWindowRule::isMarked(false, PrivateDisplay::hide, chrome, "Inbox"));

  WindowCard card;
  card.title = "New Tab - Incognito";
  PassSettings settings;
  settings.privateWindowsDisplay = PrivateDisplay::blur;
  PrivateWindowRule::dress(card, PrivateWindowRule::forWindow(false, chrome, card.title, settings));
  EXPECT_EQ(card.title, PrivateWindowRule::kTitle);
  EXPECT_TRUE(card.isPrivate);
  EXPECT_TRUE(card.blursPicture);
}

}  // namespace
}  // namespace quorvel
