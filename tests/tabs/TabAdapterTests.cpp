#include <gtest/gtest.h>

#include "platform/sim/SimApp.h"
#include "tabs/TabAdapter.h"
#include "tabs/TabFixture.h"

namespace quorvel {
namespace {

using namespace std::chrono_literals;

std::string nameFor(const std::string& bundleID) {
  auto adapter = TabAdapter::adapter(bundleID);
  return adapter ? adapter->name : "<none>";
}

TEST(TabAdapterTable, HoldsTheTwelveApplicationsInLookupOrder) {
  std::vector<std::string> names;
  for (const TabAdapter& adapter : TabAdapter::table()) names.push_back(adapter.name);
  EXPECT_EQ(names, (std::vector<std::string>{"Firefox", "Chrome", "Brave", "Edge", "Vivaldi", "Opera", "Chromium",
                                             "Safari", "Finder", "Terminal", "Preview", "Ghostty"}));
}

TEST(TabAdapterTable, EachFamilyDescribesItsStripAsItsBrowserBuildsIt) {
  const TabAdapter& chrome = *TabAdapter::find("com.google.chrome");
  EXPECT_EQ(chrome.routes, (std::vector{TabAdapter::ContainerRoute::children, TabAdapter::ContainerRoute::tabsAttribute}));
  EXPECT_EQ(chrome.titleAttributes, (std::vector<std::string>{"AXTitle", "AXDescription"}));
  EXPECT_TRUE(chrome.trimsMemoryAnnotation && chrome.needsNudge && chrome.hasSiteIcon);
  EXPECT_EQ(chrome.family, FaviconBrowser::chromium);
  EXPECT_DOUBLE_EQ(chrome.faviconSideFraction, 0.47);

  const TabAdapter& firefox = *TabAdapter::find("org.mozilla.firefox");
  EXPECT_EQ(firefox.routes, (std::vector{TabAdapter::ContainerRoute::tabsAttribute, TabAdapter::ContainerRoute::children}));
  EXPECT_EQ(firefox.titleAttributes, std::vector<std::string>{"AXTitle"});
  EXPECT_FALSE(firefox.trimsMemoryAnnotation);
  EXPECT_TRUE(firefox.needsNudge);
  EXPECT_EQ(firefox.family, FaviconBrowser::gecko);
  EXPECT_DOUBLE_EQ(firefox.faviconInsetFraction, 0.22);

  const TabAdapter& safari = *TabAdapter::find("com.apple.safari");
  EXPECT_EQ(safari.containers, (std::vector<TabAdapter::ContainerMatch>{{"AXOpaqueProviderGroup", "TabBar"}}));
  EXPECT_EQ(safari.selectedAttribute, "AXValue");
  EXPECT_FALSE(safari.needsNudge);
  EXPECT_EQ(safari.faviconChildIdentifier, "FaviconImageView");
  EXPECT_FALSE(safari.family.has_value());

  const TabAdapter& finder = *TabAdapter::find("com.apple.finder");
  EXPECT_TRUE(finder.tabsAreWindows);
  EXPECT_EQ(finder.tabSubrole, "AXTabButton");
  EXPECT_EQ(finder.routes, std::vector{TabAdapter::ContainerRoute::tabsAttribute});
  EXPECT_FALSE(finder.hasSiteIcon);
  EXPECT_TRUE(finder.supportPaths.empty());
}

TEST(TabAdapterLookup, MatchesLowerCasedPrefixesInTableOrder) {
  EXPECT_EQ(nameFor("com.google.Chrome.canary"), "Chrome");
  EXPECT_EQ(nameFor("org.mozilla.nightly"), "Firefox");
  EXPECT_EQ(nameFor("Com.Apple.Safari"), "Safari");
  EXPECT_EQ(nameFor("com.apple.SafariTechnologyPreview"), "Safari");
  EXPECT_EQ(nameFor("com.operasoftware.OperaGX"), "Opera");
  EXPECT_EQ(nameFor("com.brenhalk.ghostty"), "Ghostty");
  EXPECT_EQ(nameFor("com.apple.TextEdit"), "<none>");
  EXPECT_EQ(nameFor(""), "<none>");
  EXPECT_FALSE(TabAdapter::adapter(std::nullopt).has_value());
}

TEST(TabAdapterLookup, SupportFolderTakesTheLongestMatchingSuffix) {
  auto folder = [](const std::string& bundleID) {
    return TabAdapter::find(bundleID)->supportFolder(bundleID).value_or("<none>");
  };
  EXPECT_EQ(folder("com.google.chrome.canary"), "Library/Application Support/Google/Chrome Canary");
  EXPECT_EQ(folder("com.google.chrome"), "Library/Application Support/Google/Chrome");
  EXPECT_EQ(folder("com.operasoftware.operagx"), "Library/Application Support/com.operasoftware.OperaGX");
  EXPECT_EQ(folder("com.brave.Browser.nightly"), "Library/Application Support/BraveSoftware/Brave-Browser-Nightly");
  EXPECT_EQ(folder("com.brave.browser"), "Library/Application Support/BraveSoftware/Brave-Browser");
  EXPECT_EQ(folder("org.mozilla.firefoxdeveloperedition"), "Library/Application Support/Firefox");
  EXPECT_EQ(folder("com.apple.Safari"), "<none>");
}

class TabNudge : public TabFixture {
 protected:
  NudgeResult nudge(int32_t pid) {
    return axJob([this, pid] { return nudges.nudge(pid); });
  }
};

TEST_F(TabNudge, SwitchesTheTreeOnOnceAndReportsItFreshForFiveSeconds) {
  SimApp& app = chrome();
  sim.resetCounters();
  EXPECT_EQ(nudge(app.pid), NudgeResult::fresh);
  EXPECT_TRUE(*sim.attribute(app.element(), "AXManualAccessibility").value.get<bool>());
  EXPECT_TRUE(*sim.attribute(app.element(), "AXEnhancedUserInterface").value.get<bool>());
  EXPECT_FLOAT_EQ(sim.messagingTimeout(app.element()), 0.5f);
  const int callsAfterFirst = sim.axCalls(app.pid);

  loop.advance(2s);
  EXPECT_EQ(nudge(app.pid), NudgeResult::fresh);
  loop.advance(4s);
  EXPECT_EQ(nudge(app.pid), NudgeResult::settled);
  EXPECT_EQ(sim.axCalls(app.pid), callsAfterFirst) << "a nudged process is not written to again";
}

TEST_F(TabNudge, AProcessThatNeverTakesIsAskedAgainEveryTime) {
  SimApp& app = chrome();
  BrowserTrees::refuseNudges(sim, app.pid);
  sim.resetCounters();
  EXPECT_EQ(nudge(app.pid), NudgeResult::refused);
  const int firstCalls = sim.axCalls(app.pid);
  EXPECT_GE(firstCalls, 4) << "both switches are written and read back";
  EXPECT_EQ(nudge(app.pid), NudgeResult::refused);
  EXPECT_EQ(sim.axCalls(app.pid), 2 * firstCalls);
  EXPECT_TRUE(nudges.nudgedAt().empty());
}

TEST_F(TabNudge, OneSwitchTakingIsEnough) {
  SimApp& app = chrome();
  sim.failSetAttribute(app.element(), "AXManualAccessibility", AXError::attributeUnsupported);
  EXPECT_EQ(nudge(app.pid), NudgeResult::fresh);
  EXPECT_EQ(nudges.nudgedAt().count(app.pid), 1u);
}

TEST_F(TabNudge, PruningLetsTheNextNudgeSwitchOnAgain) {
  SimApp& app = chrome();
  SimApp& other = firefox();
  nudge(app.pid);
  nudge(other.pid);
  loop.advance(10s);
  axJob([this, &other] {
    nudges.pruneNudged({other.pid});
    return true;
  });
  EXPECT_EQ(nudges.nudgedAt().count(app.pid), 0u);
  EXPECT_EQ(nudge(other.pid), NudgeResult::settled);
  sim.resetCounters();
  EXPECT_EQ(nudge(app.pid), NudgeResult::fresh);
  EXPECT_GT(sim.axCalls(app.pid), 0);
}

TEST(TabAdapterTable, LinuxBuildsFindTheirBrowserByTheirX11Identity) {
  EXPECT_EQ(nameFor("x11.firefox-esr"), "Firefox");
  EXPECT_EQ(nameFor("x11.firefox"), "Firefox");
  EXPECT_EQ(nameFor("x11.chromium"), "Chromium");
  EXPECT_EQ(nameFor("x11.chromium-browser"), "Chromium");
  EXPECT_EQ(nameFor("x11.google-chrome-beta"), "Chrome");
  EXPECT_EQ(nameFor("x11.brave-browser"), "Brave");
  EXPECT_EQ(nameFor("x11.microsoft-edge-dev"), "Edge");
  EXPECT_EQ(nameFor("x11.vivaldi-stable"), "Vivaldi");
  EXPECT_EQ(nameFor("x11.opera"), "Opera");
  // Other X11 applications, and look-alike classes that only contain a browser's name, have none.
  EXPECT_EQ(nameFor("x11.xterm"), "<none>");
  EXPECT_EQ(nameFor("x11.my-firefox"), "<none>");
  // The table keeps its twelve rows: the Linux builds are more prefixes of the same browsers.
  EXPECT_EQ(TabAdapter::table().size(), 12u);
}

}  // namespace
}  // namespace quorvel
