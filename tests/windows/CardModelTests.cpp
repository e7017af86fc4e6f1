#include <gtest/gtest.h>

#include <atomic>
#include <unordered_set>
#include <vector>

#include "windows/CaptureGeometry.h"
#include "windows/CardStatus.h"
#include "windows/FaviconCrop.h"
#include "windows/WindowCard.h"
#include "windows/WritingDirection.h"

namespace quorvel {
namespace {

// An element that counts how often it is released.
class CountedElement final : public AXElement {
 public:
  explicit CountedElement(std::atomic<int>& releases) : releases_(releases) {}
  ~CountedElement() override { ++releases_; }
  bool isEqual(const AXElement& other) const override { return &other == this; }
  size_t hash() const override { return 7; }

 private:
  std::atomic<int>& releases_;
};

TEST(CardModel, CardIdsKeepTheirThreeRanges) {
  const WindowCard first = WindowCard::applicationCard(1, "Mail", std::string("com.apple.mail"));
  const WindowCard second = WindowCard::applicationCard(2, "Notes", std::nullopt);
  EXPECT_EQ(first.id, 0x80000001u);
  EXPECT_EQ(second.id, 0x80000002u);
  EXPECT_EQ(first.orderingID, first.id);
  EXPECT_EQ(second.orderingID, second.id);
  EXPECT_TRUE(WindowCard::isApplicationID(first.id));
  EXPECT_FALSE(WindowCard::isTabID(first.id));

  // Window numbers lie below both ranges; tab ids start at 0xC0000000.
  EXPECT_FALSE(WindowCard::isApplicationID(0x7FFFFFFFu));
  EXPECT_FALSE(WindowCard::isTabID(0x7FFFFFFFu));
  EXPECT_TRUE(WindowCard::isTabID(0xC0000000u));
  EXPECT_FALSE(WindowCard::isApplicationID(0xC0000000u));
}

TEST(CardModel, ApplicationCardStandsForTheApplicationOnly) {
  const WindowCard card = WindowCard::applicationCard(42, "Preview", std::string());
  EXPECT_EQ(card.state, WindowState::windowlessApp);
  EXPECT_EQ(card.title, "Preview");
  EXPECT_EQ(card.appName, "Preview");
  EXPECT_EQ(card.bundleID, std::nullopt) << "an empty bundle identifier is stored as none";
  EXPECT_EQ(card.pid, 42);
  EXPECT_EQ(card.frame, Rect{});
  EXPECT_EQ(card.ax, nullptr);
  EXPECT_EQ(card.spaceNumber, std::nullopt);
  EXPECT_TRUE(card.spaceIDs.empty());
  EXPECT_FALSE(card.isPrivate || card.blursPicture || card.isOnFullscreenSpace);
  EXPECT_FALSE(card.tab.has_value());
  EXPECT_EQ(card.tabsOutOfReach, 0);
}

TEST(CardModel, TabCardTakesItsHostsFactsAndIdentity) {
  std::atomic<int> releases{0};
  WindowCard host;
  host.id = 501;
  host.orderingID = 500;
  host.title = "Docs";
  host.appName = "Chrome";
  host.bundleID = "com.google.Chrome";
  host.pid = 77;
  host.frame = {10, 20, 800, 600};
  host.ax = AXHandle::make(std::make_shared<CountedElement>(releases));
  host.state = WindowState::onOtherSpace;
  host.spaceNumber = 3;
  host.spaceIDs = {9};
  host.isPrivate = true;
  host.blursPicture = true;
  host.isOnFullscreenSpace = true;
  host.tabsOutOfReach = 2;

  WindowCard::TabFacts facts;
  facts.ordinal = 2;
  facts.stripCount = 5;
  const WindowCard tab = WindowCard::tabCard(host, 0xC0000007u, "Search", facts);
  EXPECT_EQ(tab.id, 0xC0000007u);
  EXPECT_EQ(tab.orderingID, 0xC0000007u);
  EXPECT_EQ(tab.title, "Search");
  EXPECT_EQ(tab.state, WindowState::browserTab);
  EXPECT_EQ(tab.pid, 77);
  EXPECT_EQ(tab.appName, "Chrome");
  EXPECT_EQ(tab.bundleID, host.bundleID);
  EXPECT_EQ(tab.frame, host.frame);
  EXPECT_EQ(tab.ax, host.ax) << "the tab card shares the host's handle";
  EXPECT_EQ(tab.spaceNumber, 3);
  EXPECT_EQ(tab.spaceIDs, host.spaceIDs);
  EXPECT_FALSE(tab.isPrivate || tab.blursPicture || tab.isOnFullscreenSpace);
  EXPECT_EQ(tab.tabsOutOfReach, 0);
  ASSERT_TRUE(tab.tab.has_value());
  EXPECT_EQ(tab.tab->hostWindowID, 501u);
  EXPECT_EQ(tab.tab->ordinal, 2);
  EXPECT_EQ(tab.tab->stripCount, 5);
  EXPECT_TRUE(tab.status().isTab);
  EXPECT_FALSE(host.status().isTab);
}

TEST(CardModel, CopiesShareOneHandleAndReleaseTheElementOnce) {
  std::atomic<int> releases{0};
  {
    WindowCard card;
    card.id = 12;
    card.ax = AXHandle::make(std::make_shared<CountedElement>(releases));
    std::vector<WindowCard> list(3, card);
    std::vector<WindowCard> other = list;
    WindowCard copy = card;
    card = WindowCard{};
    list.clear();
    EXPECT_EQ(releases.load(), 0);
    EXPECT_EQ(copy.ax, other.front().ax);
    other.clear();
    EXPECT_EQ(releases.load(), 0);
  }
  EXPECT_EQ(releases.load(), 1);
}

TEST(CardModel, StatusEqualityAndHashTellAbsentFromPresentDesktopNumbers) {
  const CardStatus absent{WindowState::onOtherSpace, std::nullopt, false, false};
  const CardStatus absentToo{WindowState::onOtherSpace, std::nullopt, false, false};
  const CardStatus zero{WindowState::onOtherSpace, 0, false, false};
  const CardStatus one{WindowState::onOtherSpace, 1, false, false};

  EXPECT_EQ(absent, absentToo);
  EXPECT_EQ(std::hash<CardStatus>{}(absent), std::hash<CardStatus>{}(absentToo));
  EXPECT_NE(absent, zero);
  EXPECT_NE(std::hash<CardStatus>{}(absent), std::hash<CardStatus>{}(zero));
  EXPECT_NE(absent, one);
  EXPECT_NE(std::hash<CardStatus>{}(absent), std::hash<CardStatus>{}(one));

  // Each field counts.
  std::unordered_set<CardStatus> badges = {
      absent, zero, one,
      CardStatus{WindowState::onCurrentSpace, std::nullopt, false, false},
      CardStatus{WindowState::onOtherSpace, std::nullopt, true, false},
      CardStatus{WindowState::onOtherSpace, std::nullopt, false, true},
      absentToo,
  };
  EXPECT_EQ(badges.size(), 6u);

  WindowCard card;
  card.state = WindowState::onOtherSpace;
  card.spaceNumber = 4;
  card.isOnFullscreenSpace = true;
  EXPECT_EQ(card.status(), (CardStatus{WindowState::onOtherSpace, 4, true, false}));
}

TEST(FaviconCrop, SquareSideIsHeldBetweenTwelveAndTwentyPoints) {
  const Rect host{100, 50, 1000, 800};
  // 30 × 16 icon: 16-point square centred on the icon.
  auto crop = faviconCropRect(host, {200, 60, 30, 16});
  ASSERT_TRUE(crop);
  EXPECT_DOUBLE_EQ(crop->width, 16.0 / 1000);
  EXPECT_DOUBLE_EQ(crop->height, 16.0 / 800);
  EXPECT_DOUBLE_EQ(crop->x, (215.0 - 8 - 100) / 1000);
  EXPECT_DOUBLE_EQ(crop->y, (68.0 - 8 - 50) / 800);

  crop = faviconCropRect(host, {200, 60, 8, 8});
  ASSERT_TRUE(crop);
  EXPECT_DOUBLE_EQ(crop->width * 1000, 12);

  crop = faviconCropRect(host, {200, 60, 40, 40});
  ASSERT_TRUE(crop);
  EXPECT_DOUBLE_EQ(crop->width * 1000, 20);
  EXPECT_DOUBLE_EQ(crop->height * 800, 20);
}

TEST(FaviconCrop, NoCropOutsideTheHostOrBelowItsTopBand) {
  const Rect host{0, 0, 1000, 800};
  // Reaches past the left edge: a 16-point square centred at x = 6.
  EXPECT_FALSE(faviconCropRect(host, {-2, 20, 16, 16}));
  // Centre exactly on the 15 % line is still allowed; just below it is not.
  EXPECT_TRUE(faviconCropRect(host, {100, 120 - 8, 16, 16}));
  EXPECT_FALSE(faviconCropRect(host, {100, 120 - 7.5, 16, 16}));
  // Empty frames give nothing.
  EXPECT_FALSE(faviconCropRect({0, 0, 0, 800}, {10, 10, 16, 16}));
  EXPECT_FALSE(faviconCropRect(host, {10, 10, 16, -1}));
}

TEST(CaptureGeometry, PixelExtentNeedsEightPixelsInsideThePicture) {
  auto region = CaptureGeometry::pixelExtent(1000, 500, {0.1, 0.2, 0.5, 0.5});
  ASSERT_TRUE(region);
  EXPECT_EQ(*region, (CaptureGeometry::Region{100, 100, 0, 500, 250, 1}));

  // 7 pixels wide: too small.
  EXPECT_FALSE(CaptureGeometry::pixelExtent(100, 100, {0.1, 0.1, 0.07, 0.5}));
  EXPECT_TRUE(CaptureGeometry::pixelExtent(100, 100, {0.1, 0.1, 0.08, 0.5}));
  // Halves round away from zero: 7.5 pixels become 8.
  EXPECT_TRUE(CaptureGeometry::pixelExtent(64, 64, {0, 0, 7.5 / 64, 0.5}));
  EXPECT_FALSE(CaptureGeometry::pixelExtent(64, 64, {0, 0, 7.4 / 64, 0.5}));
  // Reaching one pixel past the right edge.
  EXPECT_FALSE(CaptureGeometry::pixelExtent(100, 100, {0.5, 0, 0.51, 0.5}));
  EXPECT_TRUE(CaptureGeometry::pixelExtent(100, 100, {0.5, 0, 0.5, 0.5}));
  // A negative origin.
  EXPECT_FALSE(CaptureGeometry::pixelExtent(100, 100, {-0.01, 0, 0.5, 0.5}));
  // Degenerate pictures and rectangles.
  EXPECT_FALSE(CaptureGeometry::pixelExtent(0, 100, {0, 0, 0.5, 0.5}));
  EXPECT_FALSE(CaptureGeometry::pixelExtent(100, 100, {0, 0, 0, 0.5}));
}

TEST(CaptureGeometry, NonFiniteUnitRectanglesGiveNoRegion) {
  EXPECT_FALSE(CaptureGeometry::pixelExtent(100, 100, {NAN, 0, 0.5, 0.5}));
  EXPECT_FALSE(CaptureGeometry::pixelExtent(100, 100, {0, 0, INFINITY, 0.5}));
  EXPECT_FALSE(CaptureGeometry::pixelExtent(100, 100, {-1e300, 0, 1e300, 0.5}));
}

TEST(CaptureGeometry, AspectMatchesWithinTwoPercent) {
  EXPECT_TRUE(CaptureGeometry::aspectMatches(1600, 1000, {0, 0, 800, 500}));
  EXPECT_TRUE(CaptureGeometry::aspectMatches(1630, 1000, {0, 0, 800, 500}));   // +1.9 %
  EXPECT_FALSE(CaptureGeometry::aspectMatches(1640, 1000, {0, 0, 800, 500}));  // +2.5 %
  EXPECT_FALSE(CaptureGeometry::aspectMatches(0, 1000, {0, 0, 800, 500}));
  EXPECT_FALSE(CaptureGeometry::aspectMatches(1600, 1000, {0, 0, 800, 0}));
}

TEST(WritingDirection, FollowsTheFirstPreferredLanguage) {
  EXPECT_TRUE(WritingDirection::isRightToLeft({"ar"}));
  EXPECT_TRUE(WritingDirection::isRightToLeft({"he-IL", "en"}));
  EXPECT_TRUE(WritingDirection::isRightToLeft({"fa_IR"}));
  EXPECT_FALSE(WritingDirection::isRightToLeft({"en-US", "ar"}));
  EXPECT_FALSE(WritingDirection::isRightToLeft({}));
  EXPECT_FALSE(WritingDirection::isRightToLeft({"ja"}));
}

}  // namespace
}  // namespace quorvel
