#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>

#include "RendererFixture.h"
#include "scene/CameraRig.h"
#include "pictures/BackdropBlur.h"
#include "scene/CardPosePass.h"
#include "scene/RowLayout.h"
#include "support/VulkanTestDevice.h"

namespace quorvel {
namespace {

using testing::RendererFixture;

// A solid premultiplied colour as BGRA bytes.
std::string solid(uint32_t w, uint32_t h, uint8_t r, uint8_t g, uint8_t b) {
  std::string bytes(static_cast<size_t>(w) * h * 4, '\0');
  for (size_t i = 0; i < bytes.size(); i += 4) {
    bytes[i] = static_cast<char>(b);
    bytes[i + 1] = static_cast<char>(g);
    bytes[i + 2] = static_cast<char>(r);
    bytes[i + 3] = static_cast<char>(255);
  }
  return bytes;
}

class CardPixelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(vk.device) << vk.error;
    f = std::make_unique<RendererFixture>(vk.device);
    const uint8_t colours[3][3] = {{230, 20, 20}, {20, 230, 20}, {20, 20, 230}};
    for (uint32_t id = 1; id <= 3; ++id) {
      auto texture = f->texture(64, 40, "Quorvel test picture");
      const auto& c = colours[id - 1];
      const std::string bytes = solid(64, 40, c[0], c[1], c[2]);
      ASSERT_TRUE(texture->replaceLevel(0, bytes.data(), 64 * 4));
      f->pictures[id] = texture;
    }
    f->build();
    f->renderer->setAccentColor(Float4{1.0f, 0.5f, 0.0f, 1.0f});
  }
  void TearDown() override {
    f.reset();
    vk.device->waitIdle();
    vk.expectNoMessages();
  }

  // The pixel a world point lands on.
  static std::pair<uint32_t, uint32_t> pixelOf(const CameraRig& rig, Float3 p) {
    const Float4 clip = rig.viewProjection * Float4{p.x, p.y, p.z, 1};
    const float x = (clip.x / clip.w * 0.5f + 0.5f) * 640;
    const float y = (1 - (clip.y / clip.w * 0.5f + 0.5f)) * 400;
    return {static_cast<uint32_t>(std::clamp(x, 0.0f, 639.0f)), static_cast<uint32_t>(std::clamp(y, 0.0f, 399.0f))};
  }

  VulkanTestDevice vk;
  std::unique_ptr<RendererFixture> f;
};

TEST_F(CardPixelTest, ThreeCardsDrawTheirPicturesTheRingAndTheirReflectionsOnATransparentTarget) {
  f->install(3, AppSettings::SwitcherStyle::row, 1);
  f->settle();
  f->wake.bump();
  f->tick(f->now += 1.0 / 60);
  const GpuPixels pixels = f->surface->readLastFrame();
  ASSERT_EQ(pixels.width, 640u);
  ASSERT_EQ(pixels.height, 400u);
  EXPECT_EQ(pixels.at(0, 0).a, 0) << "transparent background";
  EXPECT_EQ(pixels.at(639, 0).a, 0);
  EXPECT_EQ(pixels.at(320, 8).a, 0);

  const SceneProbe probe = f->state->withLock([](SceneState::Storage& s) { return SceneState::probe(s); });
  const CameraRig rig = CameraRig::fromProbe(probe, 640, 400);
  const float floorY = *probe.layout.floorY();
  for (int i = 0; i < 3; ++i) {
    const MorphSample& sample = probe.samples[static_cast<size_t>(i)];
    const auto look = CardPosePass::slotLook(sample.to, probe.clusters, probe.focus, probe.flipFocus,
                                             probe.layout.pileWeight(), probe.stackTuning, probe.flipReach);
    const auto placed = CardPosePass::cardPose((*probe.cards)[static_cast<size_t>(i)], sample, probe.layout, rig, look,
                                               std::nullopt, probe.focus, 1, 0);
    const CardPose& pose = placed.pose;
    auto [cx, cy] = pixelOf(rig, pose.position);
    const GpuPixels::Texel centre = pixels.at(cx, cy);
    SCOPED_TRACE("card " + std::to_string(i) + " at " + std::to_string(cx) + "," + std::to_string(cy));
    EXPECT_EQ(centre.a, 255);
    const uint8_t channel[3] = {centre.r, centre.g, centre.b};
    for (int c = 0; c < 3; ++c) {
      if (c == i) continue;
      EXPECT_GT(channel[i], channel[c] + 100) << "the card's own picture colour";
    }

    // The reflection: a point just above the card's bottom edge, mirrored in the floor.
    const float y = pose.position.y - pose.size.y / 2 + 0.1f * pose.size.y;
    auto [rx, ry] = pixelOf(rig, Float3{pose.position.x, 2 * floorY - y, pose.position.z});
    const GpuPixels::Texel reflected = pixels.at(rx, ry);
    const uint8_t rc[3] = {reflected.r, reflected.g, reflected.b};
    EXPECT_GT(reflected.a, 20) << "a reflection below the floor";
    EXPECT_LT(reflected.a, 200) << "fainter than the card";
    for (int c = 0; c < 3; ++c) {
      if (c == i) continue;
      EXPECT_GT(rc[i], rc[c]);
    }

    if (i == 1) {
      // The selection ring: a band of the accent colour just outside the focused card.
      const float depth = std::fabs(rig.viewDepth(pose.position));
      const float point = 0.9326152f / 400 * depth;
      const float pad = std::max(0.06f * std::min(pose.size.x, pose.size.y), 9.5f * point);
      auto [gx, gy] = pixelOf(rig, pose.position + Float3{pose.size.x / 2 + 0.75f * pad, 0, 0});
      const GpuPixels::Texel ring = pixels.at(gx, gy);
      EXPECT_GT(ring.a, 200);
      EXPECT_GT(ring.r, 200);
      EXPECT_NEAR(ring.g, 128, 40);
      EXPECT_LT(ring.b, 40);
    }
  }
}

