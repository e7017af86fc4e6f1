#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <set>
#include <tuple>
#include <functional>
#include <thread>
#include <chrono>
#include <atomic>

#include "RendererFixture.h"

namespace quorvel {
namespace {

using testing::RendererFixture;

// A card's opaque interior, drawn again without blending.
bool isInterior(const RecordedDraw& d) { return d.pipeline && d.pipeline->label() == "Quorvel card interior"; }

class CardRendererTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (uint32_t id = 1; id <= 400; ++id) f.pictures[id] = f.texture(64, 40, "picture");
    f.icon = f.texture(16, 16, "icon");
    f.glyph = f.texture(16, 16, "glyph");
    f.disc = f.texture(16, 16, "disc");
    f.build();
  }
  RendererFixture f;
};

TEST_F(CardRendererTest, EveryCardOwnsFourteenRecordsInDrawOrderAndReflectionsComeFirst) {
  f.install(3, AppSettings::SwitcherStyle::coverArc, 1);
  f.settle();
  f.wake.bump();
  f.tick(f.now += 1.0 / 60);
  const auto cb = f.lastCommandBuffer();
  EXPECT_EQ(cb.label, "Quorvel ring");
  ASSERT_EQ(cb.encoders.size(), 1u);
  EXPECT_EQ(cb.encoders[0].label, "Quorvel cards");
  EXPECT_TRUE(cb.encoders[0].clear);
  EXPECT_EQ(cb.presentedDrawables, 1u);
  const auto draws = cb.encoders[0].draws;
  ASSERT_FALSE(draws.empty());
  const std::vector<int> order = f.renderer->drawOrder();
  ASSERT_EQ(order.size(), 3u);

  size_t firstNonReflection = draws.size();
  std::set<uint32_t> seen;
  for (size_t d = 0; d < draws.size(); ++d) {
    const RecordedDraw& draw = draws[d];
    EXPECT_EQ(draw.vertexCount, 4u);
    const size_t offset = draw.recordIndex % CardRenderer::kRecordsPerCard;
    // The ring is drawn in the pieces around its card's interior, every other record once.
    EXPECT_TRUE(seen.insert(draw.recordIndex).second || (offset == 4 && draw.scissor)) << "each record is drawn once";
    ASSERT_LT(draw.recordIndex, 3 * CardRenderer::kRecordsPerCard);
    const CardUniforms u = RendererFixture::record(draw);
    if (offset == 3) {
      EXPECT_EQ(u.isReflection, 1.0f);
      EXPECT_FLOAT_EQ(u.reflectionStrength, 0.35f);
      EXPECT_FLOAT_EQ(u.reflectionFade, 0.8f);
      EXPECT_FLOAT_EQ(u.floorY, -0.55f);
      EXPECT_LT(d, firstNonReflection) << "all reflections come before any card";
    } else {
      firstNonReflection = std::min(firstNonReflection, d);
    }
    if (offset == 0) {
      EXPECT_EQ(u.hasTexture, 1.0f);
      EXPECT_EQ(u.isOutline + u.isShadow + u.isReflection, 0.0f);
      const int card = order[draw.recordIndex / CardRenderer::kRecordsPerCard];
      EXPECT_EQ(draw.texture, f.pictures.at(static_cast<uint32_t>(card + 1))) << "the card's own picture";
    }
    if (offset == 4) {
      EXPECT_EQ(u.isOutline, 1.0f);
      EXPECT_EQ(u.alpha, 1.0f);
      EXPECT_GT(u.highlight, 0.0f);
      EXPECT_EQ(draw.texture, f.renderer->fallbackTexture());
    }
    if (offset == 5) {
      EXPECT_EQ(u.isShadow, 1.0f);
    }
  }
  EXPECT_EQ(std::count_if(draws.begin(), draws.end(), [](const RecordedDraw& d) { return d.recordIndex % 14 == 3; }),
            3);
  std::set<uint32_t> rings;
  for (const RecordedDraw& d : draws)
    if (d.recordIndex % 14 == 4) rings.insert(d.recordIndex);
  EXPECT_EQ(rings.size(), 1u) << "one ring: the focused card's";
  EXPECT_EQ(order.back(), 1) << "the focused card of a cover arc is the nearest, drawn last";
}

TEST_F(CardRendererTest, AStoppedRendererKeepsNoPictureAlive) {
  f.install(3, AppSettings::SwitcherStyle::coverArc, 1);
  f.settle();
  f.tickChanged();  // a last frame that draws every card
  std::weak_ptr<GpuTexture> picture = f.pictures[2];
  ASSERT_FALSE(picture.expired());
  // The overlay hides (its renderer stops), and the cache lets the picture go (as its sweep does
  // while the overlay is hidden).
  f.renderer->forgetFrames();
  f.pictures.erase(2);
  f.device->clearLog();  // what the recorded command buffers held
  EXPECT_TRUE(picture.expired()) << "the renderer still holds a picture the cache let go";
}

// The chrome as the painter hands it over (a bitmap the size of the screen with a capsule and a tip
// painted) goes into a texture the size of what was painted; once the overlay has gone, no texture
// the size of the screen is left.
TEST_F(CardRendererTest, NoTextureTheSizeOfTheScreenOutlivesTheOverlay) {
  auto bitmap = RasterBitmap::make(640, 400);
  ASSERT_TRUE(bitmap);
  RasterRegions painted(640, 400);
  painted.add({200, 20, 240, 40});
  painted.add({220, 350, 200, 24});
  ASSERT_TRUE(f.renderer->setOverlayChrome(*bitmap, painted));
  const auto chrome = f.renderer->overlayChrome();
  EXPECT_LE(chrome->width() * chrome->height(), 256u * 128u) << "the chrome's texture is the chrome's size";
  f.install(3, AppSettings::SwitcherStyle::coverArc, 1);
  f.settle();
  f.tickChanged();
  f.renderer->forgetFrames();
  f.device->clearLog();
  for (const auto& texture : f.device->liveTextures())
    EXPECT_LT(texture->width() * texture->height(), 640u * 400 / 4) << texture->label() << " outlives the overlay";
}

