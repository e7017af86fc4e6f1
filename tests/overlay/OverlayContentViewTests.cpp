#include <gtest/gtest.h>

#include "overlay/OverlayChromePainter.h"
#include "overlay/OverlayTestSupport.h"

namespace quorvel {
namespace {

using Calls = std::vector<std::string>;

class OverlayLayoutTest : public ::testing::Test {
 protected:
  ContentViewRig rig;
};

TEST_F(OverlayLayoutTest, TitleCapsuleSizesFollowTheTextAndTheScreenWidth) {
  rig.configure();
  // Ten characters of 8 points: 80 + 48 wide, 17 + 24 high, centred, its centre at 15 % of the
  // height (114.5 rounds away from zero).
  EXPECT_EQ(rig.view.capsuleFrame({"abcdefghij", rig.view.titleFont()}, false), (Rect{656, 115, 128, 41}));
  // A very long title stops at 0.4 × W.
  EXPECT_EQ(rig.view.capsuleFrame({std::string(200, 'x'), rig.view.titleFont()}, false).width, 576);
  // On a narrow screen the cap is 180 points.
  rig.view.setFrameSize({300, 600});
  EXPECT_EQ(rig.view.capsuleFrame({std::string(200, 'x'), rig.view.titleFont()}, false).width, 180);
  // The empty state stops at max(0.55 × W, 280) and sits in the middle.
  EXPECT_EQ(rig.view.capsuleFrame({std::string(200, 'x'), {14}}, true), (Rect{10, 280, 280, 41}));
  // A one-letter title is never narrower than it is high.
  rig.metrics.lineHeight = 40;
  const Rect one = rig.view.capsuleFrame({"W", rig.view.titleFont()}, false);
  EXPECT_EQ(one.width, one.height);
  EXPECT_EQ(one.height, 64);
}

TEST_F(OverlayLayoutTest, TitleAtTheTopSitsAtEightyPercent) {
  rig.store.set(AppSettings::Key::titlePlacement, "top");
  rig.store.set(AppSettings::Key::titleSize, "large");
  rig.configure();
  EXPECT_EQ(rig.view.titleFont(), (OverlayFont{18, FontWeight::semibold}));
  EXPECT_EQ(rig.view.capsuleFrame({"abcdefghij", rig.view.titleFont()}, false).y, 700);  // 720 − 20.5
}

TEST_F(OverlayLayoutTest, SearchPillAndTipOffsets) {
  rig.configure();
  auto [idle, idleScale] = rig.view.searchCapsuleFrame();
  EXPECT_EQ(idle, (Rect{685, 790, 70, 41}));  // 68 / 0.97 and 40 / 0.97 rounded, at 90 % of the height
  EXPECT_EQ(idleScale, 0.97);
  EXPECT_EQ(rig.view.searchCapsule.frame, idle);
  EXPECT_EQ(rig.view.searchCapsule.cornerRadius(), 20.5);
  EXPECT_EQ(rig.view.shownTip(), OverlayTip::search);
  // The tip sits 6 points below the pill as drawn (at 97 %): 810.5 − 19.885 − 6 − 17.
  EXPECT_EQ(rig.view.tipLabel.frame, (Rect{636, 768, 168, 17}));
  EXPECT_EQ(rig.view.tipLabel.text.text, OverlayContentView::kSearchTipText);

  rig.view.beginSearch();
  auto [active, activeScale] = rig.view.searchCapsuleFrame();
  EXPECT_EQ(active, (Rect{490, 788, 461, 44}));  // 0.32 × 1440 = 460.8
  EXPECT_EQ(activeScale, 1.0);
  EXPECT_EQ(rig.view.searchCapsule.frame, active);
  rig.view.setFrameSize({800, 600});
  EXPECT_EQ(rig.view.searchCapsule.frame.width, 320);
  rig.view.setFrameSize({3000, 1000});
  EXPECT_EQ(rig.view.searchCapsule.frame.width, 560);
}

// The texts set straight on the backdrop (tip, hint, build line) stand out from any flat colour,
// and from the desktop's still, as much as they do from the dark backdrop they were made for.
TEST_F(OverlayLayoutTest, BareTextsStayLegibleOnEveryBackdrop) {
  using P = OverlayChromePainter;
  const double tip = 0.5;  // a shown tip's opacity
  const RasterColor design = P::textColor(ChromeTextColor::tertiaryLabel, tip);
  const double wanted = P::contrast({design.alpha, design.alpha, design.alpha, 1}, P::kDesignBackdrop) - 0.02;
  struct Case {
    const char* hex;
    bool dark;  // dark ink expected
  };
  for (const Case c : {Case{"#0a0e15", false}, Case{"#000000", false}, Case{"#ffffff", true},
                       Case{"#f2f2f7", true}, Case{"#808080", true}, Case{"#ffee00", true}, Case{"#1c1c1e", false}}) {
    SCOPED_TRACE(c.hex);
    const AppSettings::Rgb rgb = *AppSettings::rgbFromHex(c.hex);
    const RasterColor under{rgb.red, rgb.green, rgb.blue, 1};
    const RasterColor ink = P::legibleTextColor(ChromeTextColor::tertiaryLabel, tip, under);
    EXPECT_EQ(ink.red < 0.5, c.dark);
    const double a = ink.alpha;
    const RasterColor seen{ink.red * a + under.red * (1 - a), ink.green * a + under.green * (1 - a),
                           ink.blue * a + under.blue * (1 - a), 1};
    EXPECT_GE(P::contrast(seen, under), wanted);
  }
  // The design's own backdrop keeps the design's colour.
  EXPECT_EQ(P::legibleTextColor(ChromeTextColor::tertiaryLabel, tip, P::kDesignBackdrop), design);

  // What lies under a text: the flat colour, or the still where it is in, darkened by the veil.
  rig.view.window = OverlayContentView::WindowFacts{7, 1.0, true, std::nullopt};
  rig.store.set(AppSettings::Key::backdropStyle, "solidColor");
  rig.store.set(AppSettings::Key::backdropColor, "#ffffff");
  rig.configure();
  EXPECT_EQ(P::backdropUnder(rig.view, {20, 20, 100, 14}, rig.now()), RasterColor::white());
  rig.store.set(AppSettings::Key::backdropStyle, "liveDesktop");
  rig.store.set(AppSettings::Key::backdropDim, 0.2);
  rig.configure();
  // The still's bottom half white, its top half black; a text at the bottom sits on white.
  DesktopStill still{4, 4, std::vector<uint32_t>(16, 0xff000000u)};
  std::fill(still.pixels.begin() + 8, still.pixels.end(), 0xffffffffu);
  rig.view.showDesktopStill(std::make_shared<const DesktopStill>(still));
  rig.loop.advance(std::chrono::seconds(1));
  const RasterColor bottom = P::backdropUnder(rig.view, {20, 20, 100, 14}, rig.now());
  EXPECT_NEAR(bottom.red, 0.8, 1e-9);
  EXPECT_NEAR(P::backdropUnder(rig.view, {20, rig.view.bounds().height - 40, 100, 14}, rig.now()).red, 0, 1e-9);
  EXPECT_LT(P::legibleTextColor(ChromeTextColor::tertiaryLabel, tip, bottom).red, 0.5);
}

TEST_F(OverlayLayoutTest, ConfigureReadsDimAndBackdrop) {
  rig.store.set(AppSettings::Key::backdropDim, 0.9);
  rig.view.window = OverlayContentView::WindowFacts{7, 2.0, true, std::nullopt};
  rig.configure();
  EXPECT_EQ(rig.view.dimView.alpha.target(), 0.6);
  EXPECT_EQ(rig.lastBlurRadius, AppSettings::blurRadius(rig.settings.doubleValue(AppSettings::Key::blurAmount)));
  EXPECT_TRUE(rig.view.backdrop.hidden);  // the window system's blur took
  // What the renderer clears to: the veil alone over the blurred desktop.
  EXPECT_EQ(OverlayChromePainter::backdropColor(rig.view, rig.now()), (RasterColor{0, 0, 0, 0.6}));

  rig.store.set(AppSettings::Key::backdropDim, -1);
  rig.reduceTransparency = true;
  rig.configure();
  EXPECT_EQ(rig.view.dimView.alpha.target(), 0);
  EXPECT_EQ(rig.lastBlurRadius, 0);
  EXPECT_FALSE(rig.view.backdrop.hidden);  // the plain fallback shows
  const RasterColor plain = OverlayChromePainter::kPlainBackdrop;
  const RasterColor shown = OverlayChromePainter::backdropColor(rig.view, rig.now());
  EXPECT_DOUBLE_EQ(shown.blue, plain.blue * plain.alpha) << "premultiplied";
  EXPECT_DOUBLE_EQ(shown.alpha, plain.alpha);

  rig.store.set(AppSettings::Key::backdropStyle, "solidColor");
  rig.store.set(AppSettings::Key::backdropColor, "zz");
  rig.store.set(AppSettings::Key::backdropDim, 0.5);
  rig.configure();
  EXPECT_EQ(rig.view.dimView.alpha.target(), 0);
  EXPECT_FALSE(rig.view.solidBackdrop.hidden);
  EXPECT_TRUE(rig.view.backdrop.hidden);
  EXPECT_EQ(rig.view.solidBackdrop.color, *AppSettings::rgbFromHex("#0a0e15"));
  const RasterColor solid = OverlayChromePainter::backdropColor(rig.view, rig.now());
  EXPECT_DOUBLE_EQ(solid.red, 0x0a / 255.0);
  EXPECT_DOUBLE_EQ(solid.blue, 0x15 / 255.0);
  EXPECT_DOUBLE_EQ(solid.alpha, 1);

  // A veil over a solid colour darkens it and stays opaque.
  rig.view.dimView.alpha.setAtOnce(0.5);
  const RasterColor veiled = OverlayChromePainter::backdropColor(rig.view, rig.now());
  EXPECT_DOUBLE_EQ(veiled.blue, 0x15 / 255.0 * 0.5);
  EXPECT_DOUBLE_EQ(veiled.alpha, 1);
}

TEST_F(OverlayLayoutTest, WithoutAWindowTheBackdropIsLeftAlone) {
  rig.configure();
  EXPECT_EQ(rig.blurCalls, 0);
  EXPECT_FALSE(rig.view.backdrop.hidden);
}

TEST_F(OverlayLayoutTest, TitleShowsCrossFadesAndHides) {
  rig.configure();
  rig.view.showTitle("   ");
  EXPECT_TRUE(rig.view.titleCapsule.hidden);

  rig.view.showTitle("  Inbox \n");
  EXPECT_FALSE(rig.view.titleCapsule.hidden);
  EXPECT_EQ(rig.view.titleCapsule.attributedText().text, "Inbox");
  EXPECT_EQ(rig.view.titleCapsule.frame, rig.view.capsuleFrame({"Inbox", rig.view.titleFont()}, false));
  rig.loop.advance(fromSeconds(0.3));
  EXPECT_EQ(rig.view.titleCapsule.alpha.valueAt(rig.now()), 1);

  // The same title again: no cross-fade.
  rig.view.showTitle("Inbox");
  EXPECT_TRUE(rig.view.titleCapsule.outgoingLabel().hidden);
  // Another title while shown: a cross-fade.
  rig.view.showTitle("Drafts");
  EXPECT_FALSE(rig.view.titleCapsule.outgoingLabel().hidden);
  EXPECT_EQ(rig.view.titleCapsule.outgoingLabel().text.text, "Inbox");

  rig.view.hideTitle();
  rig.loop.advance(fromSeconds(0.1));
  rig.view.showTitle("Sent");  // a newer show wins over the older fade-out
  rig.loop.advance(fromSeconds(0.5));
  EXPECT_FALSE(rig.view.titleCapsule.hidden);
  rig.view.hideTitle();
  rig.loop.advance(fromSeconds(0.28));
  EXPECT_TRUE(rig.view.titleCapsule.hidden);
}

TEST_F(OverlayLayoutTest, EmptyStateTextsAndHint) {
  rig.configure();
  rig.view.showEmptyState(true);
  EXPECT_EQ(rig.view.emptyCapsule.attributedText().text, "Nothing to switch to.");
  EXPECT_TRUE(rig.view.emptyHintLabel.hidden);
  rig.view.showEmptyState(false);
  EXPECT_EQ(rig.view.emptyCapsule.attributedText().text, OverlayContentView::kNeedsScreenRecording);
  EXPECT_FALSE(rig.view.emptyHintLabel.hidden);
  EXPECT_EQ(rig.view.emptyHintLabel.text.text, OverlayContentView::kGrantHint);
  EXPECT_EQ(rig.view.emptyHintLabel.frame.maxY(), rig.view.emptyCapsule.frame.minY() - 6);
  rig.loop.advance(fromSeconds(0.28));
  EXPECT_EQ(rig.view.emptyHintLabel.alpha.valueAt(rig.now()), 0.5);
  rig.view.hideEmptyState();
  rig.loop.advance(fromSeconds(0.28));
  EXPECT_TRUE(rig.view.emptyCapsule.hidden);
  EXPECT_TRUE(rig.view.emptyHintLabel.hidden);
}

TEST_F(OverlayLayoutTest, TipChoice) {
  rig.store.set(AppSettings::Key::searchEnabled, false);
  rig.configure();
  EXPECT_EQ(rig.view.shownTip(), std::nullopt);  // tips on, search off, no stack
  rig.view.setSelectionInStack(true);
  EXPECT_EQ(rig.view.shownTip(), OverlayTip::stack);
  EXPECT_EQ(rig.view.tipLabel.alpha.valueAt(rig.now()), 0.5);  // the first change of a summon: at once

  rig.store.set(AppSettings::Key::searchEnabled, true);
  rig.configure();
  EXPECT_EQ(rig.view.shownTip(), OverlayTip::search);
  rig.view.beginSearch();
  EXPECT_EQ(rig.view.shownTip(), std::nullopt);
  rig.loop.advance(fromSeconds(0.14));
  EXPECT_TRUE(rig.view.tipLabel.hidden);
}

TEST_F(OverlayLayoutTest, BuildBadgeSitsAtTheBottomLeftOrIsRemoved) {
  rig.build = "local build · 0.1 (3)";
  rig.configure();
  ASSERT_TRUE(rig.view.buildBadgeLabel.has_value());
  EXPECT_EQ(rig.view.buildBadgeLabel->frame.x, 20);
  EXPECT_EQ(rig.view.buildBadgeLabel->frame.y, 20);
  rig.build.reset();
  rig.configure();
  EXPECT_FALSE(rig.view.buildBadgeLabel.has_value());
}

TEST_F(OverlayLayoutTest, SearchTextPlacesTheCaretOnCharacterBoundaries) {
  rig.configure();
  rig.view.beginSearch();
  EXPECT_EQ(rig.delegate.calls, (Calls{"searching on"}));
  EXPECT_EQ(rig.view.searchCapsule.attributedText().text, OverlayContentView::kSearchPlaceholder);
  rig.view.setSearchText("cafe\xCC\x81s", 4);  // five characters, the fourth with a combining mark
  EXPECT_EQ(rig.view.searchMetrics().boundaries.size(), 6u);
  EXPECT_EQ(rig.view.searchCapsule.caretOffset, 32.0);
  rig.view.setSearchCaret(99);
  EXPECT_EQ(rig.view.searchCapsule.caretOffset, 40.0);
  rig.view.endSearch();
  EXPECT_EQ(rig.delegate.calls.back(), "searching off");
  EXPECT_FALSE(rig.view.searchCapsule.caretOffset.has_value());
  rig.loop.advance(fromSeconds(0.2));
  EXPECT_EQ(rig.view.searchCapsule.alpha.valueAt(rig.now()), 0.5);
}

}  // namespace
}  // namespace quorvel