// A row whose middle card is turned round, as the back of a ring is.
class TurnedMiddleRow final : public LayoutEngine {
 public:
  AppSettings::SwitcherStyle style() const override { return row_.style(); }
  CardPose pose(int index, int count, int cards, float aspect, float heightFactor, double focus) const override {
    CardPose pose = row_.pose(index, count, cards, aspect, heightFactor, focus);
    if (index == 1) pose.yaw += 3.1415927f;
    return pose;
  }
  Camera camera(int count, int cards, float extra) const override { return row_.camera(count, cards, extra); }
  std::optional<float> floorY() const override { return row_.floorY(); }

 private:
  RowLayout row_{1.0f};
};

// A card seen from behind shows its picture as from the front, not in mirror writing; so do the
// reflections, of cards seen from the front and from behind.
TEST_F(CardPixelTest, ACardSeenFromBehindShowsItsPictureTheRightWayRound) {
  // Red on the picture's left half, blue on its right.
  std::string bytes = solid(64, 40, 20, 20, 230);
  const std::string red = solid(32, 1, 230, 20, 20);
  for (int y = 0; y < 40; ++y) bytes.replace(static_cast<size_t>(y) * 64 * 4, red.size(), red);
  for (uint32_t id = 1; id <= 3; ++id) {
    auto texture = f->texture(64, 40, "Quorvel test picture");
    ASSERT_TRUE(texture->replaceLevel(0, bytes.data(), 64 * 4));
    f->pictures[id] = texture;
  }
  f->install(3, AppSettings::SwitcherStyle::row, 1);
  f->mutate([](SceneState::Storage& s) {
    SceneState::applyStyle(s, OrbitCamera::FocusMode::clamp, false, std::make_shared<TurnedMiddleRow>(), 0.92);
  });
  f->settle();
  f->wake.bump();
  f->tick(f->now += 1.0 / 60);
  const GpuPixels pixels = f->surface->readLastFrame();
  const SceneProbe probe = f->state->withLock([](SceneState::Storage& s) { return SceneState::probe(s); });
  const CameraRig rig = CameraRig::fromProbe(probe, 640, 400);
  const float floorY = *probe.layout.floorY();
  for (int i : {1, 2}) {
    const MorphSample& sample = probe.samples[static_cast<size_t>(i)];
    const auto look = CardPosePass::slotLook(sample.to, probe.clusters, probe.focus, probe.flipFocus,
                                             probe.layout.pileWeight(), probe.stackTuning, probe.flipReach);
    const CardPose pose = CardPosePass::cardPose((*probe.cards)[static_cast<size_t>(i)], sample, probe.layout, rig,
                                                 look, std::nullopt, probe.focus, 1, 0)
                              .pose;
    const float y = pose.position.y - 0.4f * pose.size.y;
    for (float side : {-0.3f, 0.3f}) {
      SCOPED_TRACE("card " + std::to_string(i) + (side < 0 ? ", left" : ", right"));
      const Float3 at{pose.position.x + side * pose.size.x, y, pose.position.z};
      for (Float3 p : {at, Float3{at.x, 2 * floorY - at.y, at.z}}) {
        auto [px, py] = pixelOf(rig, p);
        if (px == 0 || px == 639) continue;  // beside the view (the next card's right half)
        const GpuPixels::Texel texel = pixels.at(px, py);
        EXPECT_EQ(texel.r > texel.b, side < 0) << "at " << px << "," << py;
      }
    }
  }
}