TEST_F(CardRendererTest, NoReflectionRecordsWithoutTheSettingOrAFloor) {
  SceneState::DisplayFlags flags;
  flags.showReflections = false;
  f.install(4, AppSettings::SwitcherStyle::coverArc, 0, flags);
  f.settle();
  for (const auto& draw : f.lastDraws()) EXPECT_NE(draw.recordIndex % 14, 3u);

  f.install(4, AppSettings::SwitcherStyle::expo, 0);
  f.settle();
  auto draws = f.lastDraws();
  ASSERT_FALSE(draws.empty());
  for (const auto& draw : draws) EXPECT_NE(draw.recordIndex % 14, 3u) << "the grid has no floor";
}

TEST_F(CardRendererTest, UniformBuffersGrowToTwiceTheNeedBeforeDrawing) {
  EXPECT_EQ(f.renderer->uniformCapacity(), 336u);
  ASSERT_EQ(f.renderer->uniformBuffers().size(), 3u);
  f.install(25, AppSettings::SwitcherStyle::tangentRing, 0);
  f.tick(f.now += 1.0 / 60);
  EXPECT_EQ(f.renderer->uniformCapacity(), 700u);
  for (const auto& buffer : f.renderer->uniformBuffers()) EXPECT_EQ(buffer->length(), 700u * 160u);
  EXPECT_EQ(f.renderer->uniformBuffers()[0]->label(), "Quorvel card uniforms 0");
  EXPECT_EQ(f.renderer->uniformBuffers()[2]->label(), "Quorvel card uniforms 2");
  EXPECT_FALSE(f.lastDraws().empty());
}

TEST_F(CardRendererTest, UniformBuffersThatCannotGrowDrawNothingButStillPresent) {
  auto failures = f.device->failures();
  failures.largestBuffer = 400 * 160;
  f.device->setFailures(failures);
  f.install(25, AppSettings::SwitcherStyle::tangentRing, 0);
  f.tick(f.now += 1.0 / 60);
  EXPECT_EQ(f.renderer->uniformCapacity(), 336u) << "the old buffers stay";
  const auto cb = f.lastCommandBuffer();
  EXPECT_EQ(cb.label, "Quorvel ring");
  EXPECT_EQ(cb.presentedDrawables, 1u);
  ASSERT_EQ(cb.encoders.size(), 1u);
  EXPECT_TRUE(cb.encoders[0].draws.empty());
}

TEST_F(CardRendererTest, CardsBeyondTheDrawReachAreCulled) {
  // The row draws 19.78 places (the tail tuning) plus a 4-place fade around the focus.
  f.install(60, AppSettings::SwitcherStyle::row, 0);
  f.settle();
  const auto draws = f.lastDraws();
  std::set<int> drawnCards;
  for (int i : f.renderer->drawOrder()) drawnCards.insert(i);
  size_t pictures = 0;
  for (const auto& draw : draws)
    if (draw.recordIndex % 14 == 0) ++pictures;
  EXPECT_LT(pictures, 60u);
  EXPECT_GT(pictures, 20u);
  EXPECT_TRUE(drawnCards.count(0) && drawnCards.count(19));
  EXPECT_FALSE(drawnCards.count(30)) << "30 places away";
}

TEST_F(CardRendererTest, InAWrappedListTheCardsJustBeforeTheFocusAreDrawnToo) {
  // Measured one way only, the places before the focus of a long wrapped list would count as most of
  // the list away and be culled although they stand right beside the focused card.
  f.install(60, AppSettings::SwitcherStyle::coverArc, 0, {}, OrbitCamera::FocusMode::wrap);
  f.settle();
  const std::vector<int> order = f.renderer->drawOrder();
  const std::set<int> drawnCards(order.begin(), order.end());
  EXPECT_TRUE(drawnCards.count(1));
  EXPECT_TRUE(drawnCards.count(59)) << "one place before the focus";
  EXPECT_TRUE(drawnCards.count(58));
  EXPECT_FALSE(drawnCards.count(30)) << "half the list away";
}

TEST_F(CardRendererTest, ARestingSceneRecordsNoCommandBufferUntilSomethingChanges) {
  f.install(3);
  f.settle();
  f.tick(f.now += 1.0 / 60);  // the first frame at rest draws once
  const size_t before = f.device->commandBufferCount();
  for (int i = 0; i < 5; ++i) f.tick(f.now += 1.0 / 60);
  EXPECT_EQ(f.device->commandBufferCount(), before) << "held by the rest gate";
  EXPECT_GE(f.renderer->pacing().restGate().heldTotal, 5);
  f.renderer->setAccentColor(Float4{1, 0, 0, 1});
  f.tick(f.now += 1.0 / 60);
  EXPECT_EQ(f.device->commandBufferCount(), before + 1) << "a new accent colour redraws a resting scene";
  const auto draws = f.lastDraws();
  ASSERT_FALSE(draws.empty());
  EXPECT_EQ(draws.front().fragmentBytes0[0], 1.0f);
  EXPECT_EQ(draws.front().fragmentBytes0[1], 0.0f);
}

// The fixture's surface, with every image still on its way to the window while `busy` is set.
class BusySurface final : public GpuSurface {
 public:
  explicit BusySurface(GpuSurface& inner) : inner_(inner) {}
  Size bounds() const override { return inner_.bounds(); }
  void setBounds(Size bounds) override { inner_.setBounds(bounds); }
  double contentsScale() const override { return inner_.contentsScale(); }
  void setContentsScale(double scale) override { inner_.setContentsScale(scale); }
  uint32_t drawableWidth() const override { return inner_.drawableWidth(); }
  uint32_t drawableHeight() const override { return inner_.drawableHeight(); }
  void setDrawableSize(uint32_t width, uint32_t height) override { inner_.setDrawableSize(width, height); }
  std::shared_ptr<GpuDrawable> nextDrawable() override { return busy ? nullptr : inner_.nextDrawable(); }
  bool busy = false;

 private:
  GpuSurface& inner_;
};

