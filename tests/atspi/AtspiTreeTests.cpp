// The accessibility-bus element layer on trees recorded from the real browsers (Debian's
// firefox-esr and chromium, each with four local pages and a private window), played back.

#include <gtest/gtest.h>

#include "base/VirtualClock.h"
#include "platform/AXNames.h"
#include "platform/atspi/AtspiAccessibility.h"
#include "platform/atspi/AtspiRoles.h"
#include "support/RecordedAtspiBus.h"
#include "tabs/TabActivation.h"
#include "tabs/TabAdapter.h"
#include "tabs/TabWalker.h"
#include "windows/PrivateWindowMarkers.h"

namespace quorvel {
namespace {

using namespace std::chrono_literals;

std::string fixture(const std::string& name) { return std::string(QUORVEL_ATSPI_FIXTURES) + "/" + name; }

class RecordedBrowser : public ::testing::Test {
 protected:
  void open(const std::string& file, const std::string& bundleID) {
    std::string failure;
    bus = RecordedAtspiBus::load(fixture(file), failure);
    ASSERT_TRUE(bus) << failure;
    accessibility = std::make_unique<AtspiAccessibility>(bus);
    nudges = std::make_unique<TabAdapter::NudgeRecord>(*accessibility, clock);
    walker = std::make_unique<TabWalker>(*accessibility, *nudges);
    this->bundleID = bundleID;
    const TabAdapter* found = TabAdapter::find(bundleID);
    ASSERT_TRUE(found) << bundleID;
    adapter = *found;
  }

  int32_t pid() const { return bus->pid(); }

  // The application's top-level window whose name begins with `prefix`.
  AXElementRef window(const std::string& prefix) {
    const AXElementRef app = accessibility->applicationElement(pid());
    if (!app) return nullptr;
    for (const AXElementRef& w : accessibility->elementsAttribute(app, AXNames::kWindows).value_or(std::vector<AXElementRef>{})) {
      const std::optional<std::string> name = accessibility->stringAttribute(w, AXNames::kTitle);
      if (name && name->starts_with(prefix)) return w;
    }
    return nullptr;
  }

  TabWalker::Walk walk(const AXElementRef& w, bool readTitle = true, bool readFrames = true) {
    return walker->walk(AXHandle(w), pid(), adapter, readTitle, readFrames);
  }

  static std::vector<std::string> titles(const TabWalker::Walk& walk) {
    std::vector<std::string> out;
    for (const TabRecord& tab : walk.tabs) out.push_back(tab.title);
    return out;
  }

  static std::optional<std::string> selectedTitle(const TabWalker::Walk& walk) {
    for (const TabRecord& tab : walk.tabs) {
      if (tab.isSelected) return tab.title;
    }
    return std::nullopt;
  }

  TabTarget target(const AXElementRef& host, const TabWalker::Walk& walked, size_t index) {
    TabTarget t;
    t.pid = pid();
    t.bundleID = bundleID;
    t.title = walked.tabs[index].title;
    t.hostWindow = AXHandle::make(host);
    t.element = walked.tabs[index].element;
    t.ordinal = static_cast<int>(index);
    t.stripCount = static_cast<int>(walked.tabs.size());
    return t;
  }