TEST_F(CardPixelTest, TheBackdropIsUnderTheCardsAndTheChromeOverThemPixelForPixel) {
  // A chrome bitmap with one opaque white square and one half-covering grey square.
  auto chrome = RasterBitmap::make(640, 400);
  ASSERT_TRUE(chrome);
  auto fill = [&](int x0, int y0, int side, uint8_t level, uint8_t alpha) {
    for (int y = y0; y < y0 + side; ++y)
      for (int x = x0; x < x0 + side; ++x) {
        uint8_t* p = chrome->data() + static_cast<size_t>(y) * chrome->bytesPerRow() + static_cast<size_t>(x) * 4;
        p[0] = p[1] = p[2] = level;
        p[3] = alpha;
      }
  };
  fill(300, 180, 40, 255, 255);  // over the focused card in the middle
  fill(20, 20, 10, 64, 128);     // over the backdrop, top left
  f->install(3, AppSettings::SwitcherStyle::row, 1);
  f->settle();
  ASSERT_TRUE(f->renderer->setOverlayChrome(*chrome));
  f->renderer->setBackdrop(Float4{0, 0, 0.4f, 0.5f});
  f->tickChanged();
  GpuPixels pixels = f->surface->readLastFrame();
  ASSERT_EQ(pixels.width, 640u);
  auto expectTexel = [&](uint32_t x, uint32_t y, int r, int g, int b, int a) {
    const GpuPixels::Texel t = pixels.at(x, y);
    EXPECT_NEAR(t.r, r, 2) << x << "," << y;
    EXPECT_NEAR(t.g, g, 2) << x << "," << y;
    EXPECT_NEAR(t.b, b, 2) << x << "," << y;
    EXPECT_NEAR(t.a, a, 2) << x << "," << y;
  };
  expectTexel(320, 200, 255, 255, 255, 255);  // the chrome covers the card
  expectTexel(0, 0, 0, 0, 102, 128);          // the backdrop alone
  expectTexel(25, 25, 64, 64, 115, 192);      // half-covering chrome over the backdrop
  EXPECT_GT(pixels.at(290, 200).g, 150) << "the focused (green) card beside the chrome";

  // The empty state: no cards, the chrome and the backdrop still drawn.
  f->install(0);
  f->tickChanged();
  pixels = f->surface->readLastFrame();
  expectTexel(320, 200, 255, 255, 255, 255);
  expectTexel(290, 200, 0, 0, 102, 128);
}