TEST_F(CardRendererTest, AFrameThatFoundNoDrawableIsDrawnLaterAlsoWhenTheSceneRestedWithIt) {
  f.install(3);
  BusySurface window(*f.surface);
  window.busy = true;
  for (int i = 0; i < 600 && !f.renderer->pacing().sceneAtRest(); ++i) f.tick(f.now += 1.0 / 60, &window);
  ASSERT_TRUE(f.renderer->pacing().sceneAtRest());
  const size_t before = f.device->commandBufferCount();
  window.busy = false;
  f.tick(f.now += 1.0 / 60, &window);
  EXPECT_EQ(f.device->commandBufferCount(), before + 1) << "the resting scene never reached the window";
  f.tick(f.now += 1.0 / 60, &window);
  EXPECT_EQ(f.device->commandBufferCount(), before + 1) << "then the rest gate holds";
}

TEST_F(CardRendererTest, ASceneThatIsNotRunningRecyclesTheDrawableWithoutWaitingForTheGpu) {
  f.device->holdCompletions(true);
  for (int i = 0; i < 5; ++i) f.tickChanged();
  const auto log = f.device->commandBuffers();
  ASSERT_EQ(log.size(), 5u) << "never blocked on frames in flight";
  for (const auto& cb : log) {
    EXPECT_EQ(cb.label, "Quorvel recycle");
    EXPECT_TRUE(cb.encoders.empty());
    EXPECT_EQ(cb.presentedDrawables, 1u);
  }
  f.device->holdCompletions(false);
  f.device->releaseCompletions();
}

TEST_F(CardRendererTest, AtMostTwoFramesAreInFlightAndStopWaitsBriefly) {
  f.install(3);
  f.renderer->setRedrawsOnlyChanges(false);  // every tick draws a frame, changed or not
  f.device->holdCompletions(true);
  f.tickChanged();
  f.tickChanged();
  EXPECT_EQ(f.device->heldCompletions(), 2u);
  // Returns although neither frame ever completes, and leaves both slots as they were.
  f.renderer->waitForFramesInFlight();
  EXPECT_EQ(f.device->heldCompletions(), 2u);
  f.wake.bump();
  std::thread third([&] { f.renderer->tick(DisplayLinkUpdate{f.now += 1.0 / 60}, *f.surface); });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(f.device->commandBufferCount(), 2u) << "the third frame waits for the GPU";
  f.device->holdCompletions(false);
  f.device->releaseCompletions();
  third.join();
  EXPECT_EQ(f.device->commandBufferCount(), 3u);
}

TEST_F(CardRendererTest, FocusChangesReachTheMainQueueOnceWithTheirSource) {
  f.install(5, AppSettings::SwitcherStyle::coverArc, 2);
  f.tickChanged();
  f.loop.runUntilIdle();
  EXPECT_TRUE(f.focusChanges.empty()) << "the installed focus is not a change";
  f.mutate([](SceneState::Storage& s) { SceneState::step(s, 1); });
  f.tickChanged();
  EXPECT_TRUE(f.focusChanges.empty()) << "delivered on the main queue, not the render thread";
  f.loop.runUntilIdle();
  ASSERT_EQ(f.focusChanges.size(), 1u);
  EXPECT_EQ(f.focusChanges[0].first, 3);
  EXPECT_EQ(f.focusChanges[0].second, FocusChangeSource::keyboard);
  f.tickChanged();
  f.tickChanged();
  f.loop.runUntilIdle();
  EXPECT_EQ(f.focusChanges.size(), 1u) << "an unchanged focus is not reported again";
}

TEST_F(CardRendererTest, AnUpdateOnTheMainThreadDoesNothing) {
  f.install(3);
  f.renderer->tick(DisplayLinkUpdate{f.now}, *f.surface);
  EXPECT_EQ(f.device->commandBufferCount(), 0u);
}

TEST_F(CardRendererTest, AMissingPictureDrawsThePlainCardWithItsIcon) {
  f.pictures.erase(2);
  f.install(3, AppSettings::SwitcherStyle::coverArc, 1);
  f.settle();
  bool plainCard = false, plainIcon = false;
  for (const auto& draw : f.lastDraws()) {
    const CardUniforms u = RendererFixture::record(draw);
    const size_t offset = draw.recordIndex % 14;
    if (offset == 0 && u.hasTexture == 0) {
      plainCard = true;
      EXPECT_EQ(draw.texture, f.renderer->fallbackTexture());
    }
    if (offset == 11) plainIcon = true;  // the icon badge of a card without a picture
  }
  EXPECT_TRUE(plainCard);
  EXPECT_TRUE(plainIcon);
}

TEST_F(CardRendererTest, OpaqueCardsDrawTheirInteriorAgainWithoutBlendingInsideTheirEdge) {
  // Cards 1 and 3 opaque, card 2 translucent, card 4 without a picture (the plain card, opaque).
  f.opaquePictures = {1, 3};
  f.pictures.erase(4);
  f.install(5, AppSettings::SwitcherStyle::coverArc, 2);
  f.settle();
  f.tickChanged();
  const auto draws = f.lastDraws();
  const std::vector<int> order = f.renderer->drawOrder();
  ASSERT_EQ(order.size(), 5u);
  std::shared_ptr<GpuRenderPipeline> blended;
  std::set<int> interiors;
  for (size_t d = 0; d < draws.size(); ++d) {
    const RecordedDraw& draw = draws[d];
    if (draw.recordIndex % 14 == 3) blended = draw.pipeline;  // reflections are blended
    if (draw.scissor) {
      EXPECT_LE(draw.scissor->x + draw.scissor->width, 640u);
      EXPECT_LE(draw.scissor->y + draw.scissor->height, 400u);
    }
    if (!isInterior(draw)) continue;
    // The interior: the card's own record and texture again, after its blended quad, in
    // rectangles well inside the card, each quad split as the blended one was (which gives every
    // pixel the same colour).
    EXPECT_EQ(draw.recordIndex % 14, 0u);
    const auto card = std::find_if(draws.begin(), draws.end(), [&](const RecordedDraw& r) {
      return r.recordIndex == draw.recordIndex && r.pipeline != draw.pipeline;
    });
    ASSERT_NE(card, draws.end()) << "the blended quad comes first";
    EXPECT_LT(card - draws.begin(), static_cast<long>(d));
    EXPECT_EQ(card->texture, draw.texture);
    EXPECT_EQ(draw.vertexStart, card->vertexStart);
    EXPECT_EQ(draw.vertexCount, 4u);
    ASSERT_TRUE(draw.scissor);
    interiors.insert(order[draw.recordIndex / 14]);
  }
  EXPECT_EQ(blended, draws.front().pipeline);
  EXPECT_EQ(interiors, (std::set<int>{0, 2, 3})) << "cards 1, 3 and the plain card 4; not the translucent card 2";

  // Nothing drawn twice and nothing cut with interiors off; nothing while a card fades.
  f.renderer->setDrawsOpaqueInteriors(false);
  f.tickChanged();
  for (const auto& draw : f.lastDraws()) {
    EXPECT_FALSE(isInterior(draw));
    EXPECT_FALSE(draw.scissor);
  }
  f.renderer->setDrawsOpaqueInteriors(true);
  f.mutate([](SceneState::Storage& s) {
    for (auto& morph : s.morphs) morph.alpha = 0.5f;
  });
  f.tick(f.now += 1e-6);
  for (const auto& draw : f.lastDraws()) EXPECT_FALSE(isInterior(draw)) << "a card at half opacity";
}

