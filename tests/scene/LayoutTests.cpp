#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "base/DefaultsStore.h"
#include "scene/CoverArcLayout.h"
#include "scene/CylinderLayout.h"
#include "scene/ExpoLayout.h"
#include "scene/FlatRingLayout.h"
#include "scene/Flip3DLayout.h"
#include "scene/LayoutBlend.h"
#include "scene/LayoutFactory.h"
#include "scene/RingLayout.h"
#include "scene/RowLayout.h"
#include "settings/AppSettings.h"

namespace quorvel {
namespace {

constexpr float kTol = 1e-4f;
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

void expectNear(Float3 a, Float3 b, float tol = kTol) {
  EXPECT_NEAR(a.x, b.x, tol);
  EXPECT_NEAR(a.y, b.y, tol);
  EXPECT_NEAR(a.z, b.z, tol);
}

bool finitePose(const CardPose& p) {
  return std::isfinite(p.position.x) && std::isfinite(p.position.y) && std::isfinite(p.position.z) &&
         std::isfinite(p.yaw) && std::isfinite(p.pitch) && std::isfinite(p.size.x) && std::isfinite(p.size.y) &&
         p.size.x > 0 && p.size.y > 0;
}

TEST(CardSizeRule, ClampsAndDefaults) {
  EXPECT_EQ(CardPose::cardSize(0, 1), (Float2{1.6f, 1}));
  EXPECT_EQ(CardPose::cardSize(-2, 1), (Float2{1.6f, 1}));
  EXPECT_EQ(CardPose::cardSize(kInf, 1), (Float2{1.6f, 1}));
  EXPECT_EQ(CardPose::cardSize(kNaN, 1), (Float2{1.6f, 1}));
  EXPECT_EQ(CardPose::cardSize(1.6f, 0), (Float2{1.6f, 1}));
  EXPECT_EQ(CardPose::cardSize(1.6f, kNaN), (Float2{1.6f, 1}));
  EXPECT_EQ(CardPose::cardSize(5, 1), (Float2{2, 1}));
  EXPECT_EQ(CardPose::cardSize(1, 0.2f), (Float2{0.5f, 0.5f}));
  // A positive subnormal is valid and clamps.
  EXPECT_EQ(CardPose::cardSize(1e-40f, 1e-40f), (Float2{0.35f * 0.5f, 0.5f}));
}

TEST(CardPose, BlendIsUnclampedAndModelMatrixTurnsAxes) {
  CardPose a, b;
  a.position = {0, 0, 4};
  b.position = {0, 2, 2};
  b.yaw = 1;
  EXPECT_EQ(CardPose::blend(a, b, 0.5f).position, (Float3{0, 1, 3}));
  EXPECT_FLOAT_EQ(CardPose::blend(a, b, 2).yaw, 2);

  CardPose turned;
  turned.yaw = 0.5f;
  turned.pitch = 0.3f;
  turned.size = {2, 1};
  turned.position = {1, 2, 3};
  const Float4x4 m = turned.modelMatrix();
  const Float4 x = m * Float4{0.5f, 0, 0, 1};  // right edge centre
  expectNear({x.x, x.y, x.z}, Float3{1 + std::cos(0.5f), 2, 3 - std::sin(0.5f)});
  const Float4 y = m * Float4{0, 0.5f, 0, 0};  // half the up axis
  expectNear({y.x, y.y, y.z},
             Float3{std::sin(0.5f) * std::sin(0.3f), std::cos(0.3f), std::cos(0.5f) * std::sin(0.3f)} * 0.5f);
}

TEST(CoverArc, OneCardAndFarCards) {
  CoverArcLayout arc(1.0f);
  const auto camera = arc.camera(1, 1, 0);
  expectNear(camera.eye, {0, 0.35f, 1.88f});
  expectNear(camera.target, {0, -0.15f, 0});
  const CardPose centre = arc.pose(0, 1, 1, 1.6f, 1, 0);
  expectNear(centre.position, {0, 0, 0});
  EXPECT_EQ(centre.yaw, 0);
  const float halfArc = std::min(2.4f, 3.1415925f) * 0.5f;
  for (int d : {30, -30, 300}) {
    const CardPose far = arc.pose(d, 400, 400, 1.6f, 1, 0);
    EXPECT_LE(std::fabs(far.yaw), 0.7f);
    EXPECT_NEAR(std::fabs(std::asin(far.position.x / 2.2f)), halfArc, 0.02f);
  }
  EXPECT_FLOAT_EQ(arc.shade(0, 5, 5, 0), 1.0f);
  EXPECT_FLOAT_EQ(arc.shade(20, 50, 50, 0), 0.44f);  // 1 − 0.07 × 8
  EXPECT_FLOAT_EQ(CoverArcLayout(1.0f).shade(1, 5, 5, 0.0), std::min(0.93f, 0.5f + 0.5f * std::cos(1.2f * std::tanh(0.38f / 1.2f))));
  EXPECT_EQ(arc.drawPlaces(), 13.0f);
  EXPECT_EQ(CoverArcLayout(2.0f).chromePlaces(), 16.0f);
}

TEST(CoverArc, FitStaysWithinItsBoundsAndWidensForPiles) {
  CoverArcLayout arc(1.0f);
  EXPECT_EQ(arc.fitFactor(1, 0), 1.0f);
  for (int n : {2, 3, 7, 20, 300}) {
    const float d = arc.fitFactor(n, 0);
    EXPECT_GE(d, 1.0f);
    EXPECT_LE(d, 1.6f);
    EXPECT_GE(arc.fitFactor(n, 0.5f), d);
  }
  EXPECT_GT(arc.fitFactor(4, 0.5f), arc.fitFactor(4, 0));
  EXPECT_EQ(CoverArcLayout(2.0f).fitFactor(3, 3), 1.6f);
  // Far places are sampled only every (n − 1) / 24 places, and lie deep enough to need no room.
  EXPECT_EQ(CoverArcLayout(2.0f).fitFactor(300, 0), 1.0f);
}

TEST(TangentRing, MinimumRadiusAndAngles) {
  RingLayout ring(1.0f);
  EXPECT_FLOAT_EQ(ring.radius(3), 2.2f);
  const CardPose right = ring.pose(1, 3, 3, 1.6f, 1, 0);
  EXPECT_NEAR(right.yaw, 2.094395f, 1e-4f);
  expectNear(right.position, {2.2f * std::sin(2.094395f), 0, 2.2f * std::cos(2.094395f)});
  // Wrap-around: the place one lap away stands where the place itself does.
  expectNear(ring.pose(0, 3, 3, 1.6f, 1, 3.0).position, ring.pose(0, 3, 3, 1.6f, 1, 0).position);
  EXPECT_NEAR(ring.shade(1, 2, 2, 0), 0.0f, 1e-6f);
  const float big = ring.radius(40);
  EXPECT_NEAR(big, 40 * 1.5f * 1.15f / 6.283185f, 1e-4f);
  EXPECT_EQ(ring.camera(40, 40, 0).eye, (Float3{0, 0.4f, big + 1.95f}));
}

TEST(FlatRing, RadiusCapsAtFourteenPlacesButSpreadsOverAll) {
  FlatRingLayout flat(1.0f);
  EXPECT_FLOAT_EQ(flat.radius(2), 2.1963382f);
  EXPECT_FLOAT_EQ(flat.radius(40), flat.radius(14));
  const CardPose p = flat.pose(10, 40, 40, 1.6f, 1, 0);
  const float phi = 10 * 6.283185f / 40;
  expectNear(p.position, {flat.radius(40) * std::sin(phi), 0, flat.radius(40) * std::cos(phi)});
  EXPECT_FLOAT_EQ(p.pitch, -0.52359873f);
  EXPECT_EQ(p.yaw, 0);
  const auto cam = flat.camera(8, 8, 0);
  const float r = flat.radius(8);
  EXPECT_NEAR(length(cam.eye), 2.5f * r, 1e-3f);
  EXPECT_GT(length(flat.camera(8, 8, 1).eye), length(cam.eye));
}

TEST(Flip3D, BeforeAndBehindTheFocus) {
  Flip3DLayout flip(1.0f);
  expectNear(flip.pose(0, 5, 5, 1.6f, 1, 1).position, Float3{-1.4f, -0.3f, 0.6f} * (1.6f * std::tanh(0.625f)));
  EXPECT_EQ(flip.shade(0, 5, 5, 1), 0.0f);
  EXPECT_FLOAT_EQ(flip.shade(8, 20, 20, 0), 0.3f);
  EXPECT_FLOAT_EQ(flip.shade(12, 20, 20, 0), 0.3f);
  EXPECT_TRUE(flip.flipsCards());
  EXPECT_FLOAT_EQ(flip.pose(3, 5, 5, 1.6f, 1, 0).yaw, -0.22f);
  EXPECT_EQ(*Flip3DLayout(1.2f).drawPlaces(), 1.2f * 14);
}

TEST(Cylinder, RowsAndWallArrows) {
  CylinderLayout wall(CylinderLayout::Arrows::wall, 1.0f);
  EXPECT_EQ(wall.neighbour(5, 7, LayoutEngine::right, 7), std::nullopt);
  EXPECT_EQ(wall.neighbour(5, 7, LayoutEngine::up, 7), 6);
  EXPECT_EQ(wall.neighbour(5, 7, LayoutEngine::down, 7), std::nullopt);
  EXPECT_EQ(wall.neighbour(6, 8, LayoutEngine::right, 8), 8);
  EXPECT_EQ(wall.neighbour(0, 8, LayoutEngine::left, 8), -2);
  EXPECT_EQ(wall.neighbour(4, 8, LayoutEngine::down, 8), 5);
  // Too few cards: the default rule.
  EXPECT_EQ(wall.neighbour(2, 5, LayoutEngine::right, 5), 3);
  EXPECT_EQ(wall.neighbour(2, 5, LayoutEngine::up, 5), std::nullopt);
  CylinderLayout order(CylinderLayout::Arrows::order, 1.0f);
  EXPECT_EQ(order.neighbour(5, 8, LayoutEngine::right, 8), 6);

  // Two places and seven cards: two rows; one place: one row at 0.05.
  EXPECT_FLOAT_EQ(wall.pose(0, 2, 7, 1.6f, 1, 0).position.y, 0.63f);
  EXPECT_FLOAT_EQ(wall.pose(1, 2, 7, 1.6f, 1, 1).position.y, -0.53f);
  const CardPose single = wall.pose(0, 1, 7, 1.6f, 1, 0);
  EXPECT_FLOAT_EQ(single.position.y, 0.05f);
  expectNear(single.position, {0, 0.05f, -2.5f});
  // Wrap-around: the offset is taken the short way round the cylinder.
  const CardPose last = wall.pose(9, 10, 10, 1.6f, 1, 0);
  const CardPose before = wall.pose(-1, 10, 10, 1.6f, 1, 0);
  expectNear(last.position, before.position);
  EXPECT_LT(last.position.x, 0);
  EXPECT_EQ(wall.camera(2, 7, 0).target, (Float3{0, -0.05f, -3.05f}));
  EXPECT_EQ(wall.camera(1, 7, 0).target, (Float3{0, -0.05f, -2.5f}));
  EXPECT_NEAR(wall.shade(0, 5, 5, 0), 1.0f, 1e-5f);
}

TEST(Expo, GridShapeAndNeighbours) {
  ExpoLayout rows(AppSettings::GridOrder::rows, 1.0f);
  EXPECT_EQ(rows.grid(5), (ExpoLayout::Grid{3, 2}));
  EXPECT_EQ(rows.grid(1), (ExpoLayout::Grid{1, 1}));
  EXPECT_EQ(rows.grid(0), (ExpoLayout::Grid{1, 1}));
  EXPECT_EQ(rows.neighbour(2, 5, LayoutEngine::right, 5), std::nullopt);
  EXPECT_EQ(rows.neighbour(2, 5, LayoutEngine::down, 5), std::nullopt);
  EXPECT_EQ(rows.neighbour(1, 5, LayoutEngine::down, 5), 4);
  EXPECT_EQ(rows.neighbour(0, 5, LayoutEngine::left, 5), std::nullopt);
  EXPECT_EQ(rows.neighbour(0, 0, LayoutEngine::right, 0), std::nullopt);

  ExpoLayout snake(AppSettings::GridOrder::snake, 1.0f);
  // Row 1 runs right to left: place 3 sits under place 2.
  EXPECT_EQ(snake.gridPoint(3, snake.grid(6)).x, snake.gridPoint(2, snake.grid(6)).x);
  EXPECT_EQ(snake.neighbour(2, 6, LayoutEngine::down, 6), 3);
  EXPECT_EQ(snake.neighbour(3, 6, LayoutEngine::right, 6), std::nullopt);
  EXPECT_EQ(snake.neighbour(3, 6, LayoutEngine::left, 6), 4);

  // The focused card lifts off the plane and grows by 6 %.
  const CardPose focused = rows.pose(1, 5, 5, 1.6f, 1, 1);
  const CardPose other = rows.pose(0, 5, 5, 1.6f, 1, 1);
  EXPECT_NEAR(focused.size.y, 1.06f, 1e-4f);
  EXPECT_NEAR(other.size.y, 1.0f, 1e-6f);
  EXPECT_GE(length(rows.camera(5, 5, 0).eye), 1.0f);
  EXPECT_GT(length(rows.camera(5, 5, 2).eye), length(rows.camera(5, 5, 0).eye));
}

TEST(Row, CameraShareOfTheView) {
  RowLayout row(1.0f);
  EXPECT_NEAR(row.camera(1, 1, 0).eye.z, 1 / (2 * 0.556f * 0.4663076f), 1e-4f);
  EXPECT_NEAR(row.camera(2, 2, 0).eye.z, 1 / (2 * 0.528f * 0.4663076f), 1e-4f);
  EXPECT_NEAR(row.camera(9, 9, 0).eye.z, 1 / (2 * 0.5f * 0.4663076f), 1e-4f);
  EXPECT_NEAR(row.pose(2, 5, 5, 1.6f, 1, 0).position.x, 2 * 1.9f, 1e-5f);
  EXPECT_EQ(row.drawPlaces(), 4.0f);
}

TEST(Arrangements, NoNaNForZeroSpacingEmptyScenesOrZeroSizedCards) {
  for (float spacing : {0.0f, -1.0f, kNaN, kInf}) {
    for (auto style : AppSettings::allCases<AppSettings::SwitcherStyle>()) {
      const LayoutRef layout = LayoutFactory::makeLayout(style, spacing);
      for (int count : {0, 1, 2, 7}) {
        SCOPED_TRACE(std::string(AppSettings::rawValue(style)) + " count " + std::to_string(count));
        EXPECT_TRUE(finitePose(layout->pose(0, count, count, 0, 0, 0)));
        EXPECT_TRUE(finitePose(layout->pose(count, count, count, kNaN, -1, 0.5)));
        const auto cam = layout->camera(count, count, 0);
        EXPECT_TRUE(std::isfinite(cam.eye.x + cam.eye.y + cam.eye.z + cam.target.x + cam.target.y + cam.target.z));
        EXPECT_TRUE(std::isfinite(layout->shade(0, count, count, 0)));
        LayoutBlend blend(layout);
        EXPECT_TRUE(std::isfinite(blend.focusDepth(count, count, 0)));
      }
    }
  }
}

TEST(LayoutFactory, ReadsSpacingGridOrderAndArrows) {
  DefaultsStore store;
  AppSettings settings(store);
  settings.registerDefaults();
  store.set("cardSpacingCoverArc", 5.0);
  store.set("cardSpacingExpo", 0.0);
  store.set("gridOrder", "snake");
  store.set("panoramaArrows", "wall");
  const auto arc = std::dynamic_pointer_cast<const CoverArcLayout>(
      LayoutFactory::makeLayout(AppSettings::SwitcherStyle::coverArc, settings));
  ASSERT_TRUE(arc);
  EXPECT_FLOAT_EQ(arc->spacing(), 2.0f);
  const auto expo =
      std::dynamic_pointer_cast<const ExpoLayout>(LayoutFactory::makeLayout(AppSettings::SwitcherStyle::expo, settings));
  ASSERT_TRUE(expo);
  EXPECT_FLOAT_EQ(expo->spacing(), 1.0f);
  EXPECT_EQ(expo->order(), AppSettings::GridOrder::snake);
  const auto cylinder = std::dynamic_pointer_cast<const CylinderLayout>(
      LayoutFactory::makeLayout(AppSettings::SwitcherStyle::cylinder, settings));
  ASSERT_TRUE(cylinder);
  EXPECT_EQ(cylinder->arrows(), CylinderLayout::Arrows::wall);
  store.set("panoramaArrows", "sideways");
  EXPECT_EQ(std::dynamic_pointer_cast<const CylinderLayout>(
                LayoutFactory::makeLayout(AppSettings::SwitcherStyle::cylinder, settings))
                ->arrows(),
            CylinderLayout::Arrows::order);
  for (auto style : AppSettings::allCases<AppSettings::SwitcherStyle>()) {
    EXPECT_EQ(LayoutFactory::makeLayout(style, settings)->style(), style);
  }
}

TEST(LayoutFactory, EverySpacingIsClampedToItsStylesRange) {
  DefaultsStore store;
  AppSettings settings(store);
  settings.registerDefaults();
  struct Range {
    AppSettings::SwitcherStyle style;
    float least, greatest;
  };
  const Range ranges[] = {{AppSettings::SwitcherStyle::coverArc, 0.8f, 2.0f},
                          {AppSettings::SwitcherStyle::tangentRing, 0.8f, 1.4f},
                          {AppSettings::SwitcherStyle::flatRing, 1.0f, 1.6f},
                          {AppSettings::SwitcherStyle::flip3d, 0.8f, 1.4f},
                          {AppSettings::SwitcherStyle::cylinder, 0.8f, 1.4f},
                          {AppSettings::SwitcherStyle::expo, 1.0f, 1.4f},
                          {AppSettings::SwitcherStyle::row, 1.0f, 1.4f}};
  // A spacing shows in the pose of a card a few places from the focus (and in the ring radius).
  auto sameLayout = [](const LayoutRef& a, const LayoutRef& b) {
    for (int index : {0, 3, 11}) {
      if (!(a->pose(index, 12, 12, 1.6f, 1, 0.4) == b->pose(index, 12, 12, 1.6f, 1, 0.4))) return false;
    }
    return a->camera(12, 12, 0) == b->camera(12, 12, 0);
  };
  for (const Range& r : ranges) {
    SCOPED_TRACE(std::string(AppSettings::rawValue(r.style)));
    const std::string key = AppSettings::cardSpacingKey(r.style);
    store.set(key, 0.01);
    EXPECT_TRUE(sameLayout(LayoutFactory::makeLayout(r.style, settings), LayoutFactory::makeLayout(r.style, r.least)));
    store.set(key, 50.0);
    EXPECT_TRUE(
        sameLayout(LayoutFactory::makeLayout(r.style, settings), LayoutFactory::makeLayout(r.style, r.greatest)));
    store.set(key, -1.0);  // not above 0: the spacing of 1.0
    EXPECT_TRUE(sameLayout(LayoutFactory::makeLayout(r.style, settings), LayoutFactory::makeLayout(r.style, 1.0f)));
  }
}

TEST(Arrangements, FirstAndLastCardsMirrorAboutTheFocus) {
  // The symmetric arrangements place the first card seen from the last as the last seen from the
  // first, mirrored left to right.
  for (auto style : {AppSettings::SwitcherStyle::coverArc, AppSettings::SwitcherStyle::row,
                     AppSettings::SwitcherStyle::tangentRing, AppSettings::SwitcherStyle::flatRing}) {
    SCOPED_TRACE(std::string(AppSettings::rawValue(style)));
    const LayoutRef layout = LayoutFactory::makeLayout(style, 1.0f);
    const CardPose last = layout->pose(6, 7, 7, 1.6f, 1, 0);
    const CardPose first = layout->pose(0, 7, 7, 1.6f, 1, 6);
    EXPECT_NEAR(last.position.x, -first.position.x, kTol);
    EXPECT_NEAR(last.position.z, first.position.z, kTol);
    EXPECT_NEAR(last.yaw, -first.yaw, kTol);
  }
  // Wrap-around on the ring: the last card seen from the first is its left neighbour.
  RingLayout ring(1.0f);
  expectNear(ring.pose(6, 7, 7, 1.6f, 1, 0).position, ring.pose(-1, 7, 7, 1.6f, 1, 0).position);
}

TEST(LayoutBlend, CrossFadesEveryAnswer) {
  auto ring = std::make_shared<RingLayout>(1.0f);
  auto cylinder = std::make_shared<CylinderLayout>(CylinderLayout::Arrows::order, 1.0f);
  auto arc = std::make_shared<CoverArcLayout>(1.0f);
  auto row = std::make_shared<RowLayout>(1.0f);

  LayoutBlend alone(arc);
  EXPECT_EQ(alone.pose(2, 5, 5, 1.6f, 1, 1), arc->pose(2, 5, 5, 1.6f, 1, 1));
  EXPECT_EQ(alone.floorY(), -0.55f);
  EXPECT_EQ(alone.drawPlaces(), 13.0f);

  LayoutBlend half(row, arc, 0.5f);
  const CardPose mid = half.pose(2, 5, 5, 1.6f, 1, 1);
  EXPECT_EQ(mid, CardPose::blend(arc->pose(2, 5, 5, 1.6f, 1, 1), row->pose(2, 5, 5, 1.6f, 1, 1), 0.5f));
  EXPECT_FLOAT_EQ(half.verticalShift(), -0.05f);
  EXPECT_EQ(half.drawPlaces(), std::nullopt);  // draw all while an outgoing arrangement exists
  EXPECT_EQ(half.floorY(), -0.55f);
  EXPECT_EQ(LayoutBlend(cylinder, arc, 0.5f).floorY(), std::nullopt);
  EXPECT_EQ(LayoutBlend(arc, cylinder, 0.5f).floorY(), std::nullopt);
  EXPECT_EQ(LayoutBlend(std::make_shared<FlatRingLayout>(1.0f), ring, 0.5f).floorY(),
            -0.55f + (-0.48301274f + 0.55f) * 0.5f);
  EXPECT_EQ(half.neighbour(0, 5, LayoutEngine::left, 5), -1);
  EXPECT_EQ(half.neighbour(0, 5, LayoutEngine::up, 5), std::nullopt);
  EXPECT_FLOAT_EQ(LayoutBlend(row, arc, 1.5f).pileWeight(), 1.0f);

  const auto camHalf = half.camera(5, 5, 0);
  const auto a = arc->camera(5, 5, 0), b = row->camera(5, 5, 0);
  expectNear(camHalf.eye, a.eye + (b.eye - a.eye) * 0.5f);

  // A null arrangement reads as the default ring; the place-aware answers use the piled place.
  EXPECT_EQ(LayoutBlend(nullptr).style(), AppSettings::SwitcherStyle::tangentRing);
  LayoutBlend::Slots slots{{4, 6, 4}, {1, 3, 1}};
  EXPECT_EQ(alone.poseFor(slots, 1.6f, 1), arc->pose(1, 3, 6, 1.6f, 1, 1));
  EXPECT_FLOAT_EQ(alone.shadeFor(slots), arc->shade(1, 3, 6, 1));
  EXPECT_EQ(alone.cameraFor(6, 3, 0.1f), arc->camera(3, 6, 0.1f));
}

TEST(LayoutBlend, FocusDepthIsTheDistanceToTheFocusedCardsPlane) {
  LayoutBlend row(std::make_shared<RowLayout>(1.0f));
  EXPECT_NEAR(row.focusDepth(1, 1, 0), 1 / (2 * 0.556f * 0.4663076f), 1e-4f);
  // Cylinder: eye at the centre, card 0 on the wall in front.
  LayoutBlend cylinder(std::make_shared<CylinderLayout>(CylinderLayout::Arrows::order, 1.0f));
  EXPECT_NEAR(cylinder.focusDepth(3, 3, 0), 2.5f, 0.01f);
}

}  // namespace
}  // namespace quorvel