// The desktop's still under the cards: a blurred still, a quarter of the target's size, stretched
// over the whole target with the dim veil's darkening, against the still sampled as a bilinear
// filter does; at half opacity over the backdrop colour; under the cards; and without cards.
TEST_F(CardPixelTest, TheBackdropPictureIsTheBlurredStillScaledUpAndDimmedUnderTheCards) {
  DesktopStill still{160, 100, {}};
  for (int y = 0; y < 100; ++y)
    for (int x = 0; x < 160; ++x) {
      const bool block = x > 40 && x < 90 && y > 20 && y < 60;
      const uint32_t r = block ? 250 : static_cast<uint32_t>(x * 255 / 159), g = block ? 240 : 60,
                     b = static_cast<uint32_t>(y * 255 / 99);
      still.pixels.push_back(0xff000000u | r << 16 | g << 8 | b);
    }
  still = BackdropBlur::blurred(still, BackdropBlur::radiusFor(0.5, 160));
  // The still at a target pixel's centre, filtered bilinearly with its edges clamped.
  auto expected = [&](uint32_t px, uint32_t py, int shift) {
    const double u = (px + 0.5) / 640 * 160 - 0.5, v = (py + 0.5) / 400 * 100 - 0.5;
    const int x0 = static_cast<int>(std::floor(u)), y0 = static_cast<int>(std::floor(v));
    const double fx = u - x0, fy = v - y0;
    auto at = [&](int x, int y) {
      return static_cast<double>((still.at(std::clamp(x, 0, 159), std::clamp(y, 0, 99)) >> shift) & 0xff);
    };
    return (at(x0, y0) * (1 - fx) + at(x0 + 1, y0) * fx) * (1 - fy) + (at(x0, y0 + 1) * (1 - fx) + at(x0 + 1, y0 + 1) * fx) * fy;
  };
  f->install(0);
  f->renderer->setBackdrop(Float4{0, 0, 0.4f, 0.5f});
  ASSERT_TRUE(f->renderer->setBackdropPicture(&still));
  f->renderer->setBackdropPictureLook(1, 0.78f);
  f->tickChanged();
  GpuPixels pixels = f->surface->readLastFrame();
  ASSERT_EQ(pixels.width, 640u);
  int worst = 0;
  for (uint32_t y = 1; y < 400; y += 7)
    for (uint32_t x = 2; x < 640; x += 9) {
      const GpuPixels::Texel t = pixels.at(x, y);
      ASSERT_EQ(t.a, 255) << x << "," << y;
      const int got[3] = {t.r, t.g, t.b};
      for (int c = 0; c < 3; ++c)
        worst = std::max(worst, std::abs(got[c] - static_cast<int>(std::lround(expected(x, y, 16 - 8 * c) * 0.78))));
    }
  EXPECT_LE(worst, 3);

  // Half faded in, over the backdrop colour (premultiplied 0, 0, 102, 128).
  f->renderer->setBackdropPictureLook(0.5f, 1);
  f->tickChanged();
  pixels = f->surface->readLastFrame();
  EXPECT_NEAR(pixels.at(0, 0).r, expected(0, 0, 16) * 0.5, 2);
  EXPECT_NEAR(pixels.at(0, 0).b, expected(0, 0, 0) * 0.5 + 51, 2);
  EXPECT_NEAR(pixels.at(0, 0).a, 255 * 0.5 + 64, 2);

  // The cards lie over it; none (or opacity 0) leaves the backdrop colour alone.
  f->renderer->setBackdropPictureLook(1, 1);
  f->install(3, AppSettings::SwitcherStyle::row, 1);
  f->settle();
  f->tickChanged();
  pixels = f->surface->readLastFrame();
  EXPECT_GT(pixels.at(320, 200).g, 200) << "the focused (green) card";
  EXPECT_EQ(pixels.at(5, 5).a, 255) << "the still beside the cards";
  ASSERT_TRUE(f->renderer->setBackdropPicture(nullptr));
  EXPECT_FALSE(f->renderer->backdropPicture());
  f->tickChanged();
  EXPECT_EQ(f->surface->readLastFrame().at(5, 5).a, 128);
}