TEST_F(CardRendererTest, DrawsLeaveOutWhatALaterOpaqueInteriorCovers) {
  // Two opaque windows on the same rectangle, as a window manager leaves them, and a third beside
  // them, in a summon's first frame: every card on its window.
  f.opaquePictures = {1, 2, 3};
  const ViewportRect same{{0.1f, 0.1f}, {0.5f, 0.5f}};
  f.installOnWindows({same, same, {{0.55f, 0.45f}, {0.4f, 0.5f}}});
  f.tickChanged();
  const auto draws = f.lastDraws();
  const std::vector<int> order = f.renderer->drawOrder();
  ASSERT_EQ(order.size(), 3u);
  // Each card's interior rectangles, by place in the draw order.
  std::vector<std::vector<GpuRegion>> interiors(3);
  for (const RecordedDraw& d : draws)
    if (isInterior(d)) interiors[d.recordIndex / 14].push_back(*d.scissor);
  auto meets = [](const GpuRegion& a, const GpuRegion& b) {
    return a.x < b.x + b.width && b.x < a.x + a.width && a.y < b.y + b.height && b.y < a.y + a.height;
  };
  // The two windows on one rectangle: whichever is drawn first has next to no interior left to
  // draw, and no draw of it reaches into the interior of the one over it.
  std::vector<size_t> stacked;
  for (size_t k = 0; k < 3; ++k)
    if (order[k] != 2) stacked.push_back(k);
  ASSERT_EQ(stacked.size(), 2u);
  const size_t back = stacked[0], front = stacked[1];
  // (The two cards sit a hair apart in depth, so the back one keeps slivers a pixel or two wide.)
  auto area = [](const std::vector<GpuRegion>& rs) {
    size_t a = 0;
    for (const GpuRegion& r : rs) a += static_cast<size_t>(r.width) * r.height;
    return a;
  };
  EXPECT_LT(area(interiors[back]) * 50, area(interiors[front])) << "covered by the card over it";
  ASSERT_FALSE(interiors[front].empty());
  size_t backQuads = 0;
  for (const RecordedDraw& d : draws) {
    // (Its ring, cut around its own middle first, may keep pieces the card over it hides.)
    if (d.recordIndex / 14 != back || d.recordIndex % 14 == 4) continue;
    ++backQuads;
    ASSERT_TRUE(d.scissor) << "the card under another is drawn only where it shows";
    for (const GpuRegion& cover : interiors[front]) EXPECT_FALSE(meets(*d.scissor, cover));
  }
  EXPECT_GT(backQuads, 0u) << "its rounded rim still shows";
  // The front card's own blended quad leaves out its interior: that is drawn after it anyway.
  for (const RecordedDraw& d : draws) {
    if (d.recordIndex / 14 != front || isInterior(d) || d.recordIndex % 14 != 0) continue;
    ASSERT_TRUE(d.scissor);
    for (const GpuRegion& own : interiors[front]) EXPECT_FALSE(meets(*d.scissor, own));
  }
}

TEST_F(CardRendererTest, TheInteriorIsInsideTheCardsRoundedEdgeAndNeedsARadiusOfAPixel) {
  // A card of 400 x 200 pixels in the middle of an 800 x 600 target, drawn flat: clip space is the
  // card's quad scaled to half and a third of the target.
  Float4x4 mvp;
  mvp.columns[0].x = 1.0f;  // 400 of 800 pixels
  mvp.columns[1].y = 2.0f / 3;  // 200 of 600 pixels
  const Float2 size{4, 2};  // 100 pixels a unit
  auto interior = CardRenderer::opaqueInterior(mvp, size, 0.05f, 800, 600);
  ASSERT_TRUE(interior);
  EXPECT_NEAR(interior->x, 205, 1) << "5 pixels in from 200";
  EXPECT_NEAR(interior->y, 205, 1);
  EXPECT_NEAR(interior->width, 390, 1);
  EXPECT_NEAR(interior->height, 190, 1);
  EXPECT_FALSE(CardRenderer::opaqueInterior(mvp, size, 0.008f, 800, 600)) << "a radius under a pixel";
  EXPECT_FALSE(CardRenderer::opaqueInterior(mvp, size, 0.05f, 0, 600));
  // Behind the eye.
  Float4x4 behind = mvp;
  behind.columns[3].w = -1;
  EXPECT_FALSE(CardRenderer::opaqueInterior(behind, size, 0.05f, 800, 600));
  // Half off the target: the part on it.
  Float4x4 shifted = mvp;
  shifted.columns[3].x = 1;  // the card's centre on the right edge
  interior = CardRenderer::opaqueInterior(shifted, size, 0.05f, 800, 600);
  ASSERT_TRUE(interior);
  EXPECT_NEAR(interior->x, 605, 1);
  EXPECT_EQ(interior->x + interior->width, 800u);
  // Turned about its vertical axis (yaw 60 degrees, seen in perspective): a rectangle inside the
  // trapezoid it makes, every corner of it inside the card's inset edge.
  const float yaw = 1.0471976f;
  Float4x4 turned;
  turned.columns[0] = Float4{std::cos(yaw), 0, 0, -std::sin(yaw) * 0.5f};
  turned.columns[1] = Float4{0, 2.0f / 3, 0, 0};
  turned.columns[3] = Float4{0, 0, 0, 1.5f};
  interior = CardRenderer::opaqueInterior(turned, size, 0.05f, 800, 600);
  ASSERT_TRUE(interior);
  EXPECT_GT(interior->width, 50u);
  EXPECT_LT(interior->height, 200u);
}