  VirtualClock clock;
  std::shared_ptr<RecordedAtspiBus> bus;
  std::unique_ptr<AtspiAccessibility> accessibility;
  std::unique_ptr<TabAdapter::NudgeRecord> nudges;
  std::unique_ptr<TabWalker> walker;
  std::string bundleID;
  TabAdapter adapter;
};

// ---- Roles ----

TEST_F(RecordedBrowser, FirefoxRolesAreTheOnesTheTabAdaptersLookFor) {
  open("firefox-esr.json", "x11.firefox-esr");
  const auto role = [&](const std::string& path) {
    return accessibility->stringAttribute(AtspiElement::make({bus->application(), path}, pid()), AXNames::kRole);
  };
  const auto subrole = [&](const std::string& path) {
    return accessibility->stringAttribute(AtspiElement::make({bus->application(), path}, pid()), AXNames::kSubrole);
  };
  const std::vector<std::string> strips = bus->pathsWithRole(AtspiRoles::kPageTabList);
  ASSERT_EQ(strips.size(), 2u);  // the ordinary window's and the private window's
  EXPECT_EQ(role(strips[0]), "AXTabGroup");
  const std::string tab = bus->pathsWithRole(AtspiRoles::kPageTab).front();
  EXPECT_EQ(role(tab), "AXRadioButton");
  EXPECT_EQ(subrole(tab), "AXTabButton");
  EXPECT_EQ(role(bus->pathsWithRole(AtspiRoles::kPushButton).front()), "AXButton");
  EXPECT_EQ(role(bus->pathsWithRole(AtspiRoles::kMenu).front()), "AXMenu");
  EXPECT_EQ(role(bus->pathsWithRole(AtspiRoles::kMenuBar).front()), "AXMenuBar");
  EXPECT_EQ(role(bus->pathsWithRole(AtspiRoles::kFrame).front()), "AXWindow");
  EXPECT_EQ(subrole(bus->pathsWithRole(AtspiRoles::kFrame).front()), "AXStandardWindow");
  EXPECT_EQ(role(RecordedAtspiBus::kRoot), "AXApplication");
  // A toolbar is a toolbar; anything without a counterpart is a plain group.
  EXPECT_EQ(role(bus->pathsWithRole(AtspiRoles::kToolBar).front()), "AXToolbar");
  EXPECT_EQ(role(bus->pathsWithRole(85).front()), "AXGroup");

  // The application's menu bar, found within its windows.
  const AXElementRef menuBar =
      accessibility->elementAttribute(accessibility->applicationElement(pid()), AXNames::kMenuBar);
  ASSERT_TRUE(menuBar);
  EXPECT_EQ(accessibility->stringAttribute(menuBar, AXNames::kRole), "AXMenuBar");
}

TEST_F(RecordedBrowser, ChromiumsHiddenSecondStripIsNoTabGroupAndItsStripListsOnlyTabs) {
  open("chromium.json", "x11.chromium");
  const std::vector<std::string> strips = bus->pathsWithRole(AtspiRoles::kPageTabList);
  ASSERT_GE(strips.size(), 2u);
  size_t tabGroups = 0;
  for (const std::string& path : strips) {
    const AXElementRef strip = AtspiElement::make({bus->application(), path}, pid());
    if (accessibility->stringAttribute(strip, AXNames::kRole) != "AXTabGroup") continue;
    ++tabGroups;
    // The strip also holds a hidden placeholder view: neither route lists it.
    const auto children = accessibility->elementsAttribute(strip, AXNames::kChildren);
    const auto tabs = accessibility->elementsAttribute(strip, AXNames::kTabs);
    ASSERT_TRUE(children && tabs);
    EXPECT_EQ(children->size(), tabs->size());
    for (const AXElementRef& child : *children) {
      EXPECT_EQ(accessibility->stringAttribute(child, AXNames::kRole), "AXRadioButton");
    }
  }
  EXPECT_EQ(tabGroups, 2u);  // one per browser window; the vertical strips are hidden
}

// ---- The walk ----

TEST_F(RecordedBrowser, FirefoxWindowWalksIntoItsTabsWithTitlesSelectionAndFrames) {
  open("firefox-esr.json", "x11.firefox-esr");
  const AXElementRef w = window("Page 1");
  ASSERT_TRUE(w);
  const TabWalker::Walk walked = walk(w);
  EXPECT_EQ(titles(walked), (std::vector<std::string>{"Page 1", "Page 2", "Page 3", "Page 4"}));
  EXPECT_EQ(selectedTitle(walked), "Page 1");
  ASSERT_TRUE(walked.hostFrame);
  for (const TabRecord& tab : walked.tabs) {
    ASSERT_TRUE(tab.frame);
    EXPECT_GT(tab.frame->width, 0);
    // Tabs sit along the top of their window.
    EXPECT_GE(tab.frame->y, walked.hostFrame->y);
    EXPECT_LT(tab.frame->y, walked.hostFrame->y + 100);
  }
  EXPECT_TRUE(walked.mayCache);
  EXPECT_EQ(walked.accessibleTitle, "Page 1 — Mozilla Firefox");
  EXPECT_FALSE(PrivateWindowMarkers::isPrivateTabTitle(bundleID, *walked.accessibleTitle));
}

TEST_F(RecordedBrowser, ChromiumTitlesLoseTheirMemoryAnnotation) {
  open("chromium.json", "x11.chromium");
  const TabWalker::Walk walked = walk(window("Page 1"));
  EXPECT_EQ(titles(walked), (std::vector<std::string>{"Page 1", "Page 2", "Page 3", "Page 4"}));
  EXPECT_EQ(selectedTitle(walked), "Page 1");
}

TEST_F(RecordedBrowser, PrivateWindowsCarryTheirBrowsersMarker) {
  open("firefox-esr.json", "x11.firefox-esr");
  TabWalker::Walk walked = walk(window("Page 2"));
  ASSERT_TRUE(walked.accessibleTitle);
  EXPECT_TRUE(PrivateWindowMarkers::isPrivateTabTitle(bundleID, *walked.accessibleTitle));
  EXPECT_TRUE(PrivateWindowMarkers::isPrivate(bundleID, *walked.accessibleTitle));

  open("chromium.json", "x11.chromium");
  walked = walk(window("Page 2"));
  ASSERT_TRUE(walked.accessibleTitle);
  EXPECT_EQ(*walked.accessibleTitle, "Page 2 - Chromium (Incognito)");
  EXPECT_TRUE(PrivateWindowMarkers::isPrivateTabTitle(bundleID, *walked.accessibleTitle));
  EXPECT_EQ(titles(walked), std::vector<std::string>{"Page 2"});
}

TEST_F(RecordedBrowser, EveryCallOfAWalkWaitsAtMostTheMessagingTimeOut) {
  open("chromium.json", "x11.chromium");
  const AXElementRef w = window("Page 1");
  // Elements read from an element keep its time-out.
  ASSERT_EQ(accessibility->setMessagingTimeout(w, 0.25f), AXError::success);
  const size_t before = bus->timeouts().size();
  const auto children = accessibility->elementsAttribute(w, AXNames::kChildren);
  ASSERT_TRUE(children && !children->empty());
  accessibility->stringAttribute(children->front(), AXNames::kRole);
  const std::vector<AtspiBus::Timeout> afterSet = bus->timeouts();
  for (size_t i = before; i < afterSet.size(); ++i) EXPECT_EQ(afterSet[i], 250ms);

  walk(w);
  for (AtspiBus::Timeout t : bus->timeouts()) EXPECT_LE(t, 500ms);
}

// A strip of 20,000 tabs costs a bounded number of calls; a strip whose tabs never answer holds
// the walk for a few time-outs, not one per tab.
TEST_F(RecordedBrowser, AWalkOfAHugeOrSilentStripIsBounded) {
  struct Case {
    const char* file;
    const char* id;
    size_t extraTabs;
    bool silent;
  };
  for (const Case& c : {Case{"firefox-esr.json", "x11.firefox-esr", 20000, false},
                        Case{"chromium.json", "x11.chromium", 20000, false},
                        Case{"firefox-esr.json", "x11.firefox-esr", 1000, true},
                        Case{"chromium.json", "x11.chromium", 1000, true}}) {
    SCOPED_TRACE(std::string(c.file) + (c.silent ? " silent" : " huge"));
    open(c.file, c.id);
    const AXElementRef w = window("Page 1");
    ASSERT_TRUE(w);
    const size_t realTabs = walk(w).tabs.size();
    const std::string model = bus->pathsWithRole(AtspiRoles::kPageTab).front();
    for (const std::string& strip : bus->pathsWithRole(AtspiRoles::kPageTabList)) {
      // The strips the windows show (not Chromium's hidden ones).
      const AXElementRef element = AtspiElement::make({bus->application(), strip}, pid());
      if (accessibility->stringAttribute(element, AXNames::kRole) != "AXTabGroup") continue;
      for (size_t i = 0; i < c.extraTabs; ++i) {
        const std::string path = strip + "/extra" + std::to_string(i);
        RecordedAtspiBus::Object tab = bus->objects()[model];
        tab.name = "Extra " + std::to_string(i);
        tab.children.clear();
        tab.parent = strip;
        tab.silent = c.silent;
        bus->objects()[path] = tab;
        bus->objects()[strip].children.push_back(path);
      }
    }
    int callsBefore = 0;
    for (const auto& [method, count] : bus->calls()) callsBefore += count;

    const TabWalker::Walk walked = walk(w);
    int calls = -callsBefore;
    for (const auto& [method, count] : bus->calls()) calls += count;
    if (c.silent) {
      EXPECT_TRUE(walked.tabs.empty());
      EXPECT_FALSE(walked.mayCache) << "an unanswered strip is walked again, not kept";
      EXPECT_LE(bus->waited(), 3 * 500ms);
    } else {
      EXPECT_EQ(walked.tabs.size(), TabWalker::kMaxTabs);
      EXPECT_EQ(walked.dropped, int(realTabs + c.extraTabs - TabWalker::kMaxTabs));
      EXPECT_LT(calls, 2500) << "each tab costs a few calls, up to the cap only";
    }
  }
}

// ---- Pressing a tab ----

TEST_F(RecordedBrowser, PressingATabCardBringsThatTabForwardInBothBrowsers) {
  for (const auto& [file, id] : {std::pair{"firefox-esr.json", "x11.firefox-esr"}, std::pair{"chromium.json", "x11.chromium"}}) {
    SCOPED_TRACE(file);
    open(file, id);
    const AXElementRef w = window("Page 1");
    const TabWalker::Walk before = walk(w, false, false);
    ASSERT_GE(before.tabs.size(), 4u);
    TabActivation activation(*accessibility, *walker);
    EXPECT_EQ(activation.activate(target(w, before, 2)), TabPressOutcome::pressed());
    EXPECT_EQ(selectedTitle(walk(w)), "Page 3");
    EXPECT_EQ(bus->calls()["doAction"], 1);
    EXPECT_EQ(bus->calls().count("selectChild"), 0u);
  }
}

TEST_F(RecordedBrowser, ATabWithoutActionsIsSelectedThroughItsStrip) {
  open("chromium.json", "x11.chromium");
  for (const std::string& path : bus->pathsWithRole(AtspiRoles::kPageTab)) bus->objects()[path].actions.clear();
  const AXElementRef w = window("Page 1");
  const TabWalker::Walk before = walk(w, false, false);
  TabActivation activation(*accessibility, *walker);
  // The card's element is gone (the strip was rebuilt): the tab is found again by its title.
  TabTarget t = target(w, before, 3);
  t.element = AXHandle::make(AtspiElement::make({bus->application(), "/gone"}, pid()));
  EXPECT_EQ(activation.activate(t), TabPressOutcome::pressed());
  EXPECT_EQ(selectedTitle(walk(w)), "Page 4");
  EXPECT_EQ(bus->calls()["selectChild"], 1);
}

TEST_F(RecordedBrowser, ATabThatCanNeitherBePressedNorSelectedIsRefused) {
  open("firefox-esr.json", "x11.firefox-esr");
  for (const std::string& path : bus->pathsWithRole(AtspiRoles::kPageTab)) bus->objects()[path].actions.clear();
  for (const std::string& path : bus->pathsWithRole(AtspiRoles::kPageTabList)) bus->objects()[path].selection = false;
  const AXElementRef w = window("Page 1");
  const TabWalker::Walk before = walk(w, false, false);
  TabActivation activation(*accessibility, *walker);
  EXPECT_EQ(activation.activate(target(w, before, 1)),
            TabPressOutcome::refused(axErrorCode(AXError::actionUnsupported)));
  EXPECT_EQ(selectedTitle(walk(w)), "Page 1");
}

// ---- Windows ----

TEST_F(RecordedBrowser, WindowsAreMatchedByTitleThenByFrame) {
  open("chromium.json", "x11.chromium");
  const auto nameOf = [&](const AXElementRef& e) { return accessibility->stringAttribute(e, AXNames::kTitle); };
  // The same title as the window system's.
  EXPECT_EQ(nameOf(accessibility->matchWindow(pid(), "Page 1 - Chromium", Rect{0, 0, 10, 10}, false)),
            "Page 1 - Chromium");
  // The window system's title lacks the private marker: the frame decides (the popups inside the
  // window's frame are farther from it).
  EXPECT_EQ(nameOf(accessibility->matchWindow(pid(), "Page 2 - Chromium", Rect{20, 20, 1050, 980}, false)),
            "Page 2 - Chromium (Incognito)");
  EXPECT_EQ(nameOf(accessibility->matchWindow(pid(), "Page 2 - Chromium", Rect{10, 10, 1050, 980}, false)),
            "Page 1 - Chromium");
  // Nothing on the screen where the window is, and other windows too: no match.
  EXPECT_FALSE(accessibility->matchWindow(pid(), "Elsewhere", Rect{3000, 3000, 100, 100}, false));
  EXPECT_FALSE(accessibility->matchWindow(pid(), "Elsewhere", std::nullopt, true));
}

TEST_F(RecordedBrowser, ApplicationsAreFoundByProcessAndForgottenWhenGone) {
  open("firefox-esr.json", "x11.firefox-esr");
  EXPECT_FALSE(accessibility->applicationElement(pid() + 1));
  const AXElementRef app = accessibility->applicationElement(pid());
  ASSERT_TRUE(app);
  EXPECT_EQ(accessibility->pid(app), pid());
  EXPECT_EQ(accessibility->stringAttribute(app, AXNames::kRole), "AXApplication");
  EXPECT_EQ(accessibility->elementsAttribute(app, AXNames::kWindows)->size(), 2u);
  // The process is asked for once; its bus name is remembered.
  accessibility->applicationElement(pid());
  EXPECT_EQ(bus->calls()["processOf"], 1);

  const AXElementRef w = window("Page 1");
  bus->quit();
  EXPECT_EQ(accessibility->copyAttributeValue(w, AXNames::kChildren).error, AXError::invalidElement);
  EXPECT_TRUE(walk(w).tabs.empty());
  EXPECT_EQ(accessibility->copyAttributeValue(app, AXNames::kWindows).error, AXError::invalidElement);
  EXPECT_FALSE(accessibility->applicationElement(pid()));
}

TEST_F(RecordedBrowser, ABrowserThatStopsAnsweringGivesNoTabsAndNoError) {
  open("chromium.json", "x11.chromium");
  const AXElementRef w = window("Page 1");
  const int rolesBefore = bus->calls()["role"];
  bus->hang(true);
  EXPECT_EQ(accessibility->copyAttributeValue(w, AXNames::kRole).error, AXError::cannotComplete);
  const std::vector<AXAttributeResult> many =
      accessibility->copyMultipleAttributeValues(w, {AXNames::kRole, AXNames::kTitle, AXNames::kChildren});
  ASSERT_EQ(many.size(), 3u);
  for (const AXAttributeResult& r : many) EXPECT_EQ(r.error, AXError::cannotComplete);
  // The application is asked once, not once per attribute: it is not answering.
  EXPECT_EQ(bus->calls()["role"], rolesBefore + 2);
  EXPECT_TRUE(walk(w).tabs.empty());
}

// ---- The nudge ----

TEST_F(RecordedBrowser, TheNudgeTurnsTheSessionsAssistiveTechnologySwitchOn) {
  open("chromium.json", "x11.chromium");
  ASSERT_EQ(bus->isEnabled(500ms).value, true);
  ASSERT_EQ(bus->setEnabled(false, 500ms), AXError::success);
  EXPECT_EQ(nudges->nudge(pid()), NudgeResult::fresh);
  EXPECT_TRUE(bus->isEnabled(500ms).value);
  EXPECT_EQ(bus->calls()["setEnabled"], 3);  // ours, then both switches
  // Turning it off is never passed on: other clients may need it.
  const AXElementRef app = accessibility->applicationElement(pid());
  EXPECT_EQ(accessibility->setAttributeValue(app, AXNames::kManualAccessibility, AXValue(false)), AXError::success);
  EXPECT_TRUE(bus->isEnabled(500ms).value);
  EXPECT_EQ(accessibility->setAttributeValue(app, AXNames::kManualAccessibility, AXValue("yes")),
            AXError::illegalArgument);
}

TEST_F(RecordedBrowser, ElementsAreEqualByTheirObjectAlone) {
  open("firefox-esr.json", "x11.firefox-esr");
  const AXElementRef a = AtspiElement::make({bus->application(), "/x"}, pid(), 100ms);
  const AXElementRef b = AtspiElement::make({bus->application(), "/x"}, pid(), 500ms);
  const AXElementRef c = AtspiElement::make({bus->application(), "/y"}, pid());
  EXPECT_TRUE(AXElementEqual{}(a, b));
  EXPECT_EQ(a->hash(), b->hash());
  EXPECT_FALSE(AXElementEqual{}(a, c));
}

}  // namespace
}  // namespace quorvel