TEST_F(CardPixelTest, TheChromeIsDrawnOnlyInsideItsPaintedRectanglesAndOlderTexelsNeverShow) {
  // A capsule-like patch with varying colour and coverage, painted at (x0, y0), rows from the top.
  auto paint = [](RasterBitmap& b, int x0, int y0) {
    for (int y = y0; y < y0 + 30; ++y)
      for (int x = x0; x < x0 + 90; ++x) {
        const auto alpha = static_cast<uint8_t>(40 + (x - x0) * 2);
        uint8_t* p = b.data() + static_cast<size_t>(y) * b.bytesPerRow() + static_cast<size_t>(x) * 4;
        p[0] = static_cast<uint8_t>(alpha * (y - y0) / 30);
        p[1] = static_cast<uint8_t>(alpha / 2);
        p[2] = alpha;
        p[3] = alpha;
      }
  };
  auto first = RasterBitmap::make(640, 400);
  ASSERT_TRUE(first);
  paint(*first, 280, 190);  // over the focused card
  paint(*first, 30, 300);   // painted, but not reported below: must not be drawn
  f->install(3, AppSettings::SwitcherStyle::row, 1);
  f->settle();
  f->renderer->setBackdrop(Float4{0, 0.1f, 0.3f, 0.6f});
  f->tickChanged();
  const GpuPixels bare = f->surface->readLastFrame();
  ASSERT_TRUE(f->renderer->setOverlayChrome(*first));  // the whole bitmap: one full-screen quad
  f->tickChanged();
  const GpuPixels whole = f->surface->readLastFrame();
  ASSERT_EQ(whole.width, 640u);

  const RasterRegion capsule{278, 188, 94, 34};
  RasterRegions painted(640, 400);
  painted.add(capsule);
  ASSERT_TRUE(f->renderer->setOverlayChrome(*first, painted));
  f->tickChanged();
  GpuPixels shown = f->surface->readLastFrame();
  auto expectOnly = [&](const GpuPixels& pixels, const std::vector<RasterRegion>& inside, const GpuPixels& chromed,
                        const char* what) {
    int wrongInside = 0, wrongOutside = 0;
    for (uint32_t y = 0; y < 400; ++y)
      for (uint32_t x = 0; x < 640; ++x) {
        const bool in = std::any_of(inside.begin(), inside.end(), [&](const RasterRegion& r) {
          return r.contains(static_cast<int>(x), static_cast<int>(y));
        });
        const size_t i = (static_cast<size_t>(y) * 640 + x) * 4;
        const bool same = in ? pixels.bytes.compare(i, 4, chromed.bytes, i, 4) == 0
                             : pixels.bytes.compare(i, 4, bare.bytes, i, 4) == 0;
        if (!same) {
          if (in && wrongInside < 8)
            ADD_FAILURE() << x << "," << y << " " << int(pixels.at(x, y).r) << "/" << int(pixels.at(x, y).a) << " vs "
                          << int(chromed.at(x, y).r) << "/" << int(chromed.at(x, y).a);
          ++(in ? wrongInside : wrongOutside);
        }
      }
    EXPECT_EQ(wrongInside, 0) << what << ": pixels inside the rectangles unlike the full-screen chrome";
    EXPECT_EQ(wrongOutside, 0) << what << ": pixels outside the rectangles unlike the frame without chrome";
  };
  expectOnly(shown, {capsule}, whole, "first bitmap");
  EXPECT_NE(whole.at(40, 310).a, bare.at(40, 310).a) << "the unreported patch does show with the whole bitmap";

  // A second and a third bitmap, each with the capsule elsewhere: the places shown before show the
  // cards and backdrop again, though the textures still hold the older capsules there.
  for (const auto& [x0, y0] : {std::pair{40, 40}, std::pair{400, 60}}) {
    auto next = RasterBitmap::make(640, 400);
    ASSERT_TRUE(next);
    paint(*next, x0, y0);
    ASSERT_TRUE(f->renderer->setOverlayChrome(*next));
    f->tickChanged();
    const GpuPixels nextWhole = f->surface->readLastFrame();
    RasterRegions moved(640, 400);
    moved.add({x0, y0, 90, 30});
    ASSERT_TRUE(f->renderer->setOverlayChrome(*next, moved));
    f->tickChanged();
    shown = f->surface->readLastFrame();
    expectOnly(shown, moved.rects(), nextWhole, "a later bitmap");
  }

  // Nothing painted: nothing drawn.
  ASSERT_TRUE(f->renderer->setOverlayChrome(*first, RasterRegions(640, 400)));
  EXPECT_FALSE(f->renderer->overlayChrome());
  f->tickChanged();
  EXPECT_EQ(f->surface->readLastFrame().bytes, bare.bytes);
}

TEST_F(CardPixelTest, PicturesKeepTheirMipLevelAlongTheQuadsEdgesAndDiagonal) {
  // Pictures whose level 0 is red and every smaller level blue: drawn larger than the picture,
  // every pixel of a card must come from level 0. Picking the level from neighbours a driver does
  // not shade inside a branch turned the triangles' shared diagonal and outer edges blue.
  for (uint32_t id = 1; id <= 3; ++id) {
    auto texture = vk.device->makeTexture({64, 40, GpuTextureDescriptor::fullMipCount(64, 40), false, "Quorvel mips"});
    ASSERT_TRUE(texture);
    for (uint32_t level = 0; level < texture->mipLevelCount(); ++level) {
      const uint32_t w = std::max(64u >> level, 1u), h = std::max(40u >> level, 1u);
      const std::string bytes = level == 0 ? solid(w, h, 230, 20, 20) : solid(w, h, 20, 20, 230);
      ASSERT_TRUE(texture->replaceLevel(level, bytes.data(), w * 4));
    }
    f->pictures[id] = texture;
  }
  f->store.set("floorReflections", false);
  f->install(3, AppSettings::SwitcherStyle::row, 1);
  f->settle();
  f->tickChanged();
  const GpuPixels pixels = f->surface->readLastFrame();
  ASSERT_EQ(pixels.width, 640u);
  int red = 0, blue = 0;
  for (uint32_t y = 0; y < pixels.height; ++y)
    for (uint32_t x = 0; x < pixels.width; ++x) {
      const GpuPixels::Texel t = pixels.at(x, y);
      if (t.r > t.b + 60) ++red;
      if (t.b > t.r + 60) ++blue;
    }
  EXPECT_GT(red, 5000) << "the cards show level 0";
  EXPECT_EQ(blue, 0) << "no pixel from a smaller level";
}