// The most texels one pixel step moves across and down anywhere on a quad of this transform (with
// `texels` of its texture over the quad), measured at a fine grid of the quad's points.
std::pair<double, double> largestSteps(const Float4x4& mvp, Float2 texels, double width, double height) {
  auto pixel = [&](double qx, double qy) {
    double c[4];
    for (int r = 0; r < 4; ++r) {
      auto at = [&](int col) {
        const Float4& v = mvp.columns[col];
        return static_cast<double>(r == 0 ? v.x : r == 1 ? v.y : r == 2 ? v.z : v.w);
      };
      c[r] = at(0) * qx + at(1) * qy + at(3);
    }
    return std::pair<double, double>{(c[0] / c[3] * 0.5 + 0.5) * width, (0.5 - c[1] / c[3] * 0.5) * height};
  };
  double across = 0, down = 0;
  const double h = 1e-4;
  for (int i = 0; i <= 40; ++i)
    for (int j = 0; j <= 40; ++j) {
      const double qx = -0.5 + i / 40.0, qy = -0.5 + j / 40.0;
      const auto [x0, y0] = pixel(qx - h, qy);
      const auto [x1, y1] = pixel(qx + h, qy);
      const auto [x2, y2] = pixel(qx, qy - h);
      const auto [x3, y3] = pixel(qx, qy + h);
      const double a = (x1 - x0) / (2 * h), b = (x3 - x2) / (2 * h), d = (y1 - y0) / (2 * h), e = (y3 - y2) / (2 * h);
      const double det = a * e - b * d;
      // Quad units per pixel: the inverse of [a b; d e].
      const double qxPerX = e / det, qxPerY = -b / det, qyPerX = -d / det, qyPerY = a / det;
      across = std::max(across, std::fabs(texels.x * qxPerX) + std::fabs(texels.y * qyPerX));
      down = std::max(down, std::fabs(texels.x * qxPerY) + std::fabs(texels.y * qyPerY));
    }
  return {across, down};
}

TEST_F(CardRendererTest, ATextureIsMagnifiedWhereverEveryPixelStepMovesLessThanATexel) {
  // A card of 400 x 200 pixels flat in an 800 x 600 target.
  Float4x4 mvp;
  mvp.columns[0].x = 1.0f;
  mvp.columns[1].y = 2.0f / 3;
  EXPECT_TRUE(CardRenderer::magnifiesTexture(mvp, {200, 100}, 800, 600));
  EXPECT_TRUE(CardRenderer::magnifiesTexture(mvp, {395, 197}, 800, 600)) << "just under a texel a pixel";
  EXPECT_FALSE(CardRenderer::magnifiesTexture(mvp, {400, 200}, 800, 600)) << "a texel a pixel";
  EXPECT_FALSE(CardRenderer::magnifiesTexture(mvp, {200, 201}, 800, 600)) << "minified down";
  EXPECT_FALSE(CardRenderer::magnifiesTexture(mvp, {0, 100}, 800, 600));
  EXPECT_FALSE(CardRenderer::magnifiesTexture(mvp, {NAN, 100}, 800, 600));
  Float4x4 behind = mvp;
  behind.columns[3].w = -1;
  EXPECT_FALSE(CardRenderer::magnifiesTexture(behind, {200, 100}, 800, 600)) << "behind the eye";

  // Turned and tilted cards seen in perspective, near the limit: whenever the answer is yes, no
  // point of the quad steps a texel or more a pixel.
  int magnified = 0, cases = 0;
  for (float yaw : {0.0f, 0.05f, 0.3f, 0.8f, 1.2f})
    for (float pitch : {0.0f, 0.1f, 0.5f})
      for (float roll : {0.0f, 0.4f})
        for (float fill : {0.5f, 0.8f, 0.95f, 1.0f}) {
          Float4x4 m;
          const float cy = std::cos(yaw), sy = std::sin(yaw), cp = std::cos(pitch), sp = std::sin(pitch);
          // Unit quad axes turned by yaw (about y), then pitch (about x), then roll (in the view).
          Float3 x{cy, 0, -sy}, y{sy * sp, cp, cy * sp};
          const float cr = std::cos(roll), sr = std::sin(roll);
          x = Float3{cr * x.x - sr * x.y, sr * x.x + cr * x.y, x.z};
          y = Float3{cr * y.x - sr * y.y, sr * y.x + cr * y.y, y.z};
          // Perspective: clip w grows with depth (z toward the viewer is negative here).
          m.columns[0] = Float4{0.8f * x.x, 0.9f * x.y, 0, -0.5f * x.z};
          m.columns[1] = Float4{0.8f * y.x, 0.9f * y.y, 0, -0.5f * y.z};
          m.columns[3] = Float4{0.1f, -0.05f, 0, 1.2f};
          // Texels matching the pixels the flat quad would have, times `fill`.
          const Float2 texels{fill * 0.8f / 1.2f * 400, fill * 0.9f / 1.2f * 300};
          const bool answer = CardRenderer::magnifiesTexture(m, texels, 800, 600);
          const auto [across, down] = largestSteps(m, texels, 800, 600);
          ++cases;
          magnified += answer;
          if (answer) {
            EXPECT_LE(across, 0.991) << "yaw " << yaw << " pitch " << pitch << " roll " << roll << " fill " << fill;
            EXPECT_LE(down, 0.991) << "yaw " << yaw << " pitch " << pitch << " roll " << roll << " fill " << fill;
          }
          // Plainly minified somewhere: never taken for magnified.
          if (across > 1.0 || down > 1.0) {
            EXPECT_FALSE(answer);
          }
        }
  EXPECT_GE(magnified, 10) << "the test must see both answers";
  EXPECT_LT(magnified, cases);
}

