#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "support/BrowserTrees.h"
#include "windows/RegistryFixture.h"

namespace quorvel {
namespace {

using Ids = std::vector<uint32_t>;

class RefreshPassTest : public RegistryFixture {
 protected:
  static constexpr int32_t kChromePid = 200;

  SimApp& chrome() { return launch(kChromePid, "Google Chrome", std::string("com.google.Chrome")); }
  // As the started registry's defaults observer would: a membership setting forces the next pass.
  void set(const std::string& key, DefaultsStore::Value value) {
    RegistryFixture::set(key, std::move(value));
    registry->onDefaultsChanged();
  }
  void force() {
    withState([](RegistryState& s) {
      s.mustRunNextPass = true;
      return 0;
    });
  }
  std::optional<WindowState> stateOf(uint32_t id) {
    const auto c = card(id);
    return c ? std::optional<WindowState>(c->state) : std::nullopt;
  }
  std::vector<WindowCard> cardsOf(int32_t pid) {
    std::vector<WindowCard> out;
    for (auto& c : cards()) {
      if (c.pid == pid) out.push_back(c);
    }
    return out;
  }
};

// ---- States ----

TEST_F(RefreshPassTest, StatesFollowDesktopsMinimizingAndHiding) {
  SimApp& mail = launch(100, "Mail");
  SimWindow& here = open(mail, "Here");
  SimWindow& away = open(mail, "Away");
  SimWindow& folded = open(mail, "Folded");
  const int64_t second = sim.addDesktop(1);
  SimWindow& neverSeen = mail.openWindow({.title = std::string("Elsewhere"), .desktop = second});
  pass();  // Accessibility lists the windows of the shown desktop
  away.moveToDesktop(second);
  folded.minimize();
  pass();
  EXPECT_EQ(stateOf(here.number), WindowState::onCurrentSpace);
  EXPECT_EQ(card(here.number)->spaceNumber, std::nullopt);
  EXPECT_TRUE(card(here.number)->ax);
  ASSERT_EQ(stateOf(away.number), WindowState::onOtherSpace);
  EXPECT_EQ(card(away.number)->spaceNumber, 2);
  EXPECT_EQ(card(away.number)->spaceIDs, std::set<int64_t>{second});
  EXPECT_EQ(stateOf(folded.number), WindowState::minimized);
  // A window its application never listed, on a desktop not shown: no card.
  EXPECT_EQ(stateOf(neverSeen.number), std::nullopt);

  sim.switchDesktop(second);
  pass();
  ASSERT_EQ(stateOf(here.number), WindowState::onOtherSpace);
  EXPECT_EQ(card(here.number)->spaceNumber, 1);
  EXPECT_EQ(stateOf(away.number), WindowState::onCurrentSpace);
  EXPECT_EQ(stateOf(neverSeen.number), WindowState::onCurrentSpace);

  mail.hide();
  pass();
  EXPECT_EQ(stateOf(away.number), WindowState::hiddenApp);
  EXPECT_EQ(stateOf(folded.number), WindowState::hiddenApp);
  mail.unhide();
  pass();
  EXPECT_EQ(stateOf(away.number), WindowState::onCurrentSpace);
  EXPECT_EQ(stateOf(folded.number), WindowState::minimized);
}

TEST_F(RefreshPassTest, CategoriesSetToHideMakeNoCards) {
  SimApp& mail = launch(100, "Mail");
  SimWindow& here = open(mail, "Here");
  SimWindow& folded = open(mail, "Folded");
  folded.minimize();
  set(AppSettings::Key::minimizedDisplay, "hide");
  pass();
  EXPECT_EQ(cardIDs(), Ids{here.number});
  here.close();
  pass();
  // Its only window is minimized and hidden by the setting: the application still has windows.
  EXPECT_TRUE(cards().empty());
}

TEST_F(RefreshPassTest, WithoutAccessibilityStatesComeFromDesktopsAlone) {
  SimApp& mail = launch(100, "Mail");
  SimWindow& here = open(mail, "Here");
  pass();
  EXPECT_FALSE(withState([](RegistryState& s) { return s.axCacheByPID.empty(); }));
  sim.setAccessibilityTrusted(false);
  const int calls = sim.axCalls(100);
  force();
  pass();
  EXPECT_EQ(card(here.number)->state, WindowState::onCurrentSpace);
  EXPECT_FALSE(card(here.number)->ax);
  EXPECT_EQ(sim.axCalls(100), calls);
  EXPECT_TRUE(withState([](RegistryState& s) { return s.axCacheByPID.empty(); }));
}

TEST_F(RefreshPassTest, AnApplicationIsAskedForItsWindowsOnlyWhenTheyChange) {
  SimApp& mail = launch(100, "Mail");
  open(mail, "Inbox");
  SimApp& notes = launch(101, "Notes");
  open(notes, "List");
  pass();
  const int mailCalls = sim.axCalls(100);
  const int notesCalls = sim.axCalls(101);
  open(notes, "Second");
  pass();
  EXPECT_EQ(sim.axCalls(100), mailCalls);
  EXPECT_GT(sim.axCalls(101), notesCalls);
  sim.quitApp(101);
  pass();
  EXPECT_EQ(withState([](RegistryState& s) { return s.axCacheByPID.size(); }), 1u);
}

// ---- Filter rules ----

TEST_F(RefreshPassTest, BlankAndFloatingWindowsFollowTheirSubrole) {
  SimApp& ide = launch(100, "IDE", std::string("com.jetbrains.intellij"));
  SimWindow& blankIde = ide.openWindow({.title = std::string(" "), .frame = {0, 0, 800, 600}});
  SimWindow& project = ide.openWindow({.title = std::string("project"), .frame = {0, 0, 800, 600}});
  SimApp& mail = launch(101, "Mail");
  SimWindow& blankMail = mail.openWindow({.title = std::string(""), .frame = {0, 0, 800, 600}});
  SimWindow& palette = mail.openWindow({.title = std::string("Colors"), .frame = {0, 0, 300, 300},
                                        .subrole = "AXFloatingWindow"});
  SimWindow& blankPanel = mail.openWindow({.title = std::string(""), .frame = {0, 0, 300, 300},
                                           .subrole = "AXFloatingWindow"});
  pass();
  EXPECT_FALSE(card(blankIde.number));
  EXPECT_TRUE(card(project.number));
  EXPECT_TRUE(card(blankMail.number));
  EXPECT_TRUE(card(palette.number));  // titled and on a desktop
  EXPECT_FALSE(card(blankPanel.number));

  // Without desktop facts a floating window is left out.
  sim.setDesktopGroupAvailable(DesktopServer::Group::spaces, false);
  force();
  pass();
  EXPECT_FALSE(card(palette.number));
  EXPECT_TRUE(card(blankMail.number));
}

TEST_F(RefreshPassTest, TheTitleStripOfAFullScreenWindowIsNoCard) {
  SimApp& video = launch(100, "Video");
  SimWindow& full = video.openWindow({.title = std::string("Film"), .frame = {0, 0, 1920, 1080}});
  SimWindow& strip = video.openWindow({.title = std::string("Film"), .frame = {0, 0, 1920, 40}});
  SimWindow& toolbar = video.openWindow({.title = std::string("Tools"), .frame = {0, 200, 1920, 100}});
  pass();
  EXPECT_TRUE(card(full.number));
  EXPECT_FALSE(card(strip.number));
  EXPECT_TRUE(card(toolbar.number));  // its top edge is not the full window's
}

TEST_F(RefreshPassTest, ThisProgramsOwnWindowsCountOnlyWhileOpen) {
  SimApp& own = sim.launchApp({.pid = kOwnPid, .bundleID = std::string("net.tarmeq.quorvel"),
                               .name = std::string("Quorvel")});
  SimWindow& settingsWindow = open(own, "Settings");
  SimWindow& overlay = open(own, "");
  pass();
  EXPECT_TRUE(cards().empty());  // no windowless card for this program either
  census.windowOpened(settingsWindow.number);
  force();
  pass();
  EXPECT_EQ(cardIDs(), Ids{settingsWindow.number});
  EXPECT_FALSE(card(overlay.number));
}

TEST_F(RefreshPassTest, TheUsersHideRulesDropWindowsButKeepTheApplicationCounted) {
  SimApp& mail = launch(100, "Mail");
  SimWindow& plans = open(mail, "Top SECRET plans");
  SimWindow& inbox = open(mail, "Inbox");
  set(AppSettings::Key::hiddenBundleIDs, DefaultsStore::Value::array({"com.example.Mail"}));
  pass();
  EXPECT_TRUE(cards().empty());  // hidden entirely, and no windowless card either

  settings.setHiddenTitlePatterns({{"com.example.Mail", {"secret"}}});
  force();
  pass();
  EXPECT_EQ(cardIDs(), Ids{inbox.number});
  inbox.close();
  pass();
  EXPECT_TRUE(cards().empty());  // its remaining window is hidden by a word: no windowless card
  EXPECT_FALSE(card(plans.number));
}

TEST_F(RefreshPassTest, PrivateWindowsFollowTheirSetting) {
  SimApp& browser = chrome();
  SimWindow& bank = open(browser, "Bank - Incognito");
  SimWindow& news = open(browser, "News");
  set(AppSettings::Key::privateWindowsDisplay, "blur");
  pass();
  auto privateCard = card(bank.number);
  ASSERT_TRUE(privateCard);
  EXPECT_EQ(privateCard->title, "Private window");
  EXPECT_TRUE(privateCard->isPrivate);
  EXPECT_TRUE(privateCard->blursPicture);
  EXPECT_FALSE(card(news.number)->isPrivate);

  set(AppSettings::Key::privateWindowNames, true);
  set(AppSettings::Key::privateWindowsDisplay, "hidePicture");
  pass();
  EXPECT_EQ(card(bank.number)->title, "Bank - Incognito");
  EXPECT_TRUE(card(bank.number)->isPrivate);
  EXPECT_FALSE(card(bank.number)->blursPicture);

  set(AppSettings::Key::privateWindowsDisplay, "hide");
  pass();
  EXPECT_FALSE(card(bank.number));

  set(AppSettings::Key::privateWindowsDisplay, "show");
  pass();
  EXPECT_FALSE(card(bank.number)->isPrivate);
}

TEST_F(RefreshPassTest, AccessibilityTitlesMarkPrivateWindowsFromTheNextPass) {
  SimApp& browser = chrome();
  // The shared title carries no window marker; the tab-and-menu form of the title does.
  SimWindow& news = open(browser, "News (Incognito)");
  SimWindow& plain = open(browser, "Weather");
  set(AppSettings::Key::privateWindowsDisplay, "blur");
  pass();
  EXPECT_FALSE(card(news.number)->isPrivate);
  EXPECT_EQ(withState([](RegistryState& s) { return s.axPrivateWindows; }),
            std::unordered_set<uint32_t>{news.number});
  const int calls = sim.axCalls(kChromePid);
  force();
  pass();
  EXPECT_TRUE(card(news.number)->isPrivate);
  EXPECT_FALSE(card(plain.number)->isPrivate);
  // Unchanged windows: the titles are not asked again.
  EXPECT_EQ(sim.axCalls(kChromePid), calls);

  set(AppSettings::Key::privateWindowsDisplay, "show");
  pass();
  EXPECT_TRUE(withState([](RegistryState& s) { return s.axPrivateWindows.empty(); }));
  EXPECT_FALSE(card(news.number)->isPrivate);
}

// ---- Hidden applications, windowless applications ----

TEST_F(RefreshPassTest, HiddenApplicationsKeepTheirWindowsWhenTheyStopBeingListed) {
  SimApp& mail = launch(100, "Mail");
  SimWindow& inbox = open(mail, "Inbox");
  SimWindow& draft = open(mail, "Draft");
  pass();
  mail.hide();
  pass();
  inbox.close();  // the window server stops listing it while the application is hidden
  force();
  pass();
  auto carried = card(inbox.number);
  ASSERT_TRUE(carried);
  EXPECT_EQ(carried->state, WindowState::hiddenApp);
  EXPECT_TRUE(carried->spaceIDs.empty());
  EXPECT_EQ(carried->spaceNumber, std::nullopt);
  EXPECT_EQ(carried->title, "Inbox");

  // Shown or not, it stays carried while the application stays hidden.
  set(AppSettings::Key::hiddenAppsDisplay, "hide");
  pass();
  EXPECT_TRUE(cards().empty());
  const uint32_t inboxID = inbox.number;
  EXPECT_TRUE(withState([&](RegistryState& s) { return s.retainedHidden.contains(inboxID); }));
  set(AppSettings::Key::hiddenAppsDisplay, "show");

  // Listed again: the listed window takes the carried card's place.
  SimWindow& back = mail.openWindow({.title = std::string("Inbox"), .number = inbox.number});
  pass();
  EXPECT_EQ(cardsOf(100).size(), 2u);
  EXPECT_TRUE(withState([](RegistryState& s) { return s.retainedHidden.empty(); }));

  back.close();
  pass();
  EXPECT_TRUE(card(inbox.number));
  mail.unhide();
  pass();
  EXPECT_FALSE(card(inbox.number));
  EXPECT_EQ(card(draft.number)->state, WindowState::onCurrentSpace);
}

TEST_F(RefreshPassTest, ApplicationsWithoutWindowsGetOneCardInNameOrder) {
  launch(101, "zebra");
  launch(102, "Apfel");
  launch(103, "banana");
  sim.launchApp({.pid = 104, .bundleID = std::string("com.example.helper"), .name = std::string("Helper"),
                 .policy = ActivationPolicy::accessory});
  launch(105, "Hidden", std::string("com.example.hidden"));
  set(AppSettings::Key::hiddenBundleIDs, DefaultsStore::Value::array({"com.example.hidden"}));
  SimApp& mail = launch(100, "Mail");
  open(mail, "Inbox");
  pass();
  const auto all = cards();
  ASSERT_EQ(all.size(), 4u);
  EXPECT_EQ(all[1].id, 0x80000000u | 102);
  EXPECT_EQ(all[1].title, "Apfel");
  EXPECT_EQ(all[1].frame, Rect{});
  EXPECT_EQ(all[2].appName, "banana");
  EXPECT_EQ(all[3].appName, "zebra");
  EXPECT_EQ(all[3].state, WindowState::windowlessApp);

  sim.quitApp(101);
  force();  // as the termination notification does
  pass();
  EXPECT_FALSE(card(0x80000000u | 101));
}

TEST_F(RefreshPassTest, AHiddenWindowlessApplicationKeepsExactlyItsOwnCard) {
  SimApp& calc = launch(100, "Calculator");
  SimApp& mail = launch(101, "Mail");
  open(mail, "Inbox");
  pass();
  calc.hide();
  pass();
  pass();
  force();
  pass();
  const auto mine = cardsOf(100);
  ASSERT_EQ(mine.size(), 1u);
  EXPECT_EQ(mine[0].state, WindowState::windowlessApp);
  EXPECT_TRUE(withState([](RegistryState& s) { return s.retainedHidden.empty(); }));
}

}  // namespace
}  // namespace quorvel