// The selected card's picture changes while nothing else does (a live picture): once every drawable
// of the ring has caught up, a frame is drawn only over the card's rectangle (and its reflection's),
// and it is the same, byte for byte, as the whole frame; a wake that changes nothing draws nothing.
TEST_F(CardPixelTest, AFrameDrawnOnlyWhereThePictureChangedIsTheWholeFramePixelForPixel) {
  // Over the backdrop colour, and over the desktop's still (which frames then copy in, once it has
  // stayed the same for two frames, rather than draw).
  DesktopStill still{160, 100, {}};
  for (uint32_t i = 0; i < 160u * 100; ++i) still.pixels.push_back(0xff000000u | (i % 160) << 16 | (i / 160) << 1);
  for (const bool withStill : {false, true}) {
    SCOPED_TRACE(withStill ? "over the still" : "over the colour");
    f->renderer->setRedrawsOnlyChanges(true);
    f->renderer->setBackdrop(Float4{0, 0, 0.4f, 0.5f});
    ASSERT_TRUE(f->renderer->setBackdropPicture(withStill ? &still : nullptr));
    f->renderer->setBackdropPictureLook(1, 0.78f);
    f->install(3, AppSettings::SwitcherStyle::row, 1);
    f->settle();
    const uint8_t shades[4][3] = {{200, 40, 40}, {40, 200, 200}, {120, 120, 30}, {30, 60, 220}};
    for (const auto& c : shades) {
      auto texture = f->texture(64, 40, "Quorvel live picture");
      const std::string bytes = solid(64, 40, c[0], c[1], c[2]);
      ASSERT_TRUE(texture->replaceLevel(0, bytes.data(), 64 * 4));
      f->pictures[2] = texture;
      f->tickChanged();
    }
    const std::optional<GpuRegion> area = f->renderer->lastDrawnArea();
    ASSERT_TRUE(area) << "drawn only where the picture changed";
    EXPECT_LT(area->width * area->height, 640u * 400 / 2);
    EXPECT_TRUE(area->x > 0 || area->x + area->width < 640) << "not the whole width";
    EXPECT_EQ(f->renderer->backdropStill() != nullptr, withStill);
    const GpuPixels partial = f->surface->readLastFrame();

    const uint64_t presented = f->surface->presentedCount();
    f->tickChanged();
    EXPECT_EQ(f->surface->presentedCount(), presented) << "nothing changed: no frame";

    // The reference: every draw made whole, into the whole target.
    f->renderer->setRedrawsOnlyChanges(false);
    f->renderer->setDrawsOpaqueInteriors(false);
    f->tickChanged();
    f->renderer->setDrawsOpaqueInteriors(true);
    EXPECT_FALSE(f->renderer->lastDrawnArea()) << "drawn whole";
    const GpuPixels whole = f->surface->readLastFrame();
    ASSERT_EQ(partial.width, whole.width);
    EXPECT_TRUE(partial.bytes == whole.bytes) << "a frame drawn over the changed rectangle is the whole frame";
    EXPECT_GT(whole.at(320, 200).b, 200) << "the last picture shows";
  }
}

// Two chrome bitmaps between frames put the second into the very texture the last frame drew:
// the next frame still sees that it changed.
TEST_F(CardPixelTest, ChromeRefilledBetweenTwoFramesIsDrawnAnew) {
  f->install(3, AppSettings::SwitcherStyle::row, 1);
  f->settle();
  auto chrome = [](uint8_t level) {
    auto b = RasterBitmap::make(640, 400);
    for (int y = 20; y < 40; ++y)
      for (int x = 20; x < 60; ++x) {
        uint8_t* p = b->data() + static_cast<size_t>(y) * b->bytesPerRow() + static_cast<size_t>(x) * 4;
        p[0] = p[1] = p[2] = level;
        p[3] = 255;
      }
    return *b;
  };
  const RasterRegions painted = RasterRegions::whole(640, 400);
  ASSERT_TRUE(f->renderer->setOverlayChrome(chrome(200), painted));
  f->tickChanged();
  ASSERT_TRUE(f->renderer->setOverlayChrome(chrome(100), painted));
  ASSERT_TRUE(f->renderer->setOverlayChrome(chrome(50), painted));  // back into the first texture
  f->tickChanged();
  EXPECT_EQ(f->surface->readLastFrame().at(30, 30).r, 50);
}