TEST_F(CardRendererTest, AMagnifiedPictureIsSampledAtLevelZero) {
  // A summon's first frame: card 1's small picture shown at its window's size (magnified), card 2's
  // large picture shown smaller; card 1 opaque, card 2 not.
  f.opaquePictures = {1};
  f.pictures[2] = f.texture(1024, 640, "large picture");
  f.installOnWindows({{{0.05f, 0.1f}, {0.45f, 0.5f}}, {{0.55f, 0.45f}, {0.4f, 0.5f}}});
  auto levelZeroDraws = [&] {
    std::map<std::pair<int, bool>, std::set<bool>> seen;  // (card, interior) -> level 0 or not
    const std::vector<int> order = f.renderer->drawOrder();
    for (const RecordedDraw& d : f.lastDraws()) {
      if (d.recordIndex % 14 != 0 && d.recordIndex % 14 != 3) continue;  // pictures and reflections
      EXPECT_TRUE(d.sampler);
      if (!d.sampler) continue;
      seen[{order[d.recordIndex / 14], isInterior(d)}].insert(d.sampler->label().find("level 0") != std::string::npos);
    }
    return seen;
  };
  f.tickChanged();
  const auto seen = levelZeroDraws();
  using Seen = std::map<std::pair<int, bool>, std::set<bool>>;
  EXPECT_EQ(seen, (Seen{{{0, false}, {true}}, {{0, true}, {true}}, {{1, false}, {false}}}))
      << "card 1's quad and interior at level 0, card 2 at every level";
  // Every draw whole (the reference frames): the card sampler throughout.
  f.renderer->setDrawsOpaqueInteriors(false);
  f.tickChanged();
  EXPECT_EQ(levelZeroDraws(), (Seen{{{0, false}, {false}}, {{1, false}, {false}}}));
}

TEST_F(CardRendererTest, ASelectionRingOfStrengthZeroIsNotDrawn) {
  f.install(3, AppSettings::SwitcherStyle::coverArc, 1);
  f.settle();
  auto rings = [&] {
    const auto draws = f.lastDraws();
    return std::count_if(draws.begin(), draws.end(), [](const RecordedDraw& d) { return d.recordIndex % 14 == 4; });
  };
  f.tickChanged();
  EXPECT_GE(rings(), 1);
  // A fly-in's first frames: no progress yet, so the ring's strength (progress x highlight x
  // opacity) is zero.
  f.mutate([](SceneState::Storage& s) {
    for (auto& morph : s.morphs) {
      morph.progress = 0;
      morph.delay = 1;
    }
  });
  f.tick(f.now += 1e-6);
  EXPECT_EQ(rings(), 0);
}

TEST(CardRendererBuildTest, YieldsNothingWithoutItsShadersOrPipeline) {
  for (int which = 0; which < 6; ++which) {
    RendererFixture f;
    auto failures = f.device->failures();
    if (which == 0) failures.library = true;
    if (which == 1) failures.missingFunction = "cardVertex";
    if (which == 2) failures.missingFunction = "cardFragment";
    if (which == 3) failures.pipelines = true;
    if (which == 4) failures.missingFunction = "cardInteriorFragment";
    if (which == 5) failures.missingFunction = "cardPlainFragment";
    f.device->setFailures(failures);
    EXPECT_FALSE(CardRenderer::make(f.context, f.state, f.sink, f.providers(),
                                    CardRenderer::Services{f.loop.main(), f.loop.clock(), f.wake}))
        << which;
  }
}

TEST_F(CardRendererTest, TheOverlayChromeIsDrawnLastOverTheCardsAndAloneInTheEmptyState) {
  auto bitmap = RasterBitmap::make(640, 400);
  ASSERT_TRUE(bitmap);
  f.install(3, AppSettings::SwitcherStyle::coverArc, 1);
  f.settle();
  f.tick(f.now += 1.0 / 60);
  const size_t before = f.device->commandBufferCount();
  ASSERT_TRUE(f.renderer->setOverlayChrome(*bitmap));
  f.renderer->setBackdrop(Float4{0.1f, 0.2f, 0.3f, 0.5f});
  f.tick(f.now += 1.0 / 60);
  EXPECT_EQ(f.device->commandBufferCount(), before + 1) << "new chrome redraws a resting scene";
  auto cb = f.lastCommandBuffer();
  ASSERT_EQ(cb.encoders.size(), 1u);
  const GpuColor clear = cb.encoders.front().clearColor;
  EXPECT_FLOAT_EQ(float(clear.red), 0.1f);
  EXPECT_FLOAT_EQ(float(clear.alpha), 0.5f);
  auto draws = f.lastDraws();
  ASSERT_FALSE(draws.empty());
  EXPECT_EQ(draws.back().texture, f.renderer->overlayChrome());
  EXPECT_EQ(draws.back().recordIndex, 3 * CardRenderer::kRecordsPerCard) << "after the cards' blocks";
  const CardUniforms u = RendererFixture::record(draws.back());
  EXPECT_EQ(u.hasTexture, 1);
  EXPECT_EQ(u.mvp.columns[0].x, 2) << "the quad covers the whole target";
  EXPECT_EQ(u.mvp.columns[1].y, 2);

  // A premultiplied backdrop never has a channel above its alpha.
  f.renderer->setBackdrop(Float4{0.9f, 0.2f, NAN, 0.5f});
  EXPECT_EQ(f.renderer->backdrop(), (Float4{0.5f, 0.2f, 0, 0.5f}));

  // No cards: the chrome alone (the empty state), in record 0.
  f.install(0);
  f.tickChanged();
  draws = f.lastDraws();
  ASSERT_EQ(draws.size(), 1u);
  EXPECT_EQ(draws.front().recordIndex, 0u);
  EXPECT_EQ(draws.front().texture, f.renderer->overlayChrome());

  // Cleared: nothing is drawn over the empty scene, and the texture is kept for the next bitmap.
  auto texture = f.renderer->overlayChrome();
  f.renderer->clearOverlayChrome();
  EXPECT_FALSE(f.renderer->overlayChrome());
  f.tickChanged();
  EXPECT_TRUE(f.lastDraws().empty());
  ASSERT_TRUE(f.renderer->setOverlayChrome(*bitmap));
  EXPECT_EQ(f.renderer->overlayChrome(), texture);
}

