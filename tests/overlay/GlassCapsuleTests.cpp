#include <gtest/gtest.h>

#include "base/ManualLoop.h"
#include "overlay/FixedTextMetrics.h"
#include "overlay/GlassCapsule.h"
#include "overlay/SearchTextMetrics.h"
#include "overlay/SurfaceHostView.h"

namespace quorvel {
namespace {

class GlassCapsuleTest : public ::testing::Test {
 protected:
  CapsuleText text(std::string s) { return {std::move(s), OverlayFont{14, FontWeight::semibold}}; }
  Instant now() { return loop.clock().now(); }

  ManualLoop loop;
  FixedTextMetrics metrics;
  GlassCapsule capsule{metrics, loop.main()};
};

TEST_F(GlassCapsuleTest, FadesTextInFromNothingWithoutAnOutgoingLabel) {
  capsule.setText(text("Mail"), 0.14, {200, 40});
  EXPECT_DOUBLE_EQ(capsule.currentLabel().alpha.valueAt(now()), 0);
  EXPECT_TRUE(capsule.outgoingLabel().hidden);
  loop.advance(fromSeconds(0.14));
  EXPECT_DOUBLE_EQ(capsule.currentLabel().alpha.valueAt(now()), 1);
  EXPECT_EQ(capsule.currentLabel().text.text, "Mail");
}

TEST_F(GlassCapsuleTest, ASecondTextDuringAFadeCarriesOnFromTheShownOpacities) {
  capsule.setText(text("One"), std::nullopt, {200, 40});
  capsule.setText(text("Two"), 0.14, {200, 40});
  loop.advance(fromSeconds(0.07));
  const double twoShown = capsule.currentLabel().alpha.valueAt(now());
  EXPECT_GT(twoShown, 0.0);
  EXPECT_LT(twoShown, 1.0);
  capsule.setText(text("Three"), 0.14, {200, 40});
  // "Two" is now outgoing, frozen where it stood, and fades from there.
  EXPECT_EQ(capsule.outgoingLabel().text.text, "Two");
  EXPECT_NEAR(capsule.outgoingLabel().alpha.valueAt(now()), twoShown, 1e-9);
  // The first fade's completion comes due and must leave the newer outgoing label alone.
  loop.advance(fromSeconds(0.08));
  EXPECT_FALSE(capsule.outgoingLabel().hidden);
  EXPECT_EQ(capsule.outgoingLabel().text.text, "Two");
  loop.advance(fromSeconds(0.07));
  EXPECT_TRUE(capsule.outgoingLabel().hidden);
  EXPECT_TRUE(capsule.outgoingLabel().text.empty());
  EXPECT_DOUBLE_EQ(capsule.currentLabel().alpha.valueAt(now()), 1);
}

TEST_F(GlassCapsuleTest, TextWithoutDurationShowsAtOnceAndEndsARunningFade) {
  capsule.setText(text("One"), std::nullopt, {200, 40});
  capsule.setText(text("Two"), 0.14, {200, 40});
  capsule.setText(text("Now"), std::nullopt, {200, 40});
  EXPECT_DOUBLE_EQ(capsule.currentLabel().alpha.valueAt(now()), 1);
  EXPECT_TRUE(capsule.outgoingLabel().hidden);
  loop.advance(fromSeconds(1));
  EXPECT_EQ(capsule.currentLabel().text.text, "Now");
}

TEST_F(GlassCapsuleTest, CentredTextWiderThanItsAreaIsCutToTheAreaAndCaretTextIsNot) {
  capsule.contentInsets = {24, 24};
  capsule.setFrame({0, 0, 100, 40});
  capsule.setText(text(std::string(30, 'x')), std::nullopt, {100, 40});
  EXPECT_DOUBLE_EQ(capsule.currentLabel().frame.width, 52);  // 100 − 24 − 24
  EXPECT_DOUBLE_EQ(capsule.currentLabel().frame.x, 24);

  capsule.contentAlignment = GlassCapsule::ContentAlignment::leading;
  capsule.caretOffset = 0.0;
  capsule.layout();
  EXPECT_DOUBLE_EQ(capsule.currentLabel().frame.width, 240);
}

TEST_F(GlassCapsuleTest, CaretAtTheEndScrollsTheTextSoTheCaretSitsOnePointInside) {
  capsule.contentAlignment = GlassCapsule::ContentAlignment::leading;
  capsule.contentInsets = {16, 16};
  capsule.setFrame({0, 0, 132, 44});  // clip 100 wide
  capsule.caretOffset = 240.0;
  capsule.setText(text(std::string(30, 'x')), std::nullopt, {132, 44});
  EXPECT_EQ(capsule.textClipFrame(), (Rect{16, 0, 100, 44}));
  EXPECT_DOUBLE_EQ(capsule.textScroll, 141);  // 240 − 100 + 1
  EXPECT_DOUBLE_EQ(capsule.caretFrame().x, 99);
  EXPECT_DOUBLE_EQ(capsule.currentLabel().frame.x, -141);
  EXPECT_FALSE(capsule.caretHidden());

  capsule.caretOffset = 0.0;
  capsule.layout();
  EXPECT_DOUBLE_EQ(capsule.textScroll, 0);
  EXPECT_DOUBLE_EQ(capsule.caretFrame().x, 0);

  // Leaving caret mode hides the caret and drops the scroll.
  capsule.caretOffset.reset();
  capsule.layout();
  EXPECT_TRUE(capsule.caretHidden());
}

TEST_F(GlassCapsuleTest, GlyphAndTextAreCentredAsOneGroupAndAnEmptyTextTakesNoSpacing) {
  capsule.glyphImage = Size{13, 13};
  capsule.glyphVisible = true;
  capsule.glyphSpacing = 10;
  capsule.setFrame({0, 0, 70, 41});
  EXPECT_DOUBLE_EQ(capsule.glyphFrame().x, 28.5);  // (70 − 13) / 2, on the 2x pixel grid
  EXPECT_DOUBLE_EQ(capsule.glyphFrame().y, 14);    // 20.5 − 6.5

  capsule.setFrame({0, 0, 200, 41});
  capsule.setText(text("abcd"), std::nullopt, {200, 41});  // 32 wide
  // Group: 13 + 10 + 32 = 55, starting at (200 − 55) / 2 = 72.5.
  EXPECT_DOUBLE_EQ(capsule.glyphFrame().x, 72.5);
  EXPECT_DOUBLE_EQ(capsule.currentLabel().frame.x, 72.5 + 23);
}

TEST_F(GlassCapsuleTest, CornerRadiusAndScaleShapeTheShadowPath) {
  capsule.setFrame({0, 0, 100, 40});
  capsule.setCornerRadius(20);
  const auto before = capsule.shadowPath();
  capsule.setCornerRadius(20);
  EXPECT_EQ(capsule.shadowPath(), before);
  EXPECT_EQ(before, (GlassCapsule::ShadowPath{{0, 0, 100, 40}, 20}));

  capsule.setScale(0.5);
  EXPECT_EQ(capsule.shadowPath(), (GlassCapsule::ShadowPath{{25, 10, 50, 20}, 10}));
  EXPECT_EQ(capsule.sublayerTransform(), (GlassCapsule::SublayerTransform{50, 20, 0.5}));
}

TEST(SearchTextMetricsTest, BoundariesFollowUserPerceivedCharacters) {
  FixedTextMetrics metrics;
  // "e" + combining acute, then "a": two characters, three boundaries.
  const SearchTextMetrics m("e\xCC\x81" "a", OverlayFont{16}, metrics);
  EXPECT_EQ(m.boundaries, (std::vector<double>{0, 8, 16}));
  EXPECT_EQ(m.caretIndex(-3), 0);
  EXPECT_EQ(m.caretIndex(4), 0);  // halfway: the lower index
  EXPECT_EQ(m.caretIndex(4.1), 1);
  EXPECT_EQ(m.caretIndex(12), 1);
  EXPECT_EQ(m.caretIndex(99), 2);
  EXPECT_EQ(SearchTextMetrics{}.boundaries, (std::vector<double>{0}));
  EXPECT_EQ(SearchTextMetrics{}.caretIndex(10), 0);
}

TEST(SurfaceHostViewTest, ReportsExactlyTheChangesOfLayerFrameOrScale) {
  SurfaceHostView host;
  int calls = 0;
  host.onGeometryChange = [&] { ++calls; };
  host.bounds = {800, 600};
  host.syncLayer(std::nullopt);
  EXPECT_EQ(calls, 1);
  EXPECT_DOUBLE_EQ(host.contentsScale(), 2.0);  // the fallback before a window

  host.syncLayer(2.0);  // same frame, same scale
  EXPECT_EQ(calls, 1);
  host.syncLayer(1.0);  // another screen's scale, same size
  EXPECT_EQ(calls, 2);
  host.syncLayer(0.0);  // a scale that is not positive changes nothing
  EXPECT_EQ(calls, 2);
  host.bounds = {1024, 768};
  host.syncLayer(1.0);
  EXPECT_EQ(calls, 3);
  EXPECT_EQ(host.layerFrame(), (Size{1024, 768}));
}

}  // namespace
}  // namespace quorvel