// Opaque cards draw their interior through the pipeline without blending and only their rim
// blended: the frame must not change by a single byte.
class OpaqueCardPixelTest : public CardPixelTest {
 protected:
  // Installs cards 1..n on their windows' rectangles for a summon's fly-in, in the cover arc.
  void installFlyIn(const std::vector<ViewportRect>& rects) {
    f->mutate([&](SceneState::Storage& s) {
      SceneState::applyStyle(s, OrbitCamera::FocusMode::clamp, false,
                             LayoutFactory::makeLayout(AppSettings::SwitcherStyle::coverArc, 1.0f), 0.92);
    });
    f->installOnWindows(rects);
  }
  // The scene `prepare` sets up, drawn as one frame with every card a single blended quad and
  // then, without the scene moving on, with opaque interiors (the default).
  std::pair<GpuPixels, GpuPixels> frames(const std::function<void()>& prepare) {
    prepare();
    f->renderer->setDrawsOpaqueInteriors(false);
    f->tickChanged();
    const GpuPixels single = f->surface->readLastFrame();
    f->renderer->setDrawsOpaqueInteriors(true);
    f->wake.bump();
    f->tick(f->now);  // no time passes
    return {single, f->surface->readLastFrame()};
  }
  // The number of bytes that differ between two frames of the same size.
  static size_t differences(const GpuPixels& a, const GpuPixels& b) {
    EXPECT_EQ(a.width, b.width);
    EXPECT_EQ(a.height, b.height);
    if (a.bytes.size() != b.bytes.size()) return SIZE_MAX;
    size_t n = 0;
    for (size_t i = 0; i < a.bytes.size(); ++i) n += a.bytes[i] != b.bytes[i];
    return n;
  }
  void SetUp() override {
    CardPixelTest::SetUp();
    // Card 2's picture is square (another aspect than its card's), card 3 has none (the plain card).
    auto square = f->texture(64, 64, "Quorvel square picture");
    const std::string bytes = solid(64, 64, 20, 230, 20);
    ASSERT_TRUE(square->replaceLevel(0, bytes.data(), 64 * 4));
    f->pictures[2] = square;
    f->pictures.erase(3);
    auto fourth = f->texture(64, 40, "Quorvel fourth picture");
    const std::string yellow = solid(64, 40, 220, 220, 30);
    ASSERT_TRUE(fourth->replaceLevel(0, yellow.data(), 64 * 4));
    f->pictures[4] = fourth;
    // Card 5: a busy opaque picture with a different noise in every mip level, so that a sample
    // taken at another coordinate or level than the blended draw's would show.
    auto busy = vk.device->makeTexture({256, 160, GpuTextureDescriptor::fullMipCount(256, 160), false, "Quorvel noise"});
    ASSERT_TRUE(busy);
    uint32_t seed = 12345;
    for (uint32_t level = 0; level < busy->mipLevelCount(); ++level) {
      const uint32_t w = std::max(256u >> level, 1u), h = std::max(160u >> level, 1u);
      std::string noise(static_cast<size_t>(w) * h * 4, '\0');
      for (size_t i = 0; i < noise.size(); ++i) {
        seed = seed * 1664525u + 1013904223u;
        noise[i] = static_cast<char>(i % 4 == 3 ? 255 : seed >> 24);
      }
      ASSERT_TRUE(busy->replaceLevel(level, noise.data(), w * 4));
    }
    f->pictures[5] = busy;
    f->opaquePictures = {1, 2, 4, 5};
    f->renderer->setBackdrop(Float4{0, 0, 0.4f, 0.5f});
  }
};

TEST_F(OpaqueCardPixelTest, ScreenAlignedCardsOnTheirWindowsArePixelForPixelTheSame) {
  // Overlapping windows, as a summon's first frame shows them: every card at full size and opacity.
  const std::vector<ViewportRect> rects = {{{0.05f, 0.1f}, {0.5f, 0.45f}},
                                           {{0.3f, 0.3f}, {0.45f, 0.5f}},
                                           {{0.5f, 0.05f}, {0.4f, 0.4f}},
                                           {{0.2f, 0.5f}, {0.55f, 0.42f}},
                                           {{0.62f, 0.55f}, {0.3f, 0.3f}}};
  auto prepare = [&] { installFlyIn(rects); };
  const auto [single, split] = frames(prepare);
  ASSERT_EQ(single.width, 640u);
  EXPECT_EQ(differences(single, split), 0u);

  // Where two windows overlap the nearer card covers the other fully: its own colour, opaque.
  const std::vector<int> order = f->renderer->drawOrder();
  ASSERT_EQ(order.size(), 5u);
  int card1 = -1, card4 = -1;
  for (size_t k = 0; k < order.size(); ++k) {
    if (order[k] == 0) card1 = static_cast<int>(k);
    if (order[k] == 3) card4 = static_cast<int>(k);
  }
  ASSERT_GE(card1, 0);
  ASSERT_GE(card4, 0);
  // Windows 1 and 4 overlap around (0.4, 0.52) of the overlay, clear of windows 2 and 3's corner.
  const GpuPixels::Texel t = split.at(static_cast<uint32_t>(0.25f * 640), static_cast<uint32_t>(0.53f * 400));
  EXPECT_EQ(t.a, 255);
  EXPECT_GT(t.r, 200);
  EXPECT_LT(t.b, 60) << "no backdrop blue: the cards cover it";
  if (card4 > card1) EXPECT_GT(t.g, 200) << "the yellow card in front";
  else EXPECT_LT(t.g, 60) << "the red card in front";
}