TEST_F(CardRendererTest, TheChromeIsOneQuadPerPaintedRectangleOverTheSameTexels) {
  auto bitmap = RasterBitmap::make(640, 400);
  ASSERT_TRUE(bitmap);
  f.install(2, AppSettings::SwitcherStyle::coverArc, 0);
  f.settle();
  RasterRegions painted(640, 400);
  painted.add({600, 380, 80, 40});  // clipped to the bitmap: 40 x 20
  painted.add({64, 100, 128, 50});
  ASSERT_TRUE(f.renderer->setOverlayChrome(*bitmap, painted));
  ASSERT_EQ(f.renderer->overlayChromeRegions().size(), 2u);
  f.tickChanged();
  const auto draws = f.lastDraws();
  ASSERT_GE(draws.size(), 2u);
  const std::vector<RasterRegion> expected{{600, 380, 40, 20}, {64, 100, 128, 50}};
  for (size_t i = 0; i < 2; ++i) {
    const RecordedDraw& d = draws[draws.size() - 2 + i];
    EXPECT_EQ(d.recordIndex, 2 * CardRenderer::kRecordsPerCard + i);
    EXPECT_EQ(d.texture, f.renderer->overlayChrome());
    const CardUniforms u = RendererFixture::record(d);
    const RasterRegion& r = expected[i];
    // Sampling the rectangle's texels where the texture holds them, one under the other.
    const GpuRegion from = f.renderer->overlayChromeSources()[i];
    EXPECT_EQ(from.x, 0u);
    EXPECT_EQ(from.y, i == 0 ? 0u : 20u);
    EXPECT_EQ(from.width, static_cast<uint32_t>(r.width));
    EXPECT_EQ(from.height, static_cast<uint32_t>(r.height));
    const auto& texture = *f.renderer->overlayChrome();
    EXPECT_FLOAT_EQ(u.contentOrigin.x, 0);
    EXPECT_FLOAT_EQ(u.contentOrigin.y, static_cast<float>(from.y) / static_cast<float>(texture.height()));
    EXPECT_FLOAT_EQ(u.contentExtent.x, r.width / static_cast<float>(texture.width()));
    EXPECT_FLOAT_EQ(u.contentExtent.y, r.height / static_cast<float>(texture.height()));
    // The quad's corners land on the rectangle's pixel edges (clip space y up, top row at y = 1).
    const Float4 topLeft = u.mvp * Float4{-0.5f, 0.5f, 0, 1};
    const Float4 bottomRight = u.mvp * Float4{0.5f, -0.5f, 0, 1};
    EXPECT_NEAR((topLeft.x + 1) / 2 * 640, r.x, 1e-3);
    EXPECT_NEAR((1 - topLeft.y) / 2 * 400, r.y, 1e-3);
    EXPECT_NEAR((bottomRight.x + 1) / 2 * 640, r.maxX(), 1e-3);
    EXPECT_NEAR((1 - bottomRight.y) / 2 * 400, r.maxY(), 1e-3);
  }

  // Regions the GPU layer refuses leave the chrome as it was.
  auto texture = f.texture(8, 8, "region refusals");
  const std::string bytes(8 * 8 * 4, '\0');
  EXPECT_TRUE(texture->replaceRegions(0, {}, bytes.data(), 32));
  EXPECT_TRUE(texture->replaceRegions(0, {{4, 4, 4, 4}}, bytes.data(), 32));
  EXPECT_FALSE(texture->replaceRegions(0, {{5, 0, 4, 1}}, bytes.data(), 32));
  EXPECT_FALSE(texture->replaceRegions(0, {{0, 0, 0, 1}}, bytes.data(), 32));
  EXPECT_FALSE(texture->replaceRegions(1, {{0, 0, 1, 1}}, bytes.data(), 32));
  EXPECT_FALSE(texture->replaceRegions(0, {{0, 0, 1, 1}}, bytes.data(), 16));
}

TEST_F(CardRendererTest, AChromeBitmapNeverGoesIntoTheTextureAFrameBeingEncodedDraws) {
  auto bitmap = RasterBitmap::make(640, 400);
  ASSERT_TRUE(bitmap);
  std::function<void()> duringFrame;
  CardRenderer::Providers providers = f.providers();
  providers.picture = [&, pictures = providers.picture](uint32_t id) {
    if (duringFrame) std::exchange(duringFrame, nullptr)();
    return pictures(id);
  };
  f.renderer = CardRenderer::make(f.context, f.state, f.sink, providers,
                                  CardRenderer::Services{f.loop.main(), f.loop.clock(), f.wake});
  ASSERT_TRUE(f.renderer);
  f.install(3, AppSettings::SwitcherStyle::row, 1);
  f.settle();
  RasterRegions painted(640, 400);
  painted.add({10, 10, 50, 20});
  ASSERT_TRUE(f.renderer->setOverlayChrome(*bitmap, painted));
  const auto first = f.renderer->overlayChrome();

  // While a frame that took the first texture is being encoded, the next bitmap goes into the
  // other texture at once, and the one after waits for that frame to be committed.
  std::atomic<int> uploaded{0};
  std::thread uploader;
  duringFrame = [&] {
    uploader = std::thread([&] {
      EXPECT_TRUE(f.renderer->setOverlayChrome(*bitmap, painted));
      uploaded = 1;
      EXPECT_TRUE(f.renderer->setOverlayChrome(*bitmap, painted));
      uploaded = 2;
    });
    while (uploaded.load() < 1) std::this_thread::yield();
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_EQ(uploaded.load(), 1) << "the texture the frame draws was filled under it";
  };
  f.tickChanged();
  uploader.join();
  EXPECT_EQ(uploaded.load(), 2);
  EXPECT_EQ(f.renderer->overlayChrome(), first) << "the two textures take turns";
  EXPECT_EQ(f.lastDraws().back().texture, first);
}

