#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "windows/CardAssembly.h"
#include "windows/PrivateWindowRule.h"
#include "windows/RegistryFixture.h"

namespace quorvel {
namespace {

using RegularApp = RegistryState::RegularApp;
using PrivateDisplay = AppSettings::PrivateWindowsDisplay;

WindowCard windowCard(uint32_t id, int32_t pid, std::string title, std::string bundleID = "com.example.mail") {
  WindowCard card;
  card.id = id;
  card.orderingID = id;
  card.pid = pid;
  card.title = std::move(title);
  card.appName = "Mail";
  card.bundleID = std::move(bundleID);
  card.state = WindowState::onCurrentSpace;
  return card;
}

class CardAssemblyTest : public RegistryFixture {
 protected:
  CardAssembly assembly() { return CardAssembly(registry->state(), services_, nullptr); }
  void commitPrevious(std::vector<WindowCard> cards) {
    withState([&](RegistryState& s) {
      s.cards = std::make_shared<const std::vector<WindowCard>>(std::move(cards));
      return 0;
    });
  }
  // The pass results of a pass that listed no window, with process 100 running and hidden.
  SnapshotFilter::Result emptyPass() {
    SnapshotFilter::Result filter;
    filter.settings = PassSettings::read(settings);
    filter.apps.runningPids = {100};
    filter.apps.hiddenPids = {100};
    return filter;
  }
  std::vector<WindowCard> assemble(const SnapshotFilter::Result& filter) {
    assembly().buildCards({}, {}, filter, {}, 1);
    return cards();
  }

  RegistryServices services_ = services();
};

TEST_F(CardAssemblyTest, WindowlessApplicationsGetOneCardEachInNameOrder) {
  const std::vector<RegularApp> apps = {
      {kOwnPid, std::string("net.example.self"), "Self"}, {100, std::nullopt, "zebra"},
      {101, std::string("com.example.apfel"), "Apfel"},   {102, std::nullopt, ""},
      {103, std::string("com.example.hidden"), "banana"}, {104, std::nullopt, "apfel"},
      {105, std::string("com.example.mail"), "Mail"},
  };
  const auto cards = CardAssembly::windowlessAppCards(apps, {105}, {"com.example.hidden"}, kOwnPid);
  ASSERT_EQ(idsOf(cards), (std::vector<uint32_t>{WindowCard::applicationCardID(101), WindowCard::applicationCardID(104),
                                                 WindowCard::applicationCardID(100)}))
      << "own, windowed, nameless and fully hidden applications make no card; case-only twins keep their order";
  EXPECT_EQ(cards[0].state, WindowState::windowlessApp);
  EXPECT_EQ(cards[0].bundleID, "com.example.apfel");
  EXPECT_EQ(cards[1].bundleID, std::nullopt);
}

TEST_F(CardAssemblyTest, HiddenApplicationsWindowsAreCarriedUntilListedQuitOrShown) {
  WindowCard window = windowCard(7, 100, "Inbox");
  window.spaceIDs = {3};
  window.spaceNumber = 2;
  window.isPrivate = true;
  window.blursPicture = true;
  WindowCard app = WindowCard::applicationCard(100, "Mail", std::string("com.example.mail"));
  WindowCard tab = WindowCard::tabCard(window, 0xC0000001u, "Tab", {});
  commitPrevious({window, app, tab, windowCard(8, 200, "Visible")});

  auto carried = assembly().releaseRetainedHidden({}, {100, 200}, {100});
  ASSERT_EQ(idsOf(carried), (std::vector<uint32_t>{7}))
      << "only windows of hidden applications; application and tab cards are made afresh";
  EXPECT_EQ(carried[0].state, WindowState::hiddenApp);
  EXPECT_TRUE(carried[0].spaceIDs.empty());
  EXPECT_EQ(carried[0].spaceNumber, std::nullopt);
  EXPECT_FALSE(carried[0].isPrivate) << "the private treatment is decided again each pass";
  EXPECT_FALSE(carried[0].blursPicture);

  EXPECT_EQ(assembly().releaseRetainedHidden({}, {100, 200}, {100}).size(), 1u) << "still carried";
  EXPECT_EQ(idsOf(assembly().releaseRetainedHidden({7}, {100, 200}, {100})), std::vector<uint32_t>{}) << "listed again";
  commitPrevious({window});
  EXPECT_EQ(assembly().releaseRetainedHidden({}, {100}, {100}).size(), 1u);
  EXPECT_TRUE(assembly().releaseRetainedHidden({}, {100}, {}).empty()) << "shown again";
  EXPECT_EQ(assembly().releaseRetainedHidden({}, {100}, {100}).size(), 1u);
  commitPrevious({});
  EXPECT_TRUE(assembly().releaseRetainedHidden({}, {}, {}).empty()) << "quit";
}

TEST_F(CardAssemblyTest, CarriedCardsGetTheSamePrivateTreatmentAsListedWindows) {
  const std::string chrome = "com.google.Chrome";
  commitPrevious({windowCard(7, 100, "New Tab - Incognito", chrome), windowCard(8, 100, "Inbox", chrome)});
  SnapshotFilter::Result filter = emptyPass();

  auto shown = assemble(filter);
  ASSERT_EQ(idsOf(shown), (std::vector<uint32_t>{7, 8}));
  EXPECT_EQ(shown[0].title, "New Tab - Incognito") << "private windows shown like any other";
  EXPECT_FALSE(shown[0].isPrivate);

  filter.settings.privateWindowsDisplay = PrivateDisplay::blur;
  withState([](RegistryState& s) { return s.axPrivateWindows.insert(8u).second; });
  const auto blurred = assemble(filter);
  ASSERT_EQ(blurred.size(), 2u);
  for (const WindowCard& card : blurred) {
    EXPECT_EQ(card.title, PrivateWindowRule::kTitle) << card.id;
    EXPECT_TRUE(card.isPrivate) << card.id;
    EXPECT_TRUE(card.blursPicture) << card.id;
    EXPECT_EQ(card.state, WindowState::hiddenApp) << card.id;
  }

  filter.settings.privateWindowNames = true;
  filter.settings.privateWindowsDisplay = PrivateDisplay::hidePicture;
  const auto named = assemble(filter);
  ASSERT_EQ(named.size(), 2u);
  EXPECT_EQ(named[0].title, "New Tab - Incognito");
  EXPECT_TRUE(named[0].isPrivate);
  EXPECT_FALSE(named[0].blursPicture);

  filter.settings.privateWindowsDisplay = PrivateDisplay::hide;
  EXPECT_TRUE(assemble(filter).empty());
}

TEST_F(CardAssemblyTest, CarriedCardsFollowTheHideRulesAndTheirCategory) {
  commitPrevious({windowCard(7, 100, "Quarterly report"), windowCard(8, 100, "Inbox")});
  SnapshotFilter::Result filter = emptyPass();
  filter.settings.hiddenBundleIDs = {"com.example.mail"};
  filter.settings.hiddenTitlePatterns = {{"com.example.mail", {"report"}}};
  EXPECT_EQ(idsOf(assemble(filter)), (std::vector<uint32_t>{8}));

  filter.settings.hiddenAppsDisplay = AppSettings::CategoryDisplay::hide;
  EXPECT_TRUE(assemble(filter).empty()) << "the category is hidden, the cards stay carried";
  EXPECT_TRUE(withState([](RegistryState& s) { return s.retainedHidden.size() == 2; }));
}

}  // namespace
}  // namespace quorvel
