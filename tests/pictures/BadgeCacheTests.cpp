#include <gtest/gtest.h>

#include "base/ManualLoop.h"
#include "pictures/ActionBadgeCache.h"
#include "pictures/ChromeFakes.h"
#include "pictures/StatusBadgeCache.h"
#include "pictures/SymbolGlyphs.h"

namespace quorvel {
namespace {

using testing::DrawOp;
using testing::FakeRaster;
using testing::FakeUploader;
using State = StatusBadgeCache::State;
using Inside = StatusBadgeCache::Inside;
using Choice = StatusBadgeCache::Choice;

CardStatus status(WindowState state, std::optional<int> space = std::nullopt, bool fullscreen = false,
                  bool tab = false) {
  return CardStatus{state, space, fullscreen, tab};
}

TEST(StatusBadgeChoice, MapsEveryCardStatus) {
  EXPECT_EQ(StatusBadgeCache::choose(status(WindowState::minimized, {}, false, true)), (Choice{State::browserTab, {}}));
  EXPECT_EQ(StatusBadgeCache::choose(status(WindowState::onCurrentSpace)), Choice{});
  EXPECT_EQ(StatusBadgeCache::choose(status(WindowState::minimized)), (Choice{State::minimized, {}}));
  EXPECT_EQ(StatusBadgeCache::choose(status(WindowState::hiddenApp)), (Choice{State::hiddenApp, {}}));
  EXPECT_EQ(StatusBadgeCache::choose(status(WindowState::windowlessApp)), (Choice{State::windowlessApp, {}}));
  EXPECT_EQ(StatusBadgeCache::choose(status(WindowState::browserTab)), (Choice{State::browserTab, {}}));
  EXPECT_EQ(StatusBadgeCache::choose(status(WindowState::onOtherSpace, 7)), (Choice{{}, Inside::desktopNumber(7)}));
  EXPECT_EQ(StatusBadgeCache::choose(status(WindowState::onOtherSpace, 1)), (Choice{{}, Inside::desktopNumber(1)}));
  EXPECT_EQ(StatusBadgeCache::choose(status(WindowState::onOtherSpace, 20)), (Choice{{}, Inside::desktopNumber(20)}));
  for (std::optional<int> space : {std::optional<int>(0), std::optional<int>(21), std::optional<int>()}) {
    EXPECT_EQ(StatusBadgeCache::choose(status(WindowState::onOtherSpace, space, true)), (Choice{{}, Inside::fullScreen()}));
    EXPECT_EQ(StatusBadgeCache::choose(status(WindowState::onOtherSpace, space, false)), (Choice{State::onOtherSpace, {}}));
  }
}

TEST(SymbolGlyphs, EveryBadgeSymbolIsOurs) {
  for (State state : StatusBadgeCache::kAllStates) {
    const SymbolGlyph* glyph = SymbolGlyphs::named(StatusBadgeCache::symbolName(state));
    ASSERT_NE(glyph, nullptr) << StatusBadgeCache::symbolName(state);
    EXPECT_FALSE(glyph->elements.empty());
    EXPECT_GT(glyph->width, 0);
  }
  EXPECT_NE(SymbolGlyphs::named("arrow.up.left.and.arrow.down.right"), nullptr);
  EXPECT_EQ(SymbolGlyphs::named("no.such.symbol"), nullptr);
}

class StatusBadgeCacheTest : public ::testing::Test {
 protected:
  ManualLoop loop;
  FakeRaster raster;
  FakeUploader uploader;
  int wakes = 0;
  std::shared_ptr<StatusBadgeCache> cache = StatusBadgeCache::make({loop.main(), raster, uploader, [this] { ++wakes; }});
};

TEST_F(StatusBadgeCacheTest, PrewarmDrawsTheFivePlainBadgesOnce) {
  EXPECT_EQ(cache->texture(status(WindowState::minimized)), nullptr);
  cache->prewarm();
  ASSERT_EQ(uploader.uploads.size(), 5u);
  EXPECT_EQ(wakes, 5);
  for (const auto& upload : uploader.uploads) {
    EXPECT_EQ(upload->width(), 192);
    EXPECT_EQ(upload->height(), 192);
    EXPECT_EQ(upload->label, StatusBadgeCache::kMipLabel);
  }
  const auto symbols = raster.opsOf(DrawOp::Kind::symbol);
  ASSERT_EQ(symbols.size(), 5u);
  EXPECT_EQ(symbols[0].symbol, "display");
  EXPECT_EQ(symbols[1].symbol, "minus.circle.fill");
  EXPECT_DOUBLE_EQ(symbols[0].value, 96);
  EXPECT_EQ(symbols[0].center, (Point{96, 96}));
  EXPECT_EQ(symbols[0].color, RasterColor::white());
  // The plate: inset 0.06 × 192, corner radius 0.28 × its side.
  const DrawOp plate = raster.opsOf(DrawOp::Kind::roundedRect).front();
  EXPECT_DOUBLE_EQ(plate.rect.x, 11.52);
  EXPECT_DOUBLE_EQ(plate.rect.width, 168.96);
  EXPECT_DOUBLE_EQ(plate.value, 0.28 * 168.96);
  EXPECT_EQ(plate.color, RasterColor::black(StatusBadgeCache::kDefaultPlateOpacity));

  cache->prewarm();
  EXPECT_EQ(uploader.uploads.size(), 5u);
  EXPECT_EQ(cache->texture(status(WindowState::minimized)).get(), uploader.uploads[1].get());
  EXPECT_EQ(cache->texture(status(WindowState::onCurrentSpace)), nullptr);
}

TEST_F(StatusBadgeCacheTest, ANumberedBadgeIsQueuedOnceAndTheDisplayBadgeStandsIn) {
  cache->prewarm();
  const ChromeTextureRef display = cache->texture(status(WindowState::onOtherSpace));
  ASSERT_NE(display, nullptr);
  EXPECT_EQ(cache->texture(status(WindowState::onOtherSpace, 7)), display);
  EXPECT_EQ(cache->texture(status(WindowState::onOtherSpace, 7)), display);
  loop.runUntilIdle();
  EXPECT_EQ(uploader.uploads.size(), 6u);
  const ChromeTextureRef numbered = cache->texture(status(WindowState::onOtherSpace, 7));
  ASSERT_NE(numbered, nullptr);
  EXPECT_NE(numbered, display);
  const auto texts = raster.opsOf(DrawOp::Kind::text);
  ASSERT_EQ(texts.size(), 1u);
  EXPECT_EQ(texts[0].text.lines[0].text, "7");
  EXPECT_DOUBLE_EQ(texts[0].text.lines[0].fontSize, 0.3 * 192);
  EXPECT_EQ(texts[0].text.lines[0].weight, FontWeight::bold);
  // Centred on (S/2, 0.6 × S) by its measured size.
  EXPECT_DOUBLE_EQ(texts[0].rect.midX(), 96);
  EXPECT_DOUBLE_EQ(texts[0].rect.midY(), 0.6 * 192);

  // Full screen: the display symbol, the white screen, the arrows in black.
  cache->texture(status(WindowState::onOtherSpace, {}, true));
  loop.runUntilIdle();
  const auto symbols = raster.opsOf(DrawOp::Kind::symbol);
  EXPECT_EQ(symbols.back().symbol, "arrow.up.left.and.arrow.down.right");
  EXPECT_EQ(symbols.back().color, RasterColor::black());
  EXPECT_DOUBLE_EQ(symbols.back().value, 0.2 * 192);
  EXPECT_EQ(cache->insideCount(), 2u);
}

TEST_F(StatusBadgeCacheTest, NumberSizesAndALookupBeforePrewarm) {
  EXPECT_DOUBLE_EQ(StatusBadgeCache::numberFontSize(9), 0.3 * 192);
  EXPECT_DOUBLE_EQ(StatusBadgeCache::numberFontSize(10), 0.26 * 192);
  // Before the plain badges exist, a numbered lookup gives nothing yet still queues the badge.
  EXPECT_EQ(cache->texture(status(WindowState::onOtherSpace, 3)), nullptr);
  loop.runUntilIdle();
  EXPECT_NE(cache->texture(status(WindowState::onOtherSpace, 3)), nullptr);
}

TEST_F(StatusBadgeCacheTest, TheSamePlateOpacityRedrawsNothingAndANewOneDropsEverything) {
  cache->prewarm();
  cache->texture(status(WindowState::onOtherSpace, 2));
  loop.runUntilIdle();
  EXPECT_FALSE(cache->setPlateOpacity(StatusBadgeCache::kDefaultPlateOpacity));
  EXPECT_EQ(cache->plainCount(), 5u);
  EXPECT_EQ(cache->insideCount(), 1u);
  EXPECT_TRUE(cache->setPlateOpacity(0.4));
  EXPECT_EQ(cache->plainCount(), 0u);
  EXPECT_EQ(cache->insideCount(), 0u);
  cache->prewarm();
  EXPECT_EQ(raster.opsOf(DrawOp::Kind::roundedRect).back().color, RasterColor::black(0.4));
  // The inside badge is queued anew.
  cache->texture(status(WindowState::onOtherSpace, 2));
  loop.runUntilIdle();
  EXPECT_EQ(cache->insideCount(), 1u);
}

TEST_F(StatusBadgeCacheTest, AFailedInsideBadgeIsNotRetriedBeforeTheOpacityChanges) {
  uploader.refuse = true;
  cache->texture(status(WindowState::onOtherSpace, 4));
  loop.runUntilIdle();
  uploader.refuse = false;
  cache->texture(status(WindowState::onOtherSpace, 4));
  loop.runUntilIdle();
  EXPECT_EQ(cache->insideCount(), 0u);
  EXPECT_EQ(uploader.refused, 1);
}

class ActionBadgeCacheTest : public ::testing::Test {
 protected:
  ManualLoop loop;
  FakeRaster raster;
  FakeUploader uploader;
  int wakes = 0;
  ActionBadgeCache cache{{loop.main(), raster, uploader, [this] { ++wakes; }}};
};

TEST_F(ActionBadgeCacheTest, PrewarmDrawsFourButtonsOnce) {
  EXPECT_EQ(cache.texture(CardAction::close, false), nullptr);
  cache.prewarm();
  ASSERT_EQ(uploader.uploads.size(), 4u);
  EXPECT_EQ(wakes, 4);
  for (CardAction action : kAllCardActions) {
    for (bool hovered : {false, true}) EXPECT_NE(cache.texture(action, hovered), nullptr);
  }
  EXPECT_EQ(cache.texture(CardAction::close, true).get(), uploader.uploads[1].get());
  EXPECT_EQ(cache.texture(CardAction::minimize, false).get(), uploader.uploads[2].get());
  EXPECT_EQ(uploader.uploads[0]->width(), 128);
  EXPECT_EQ(uploader.uploads[0]->label, ActionBadgeCache::kMipLabel);
  cache.prewarm();
  EXPECT_EQ(uploader.uploads.size(), 4u);
}

TEST_F(ActionBadgeCacheTest, HoveredButtonsAreLighterAndGlyphsFollowTheAction) {
  const RasterColor hovered = ActionBadgeCache::hoveredColor(ActionBadgeCache::closeDisc());
  EXPECT_DOUBLE_EQ(hovered.red, 1.0);
  EXPECT_NEAR(hovered.green, 0.4645, 1e-12);
  EXPECT_NEAR(hovered.blue, 0.439, 1e-12);
  EXPECT_DOUBLE_EQ(hovered.alpha, 0.95);

  cache.prewarm();
  const auto discs = raster.opsOf(DrawOp::Kind::ellipse);
  ASSERT_EQ(discs.size(), 4u);
  EXPECT_EQ(discs[0].color, ActionBadgeCache::closeDisc());
  EXPECT_EQ(discs[1].color, hovered);
  EXPECT_EQ(discs[2].color, ActionBadgeCache::minimizeDisc());
  EXPECT_DOUBLE_EQ(discs[0].rect.x, 0.06 * 128);
  EXPECT_DOUBLE_EQ(discs[0].rect.width, 128 - 2 * 0.06 * 128);
  const auto outlines = raster.opsOf(DrawOp::Kind::ellipseStroke);
  EXPECT_DOUBLE_EQ(outlines[0].value, 0.05 * 128);
  EXPECT_EQ(outlines[0].color, RasterColor::black(0.35));
  const auto glyphs = raster.opsOf(DrawOp::Kind::path);
  ASSERT_EQ(glyphs.size(), 4u);
  EXPECT_DOUBLE_EQ(glyphs[0].value, 0.085 * 128);
  EXPECT_EQ(glyphs[0].color, RasterColor::grey(0.12, 0.85));
  EXPECT_EQ(glyphs[0].text.lines.size(), 4u);  // an X: two segments
  EXPECT_EQ(glyphs[2].text.lines.size(), 2u);  // a bar: one segment
}

TEST_F(ActionBadgeCacheTest, AButtonThatFailedStaysMissing) {
  uploader.refuse = true;
  cache.prewarm();
  EXPECT_EQ(cache.texture(CardAction::minimize, true), nullptr);
  EXPECT_EQ(wakes, 0);
}

}  // namespace
}  // namespace quorvel