// A background tab's card has no picture: its application icon large in the middle with the site
// icon on it, the label plate (the application and the tab's title) under it, and on the chrome
// row the icon badge, the tab's status glyph and the title plate. The title plate shows its whole
// texture at the texture's aspect, and no mark of the row is drawn over it.
TEST_F(CardRendererTest, ATabCardsTitleTileIsWholeAndClearOfTheRowsMarks) {
  f.pictures.erase(1);
  f.titlePlate = f.texture(300, 40, "title");  // "Invoices – March" at 7.5 : 1
  f.mutate([&](SceneState::Storage& s) {
    SceneState::applyStyle(s, OrbitCamera::FocusMode::clamp, false,
                           LayoutFactory::makeLayout(AppSettings::SwitcherStyle::row, 1.0f), 0.92);
    SceneState::InstallOptions options;
    CardSnapshot tab = RendererFixture::card(1);
    tab.status.state = WindowState::browserTab;
    tab.status.isTab = true;
    tab.title = CardTitle{"Invoices \u2013 March"};
    options.snapshots = {tab, RendererFixture::card(2)};
    options.flags.showTitles = true;
    SceneState::install(s, std::move(options));
    SceneState::setViewport(s, Float2{640, 400}, 1);
  });
  f.settle();
  f.tickChanged();
  const auto draws = f.lastDraws();
  const size_t block = [&] {
    const std::vector<int> order = f.renderer->drawOrder();
    return static_cast<size_t>(std::find(order.begin(), order.end(), 0) - order.begin()) * CardRenderer::kRecordsPerCard;
  }();
  auto find = [&](size_t offset) -> std::optional<CardUniforms> {
    for (const RecordedDraw& d : draws)
      if (d.recordIndex == block + offset) return RendererFixture::record(d);
    return std::nullopt;
  };
  // Screen rectangle of a mark's quad.
  auto rect = [](const CardUniforms& u) {
    float x0 = INFINITY, x1 = -INFINITY, y0 = INFINITY, y1 = -INFINITY;
    for (float cy : {-0.5f, 0.5f})
      for (float cx : {-0.5f, 0.5f}) {
        const Float4 c = u.mvp * Float4{cx, cy, 0, 1};
        x0 = std::min(x0, c.x / c.w), x1 = std::max(x1, c.x / c.w);
        y0 = std::min(y0, c.y / c.w), y1 = std::max(y1, c.y / c.w);
      }
    return std::array<float, 4>{x0, y0, x1, y1};
  };
  const auto title = find(6), icon = find(11), glyph = find(9), plainIcon = find(1);
  ASSERT_TRUE(title && icon && glyph && plainIcon) << "title, row icon, status glyph and the large icon";
  EXPECT_FALSE(find(0)->hasTexture) << "no picture";
  EXPECT_NEAR(title->size.x / title->size.y, 7.5f, 1e-3f) << "the whole title at its aspect";
  EXPECT_EQ(title->contentExtent, (Float2{1, 1}));
  const auto t = rect(*title);
  for (const CardUniforms& mark : {*icon, *glyph}) {
    const auto m = rect(mark);
    EXPECT_TRUE(m[2] <= t[0] || t[2] <= m[0] || m[3] <= t[1] || t[3] <= m[1]) << "a mark over the title";
  }
}

// The title plate shares the chrome row with the icon, the status glyph and the count badge: it
// sits centred on the card where the marks leave it room, else beside them, and a title wider than
// the room is drawn smaller with its aspect kept (whole), never under a mark.
TEST(CardChromeLayoutTest, TheTitleKeepsClearOfTheMarksAndWhole) {
  struct Case {
    float width;
    bool icon, glyph;
    std::optional<float> count;
    float titleAspect;
    bool centred;
  };
  const Case cases[] = {
      {320, false, false, std::nullopt, 6, true},  // alone on the row
      {640, true, true, 1.0f, 3, true},            // room enough in the middle
      {640, true, true, 1.6f, 12, false},          // pushed right of the count badge
      {320, true, true, 1.0f, 6, false},           // squeezed: drawn smaller, whole
      {200, true, true, std::nullopt, 3, false},   // a narrow card: the marks shrink too
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << "card " << c.width << " title aspect " << c.titleAspect);
    const CardChromeRow::Row row = CardRenderer::layoutRow(c.width, 1, 1, c.icon, c.glyph, c.count, c.titleAspect);
    ASSERT_TRUE(row.title);
    const CardChromeRow::Title& t = *row.title;
    const CardChromeRow::Marks& m = row.marks;
    float marksEnd = 0;
    if (row.icon) marksEnd = std::max(marksEnd, *row.icon + m.iconSide / 2);
    if (row.glyph) marksEnd = std::max(marksEnd, *row.glyph + m.glyphSide / 2);
    if (row.count) marksEnd = std::max(marksEnd, *row.count + m.countHeight * *c.count / 2);
    EXPECT_GE(t.centre - t.width / 2, marksEnd + m.gap - 1e-3f) << "clear of the marks";
    EXPECT_LE(t.centre + t.width / 2, c.width - m.gap + 1e-3f) << "inside the card";
    EXPECT_NEAR(t.width / t.height, c.titleAspect, 1e-3f) << "whole: its aspect kept";
    EXPECT_LE(t.height, m.countHeight / 2 + 1e-3f);
    if (c.centred) {
      EXPECT_FLOAT_EQ(t.centre, c.width / 2);
    }
  }
  // No room at all beside the marks: no title rather than one under them.
  EXPECT_FALSE(CardRenderer::layoutRow(40, 1, 1, true, true, 3.0f, 6).title);
}

}  // namespace
}  // namespace quorvel
