#include <gtest/gtest.h>

#include <QSlider>

#include <algorithm>

#include "scene/LayoutFactory.h"
#include "settings_ui/AppearancePane.h"
#include "settings_ui/SettingsUiFixture.h"
#include "settings_ui/StylePreview.h"

namespace quorvel {
namespace {

using Style = AppSettings::SwitcherStyle;
using Frame = StylePreviewFrame;

std::vector<Frame::Card> frameOf(Style current, std::optional<Style> outgoing, float t, int cards, double focus,
                                 const AppSettings* settings = nullptr, bool proportions = true) {
  auto layout = [&](Style s) {
    return settings ? LayoutFactory::makeLayout(s, *settings) : LayoutFactory::makeLayout(s, 1.0f);
  };
  Frame::Input in;
  in.current = layout(current);
  if (outgoing) in.outgoing = layout(*outgoing);
  in.t = t;
  in.cards = cards;
  in.focus = focus;
  in.preserveProportions = proportions;
  in.width = 360;
  in.height = 200;
  return Frame::cards(in);
}

void expectSameCards(const std::vector<Frame::Card>& a, const std::vector<Frame::Card>& b, const std::string& what) {
  ASSERT_EQ(a.size(), b.size()) << what;
  // Cards of (nearly) equal depth may be drawn in either order: compare them by index.
  auto byIndex = [](std::vector<Frame::Card> v) {
    std::sort(v.begin(), v.end(), [](const Frame::Card& x, const Frame::Card& y) { return x.index < y.index; });
    return v;
  };
  const auto sa = byIndex(a), sb = byIndex(b);
  for (size_t i = 0; i < a.size(); ++i) {
    const Frame::Card& x = sa[i];
    const Frame::Card& y = sb[i];
    ASSERT_EQ(x.index, y.index) << what;
    for (size_t c = 0; c < 4; ++c) {
      EXPECT_NEAR(x.points[c].x, y.points[c].x, 1e-2) << what << " card " << x.index;
      EXPECT_NEAR(x.points[c].y, y.points[c].y, 1e-2) << what << " card " << x.index;
    }
    EXPECT_NEAR(x.facing, y.facing, 1e-5) << what;
  }
}

// Every style's frame: the scene's own cards, drawn inside the band, farthest first, the focused card
// in front of its neighbours' shade; and each morph starts on the old arrangement and ends on the new.
TEST(StylePreviewFrameTest, EveryStyleAndEveryMorphFollowTheScene) {
  for (Style to : SettingEnums::allCases<Style>()) {
    const int n = Frame::cardCount(to);
    const auto alone = frameOf(to, std::nullopt, 1, n, 1.0);
    const std::string name(SettingEnums::rawValue(to));
    ASSERT_FALSE(alone.empty()) << name;
    EXPECT_LE(alone.size(), static_cast<size_t>(n)) << name;
    const Frame::Band band = Frame::band(360, 200);
    EXPECT_NEAR(band.width, 360.0, 1e-3);  // 1.8 × 200 fills a 360-wide canvas
    for (size_t i = 1; i < alone.size(); ++i) EXPECT_LE(alone[i - 1].depth, alone[i].depth) << name;
    // The card at the focus is drawn in full brightness of nearness.
    EXPECT_TRUE(std::any_of(alone.begin(), alone.end(), [](const Frame::Card& c) { return c.hero == 1.0; })) << name;
    for (Style from : SettingEnums::allCases<Style>()) {
      const std::string pair = std::string(SettingEnums::rawValue(from)) + "->" + name;
      expectSameCards(frameOf(to, from, 0, n, 1.0), frameOf(from, std::nullopt, 1, n, 1.0), pair + " at 0");
      expectSameCards(frameOf(to, from, 1, n, 1.0), alone, pair + " at 1");
    }
  }
}

TEST(StylePreviewFrameTest, SweepMorphEaseBandAndDegenerateCanvas) {
  EXPECT_DOUBLE_EQ(Frame::focusAt(0, 7), 1.5);
  EXPECT_NEAR(Frame::focusAt(1.5, 7), 3.0, 1e-9);
  EXPECT_NEAR(Frame::focusAt(4.5, 7), 0.0, 1e-9);
  EXPECT_DOUBLE_EQ(Frame::focusAt(1.5, 2), 1.0);  // never past the last card
  EXPECT_FLOAT_EQ(Frame::morphT(-0.1), 0.0f);
  EXPECT_FLOAT_EQ(Frame::morphT(0.2), 0.5f);
  EXPECT_FLOAT_EQ(Frame::morphT(0.4), 1.0f);
  EXPECT_FLOAT_EQ(Frame::morphT(std::nan("")), 1.0f);
  const Frame::Band wide = Frame::band(400, 100);
  EXPECT_NEAR(wide.width, 180, 1e-4);
  EXPECT_NEAR(wide.x, 110, 1e-4);
  Frame::Input in;
  in.current = LayoutFactory::makeLayout(Style::row, 1.0f);
  in.width = 300;
  in.height = 1;
  EXPECT_TRUE(Frame::cards(in).empty());
  // Equal depths: nothing is dimmed by depth.
  std::vector<Frame::Card> flat(3);
  for (auto& c : flat) c.facing = 1;
  for (const auto& ink : Frame::inks(flat)) EXPECT_DOUBLE_EQ(ink.stroke, 0.32);
}

class StylePreviewTest : public SettingsUiTest {
 protected:
  SettingsBindings binds{settings, loop.main()};
};

// The widget morphs for 0.4 s on its clock after a change of style, draws the new card count at
// once, and animates only while shown.
TEST_F(StylePreviewTest, MorphsOnItsClockAndAnimatesOnlyWhileShown) {
  double now = 100;
  StylePreview preview(settings, Style::row);
  preview.setClock([&] { return now; });
  preview.resize(360, 200);
  const auto rowFrame = preview.frame(360, 200);
  EXPECT_EQ(rowFrame.size(), 7u);
  preview.setStyle(Style::cylinder);
  EXPECT_EQ(preview.accessibleName(), "Preview of the Panorama style");
  const auto start = preview.frame(360, 200);
  expectSameCards(start, frameOf(Style::row, std::nullopt, 1, 14, Frame::focusAt(now, 14), &settings, false), "start of the morph");
  now += 0.4;
  expectSameCards(preview.frame(360, 200), frameOf(Style::cylinder, std::nullopt, 1, 14, Frame::focusAt(now, 14), &settings, false),
                  "end of the morph");
  EXPECT_FALSE(preview.animating());
  preview.show();
  EXPECT_TRUE(preview.animating());
  preview.hide();
  EXPECT_FALSE(preview.animating());
  EXPECT_EQ(StylePreview::accessibleText(Style::flip3d), "Preview of the Flip 3D style");
}

// The spacing slider: its range follows the arrangement, a move is clamped and stored under that
// arrangement's key alone, and another arrangement brings its own spacing.
TEST_F(StylePreviewTest, SpacingFollowsTheArrangementAndIsClamped) {
  store.set(AppSettings::Key::switcherStyle, "coverArc");
  store.set("cardSpacingCoverArc", 1.9);
  store.set("cardSpacingTangentRing", 1.8);
  AppearancePane pane(binds);
  EXPECT_DOUBLE_EQ(pane.spacing(), 1.9);
  store.set(AppSettings::Key::switcherStyle, "tangentRing");
  loop.runUntilIdle();
  EXPECT_DOUBLE_EQ(pane.spacing(), 1.4);  // clamped to the ring's 0.8...1.4
  EXPECT_DOUBLE_EQ(store.doubleValue("cardSpacingCoverArc"), 1.9);
  EXPECT_DOUBLE_EQ(store.doubleValue("cardSpacingTangentRing"), 1.4);
  pane.storeSpacing(0.1);
  binds.flush();
  EXPECT_DOUBLE_EQ(store.doubleValue("cardSpacingTangentRing"), 0.8);
  EXPECT_DOUBLE_EQ(store.doubleValue("cardSpacingCoverArc"), 1.9);
  // A stored name of no arrangement reads as the cover arc.
  store.set(AppSettings::Key::switcherStyle, "spiral");
  loop.runUntilIdle();
  EXPECT_EQ(pane.style(), Style::coverArc);
  EXPECT_DOUBLE_EQ(pane.spacing(), 1.9);
}

}  // namespace
}  // namespace quorvel