TEST_F(OpaqueCardPixelTest, WindowsStackedOnTheSameRectanglesArePixelForPixelTheSame) {
  // As a window manager's placement leaves many windows: on one rectangle, a pixel or two apart,
  // sharing an edge, and one hidden whole but for its rim; the earlier cards are cut to what the
  // later interiors leave of them.
  const std::vector<ViewportRect> rects = {{{0.1f, 0.1f}, {0.5f, 0.5f}},
                                           {{0.1f, 0.1f}, {0.5f, 0.5f}},
                                           {{0.102f, 0.1f}, {0.5f, 0.5f}},
                                           {{0.6f, 0.1f}, {0.35f, 0.5f}},
                                           {{0.3f, 0.35f}, {0.5f, 0.5f}}};
  auto prepare = [&] { installFlyIn(rects); };
  const auto [single, split] = frames(prepare);
  ASSERT_EQ(single.width, 640u);
  EXPECT_EQ(differences(single, split), 0u);
}

TEST_F(OpaqueCardPixelTest, MagnifiedPicturesSampledAtLevelZeroArePixelForPixelTheSame) {
  // The noise picture (256 x 160, another noise in every level) on windows larger than it, so its
  // interior samples level 0 alone: one at over twice its size, one just above its size.
  f->pictures[1] = f->pictures[5];
  f->opaquePictures.insert(1);
  const std::vector<ViewportRect> rects = {{{0.05f, 0.05f}, {0.41f, 0.41f}},
                                           {{0.5f, 0.05f}, {0.3f, 0.3f}},
                                           {{0.7f, 0.7f}, {0.2f, 0.2f}},
                                           {{0.1f, 0.6f}, {0.2f, 0.3f}},
                                           {{0.2f, 0.2f}, {0.78f, 0.78f}}};
  auto prepare = [&] { installFlyIn(rects); };
  const auto [single, split] = frames(prepare);
  ASSERT_EQ(single.width, 640u);
  EXPECT_EQ(differences(single, split), 0u);
}

TEST_F(OpaqueCardPixelTest, TurnedCardsOfAnArcArePixelForPixelTheSame) {
  f->pictures[6] = f->pictures[5];
  f->opaquePictures.insert(6);
  auto prepare = [&] {
    f->install(6, AppSettings::SwitcherStyle::coverArc, 2);
    f->settle();
  };
  const auto [single, split] = frames(prepare);
  EXPECT_EQ(differences(single, split), 0u);
}

TEST_F(OpaqueCardPixelTest, APictureWithTranslucentTexelsLetsTheBackdropThrough) {
  // Half-covering texels (premultiplied): the card shows the backdrop through, opaque interiors or
  // not, since such a picture is never handed out as opaque.
  auto glass = f->texture(64, 40, "Quorvel translucent picture");
  std::string bytes = solid(64, 40, 100, 0, 0);
  for (size_t i = 3; i < bytes.size(); i += 4) bytes[i] = static_cast<char>(128);
  ASSERT_TRUE(glass->replaceLevel(0, bytes.data(), 64 * 4));
  f->pictures[1] = glass;
  f->opaquePictures.erase(1);
  const std::vector<ViewportRect> rects = {{{0.3f, 0.3f}, {0.4f, 0.4f}}};
  auto prepare = [&] { installFlyIn(rects); };
  const auto [single, split] = frames(prepare);
  EXPECT_EQ(differences(single, split), 0u);
  const GpuPixels::Texel t = split.at(320, 200);
  EXPECT_NEAR(t.r, 103, 4);
  EXPECT_NEAR(t.b, 51, 3) << "the backdrop's blue through the picture";
  EXPECT_NEAR(t.a, 192, 3);
}

}  // namespace
}  // namespace quorvel
