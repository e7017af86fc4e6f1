#include <gtest/gtest.h>

#include <cmath>

#include "scene/CardPicking.h"
#include "scene/CardPosePass.h"
#include "scene/RingLayout.h"
#include "scene/RowLayout.h"
#include "scene/SceneFixture.h"

namespace quorvel {
namespace {

using testing::SceneFixture;
using Style = AppSettings::SwitcherStyle;
using Mode = OrbitCamera::FocusMode;

constexpr float kW = 1600, kH = 1000;

MorphSample settledSample(int index, int count) {
  MorphSample s;
  s.from = s.to = CardSlot{index, count, 0};
  return s;
}

CameraRig rigFor(const LayoutBlend& layout, int cards) {
  return CameraRig::make(layout, {cards, cards, 0}, std::nullopt, 1, kW, kH);
}

// Where a world point lands in view points (y up).
Float2 project(const CameraRig& rig, Float3 p) {
  const Float4 clip = rig.viewProjection * Float4{p.x, p.y, p.z, 1};
  return {(clip.x / clip.w * 0.5f + 0.5f) * kW, (clip.y / clip.w * 0.5f + 0.5f) * kH};
}

TEST(CardPosePass, FocusWeightHighlightsTheFocusedCard) {
  const LayoutBlend row(std::make_shared<RowLayout>(1.0f));
  const CameraRig rig = rigFor(row, 5);
  const CardSnapshot card = SceneFixture::card(1, false);
  const auto atFocus = CardPosePass::cardPose(card, settledSample(2, 5), row, rig, {}, {}, 2, 1, 0);
  EXPECT_FLOAT_EQ(atFocus.highlight, 1);
  EXPECT_FLOAT_EQ(atFocus.pose.size.y, 1.025f);
  const auto halfWay = CardPosePass::cardPose(card, settledSample(2, 5), row, rig, {}, {}, 2.5, 1, 0);
  EXPECT_FLOAT_EQ(halfWay.highlight, 0.5f);
  // A ghost is never highlighted.
  MorphSample ghost = settledSample(2, 5);
  ghost.isGhost = true;
  EXPECT_EQ(CardPosePass::cardPose(card, ghost, row, rig, {}, {}, 2, 1, 0).highlight, 0);
  // With the pointer fully present only the pointed card grows.
  MorphSample pointed = settledSample(3, 5);
  pointed.pointerHighlight = 1;
  EXPECT_EQ(CardPosePass::cardPose(card, settledSample(2, 5), row, rig, {}, {}, 2, 1, 1).highlight, 0);
  EXPECT_EQ(CardPosePass::cardPose(card, pointed, row, rig, {}, {}, 2, 1, 1).highlight, 1);
  // Wrap-around: the last card is one place from a focus on the first.
  EXPECT_FLOAT_EQ(CardPosePass::focusWeight({4, 5, -0.5}, std::nullopt), 0.5f);
  EXPECT_EQ(CardPosePass::focusWeight({0, 0, 0}, std::nullopt), 0);
}

TEST(CardPosePass, AtProgressZeroACardCoversItsWindow) {
  const LayoutBlend ring(std::make_shared<RingLayout>(1.0f));
  const CameraRig rig = rigFor(ring, 6);
  CardSnapshot card = SceneFixture::card(1, false);
  card.windowRect = {{0.25f, 0.1f}, {0.5f, 0.4f}};
  MorphSample sample = settledSample(3, 6);
  sample.progress = 0;
  const CardPose pose = CardPosePass::cardPose(card, sample, ring, rig, {}, {}, 0, 1, 0).pose;
  const Float4x4 model = pose.modelMatrix();
  const Float4 topLeft = model * Float4{-0.5f, 0.5f, 0, 1};
  const Float4 bottomRight = model * Float4{0.5f, -0.5f, 0, 1};
  const Float2 a = project(rig, {topLeft.x, topLeft.y, topLeft.z});
  const Float2 b = project(rig, {bottomRight.x, bottomRight.y, bottomRight.z});
  EXPECT_NEAR(a.x, 0.25f * kW, 0.5f);
  EXPECT_NEAR(a.y, (1 - 0.1f) * kH, 0.5f);
  EXPECT_NEAR(b.x, 0.75f * kW, 0.5f);
  EXPECT_NEAR(b.y, (1 - 0.5f) * kH, 0.5f);

  // The full viewport: centred on the view axis at the focus depth.
  const CardPose full = rig.poseForScreenRect({{0, 0}, {1, 1}});
  const Float3 centre = rig.eye - rig.back * rig.focusDepth;
  EXPECT_NEAR(length(full.position - centre), 0, 1e-4f);
  EXPECT_FLOAT_EQ(full.size.x, 2 * rig.halfWidth);
  EXPECT_FLOAT_EQ(full.size.y, 2 * rig.halfHeight);
}

TEST(CardPosePass, PileLooksFanAndPushTheCard) {
  const LayoutBlend row(std::make_shared<RowLayout>(1.0f));
  const CameraRig rig = rigFor(row, 3);
  PileLook look;
  look.place = 1;
  look.placeCount = 3;
  look.placeFocus = 1;
  look.depth = 0.2f;
  look.tilt = 0.1f;
  look.lateral = 0.05f;
  look.scale = 0.9f;
  look.frontVisibility = 0;
  look.rankFade = 0.5f;
  const CardSnapshot card = SceneFixture::card(1, false);
  const auto plain = CardPosePass::cardPose(card, settledSample(4, 6), row, rig, PileLook{.place = 1, .placeCount = 3, .placeFocus = 1}, {}, 4, 1, 0);
  const auto fanned = CardPosePass::cardPose(card, settledSample(4, 6), row, rig, look, {}, 4, 1, 0);
  EXPECT_GT(length(fanned.pose.position - rig.eye), length(plain.pose.position - rig.eye));
  EXPECT_FLOAT_EQ(fanned.pose.yaw, 0.1f);
  EXPECT_FLOAT_EQ(fanned.depthPush, 0.2f);
  EXPECT_EQ(fanned.highlight, 0);  // hidden behind the front card
  EXPECT_NEAR(fanned.pose.size.y, 0.9f, 1e-6f);
  EXPECT_NEAR(CardPosePass::cardFacing(settledSample(4, 6), row, look, {}, 4, 1), 0.5f, 1e-6f);
  // Half way through a re-formation from no look, every offset is half.
  const auto half = CardPosePass::cardPose(card, settledSample(4, 6), row, rig, look, {}, 4, 0.5f, 0);
  EXPECT_FLOAT_EQ(half.depthPush, 0.1f);
  EXPECT_NEAR(CardPosePass::cardFacing(settledSample(4, 6), row, look, {}, 4, 0.5f), 0.75f, 1e-6f);
}

TEST(CardPosePass, PosesStayFiniteForDegenerateInput) {
  const LayoutBlend row(std::make_shared<RowLayout>(0.0f));
  const CameraRig rig = CameraRig::make(row, {0, 0, 0}, std::nullopt, 1, 0, 0);
  CardSnapshot card;
  card.aspect = 0;
  card.heightFactor = 0;
  card.windowRect = {{NAN, 0}, {1, 1}};
  MorphSample sample;
  sample.progress = NAN;
  sample.pointerHighlight = NAN;
  const auto result = CardPosePass::cardPose(card, sample, row, rig, {}, {}, NAN, NAN, NAN);
  const CardPose& p = result.pose;
  EXPECT_TRUE(std::isfinite(p.position.x + p.position.y + p.position.z + p.yaw + p.pitch + p.size.x + p.size.y));
  EXPECT_TRUE(std::isfinite(result.highlight));
  for (const Float4& column : rig.viewProjection.columns) {
    EXPECT_TRUE(std::isfinite(column.x + column.y + column.z + column.w));
  }
}

class Picking : public ::testing::Test {
 protected:
  SceneProbe probeOf(SceneFixture& scene) {
    return scene.read([](SceneState::Storage& s) { return SceneState::probe(s); });
  }
  Float2 centreOf(const SceneProbe& probe, int index) {
    const CameraRig rig = CameraRig::fromProbe(probe, kW, kH);
    const auto placed = CardPosePass::cardPose((*probe.cards)[static_cast<size_t>(index)],
                                               probe.samples[static_cast<size_t>(index)], probe.layout, rig, {}, {},
                                               probe.focus, probe.reformBlend, probe.pointerPresence);
    return project(rig, placed.pose.position);
  }
};

TEST_F(Picking, ThroughARotatedRing) {
  SceneFixture scene;
  scene.install(SceneFixture::cards(6, false));
  scene.settle();
  const SceneProbe probe = probeOf(scene);
  for (int i : {0, 1, 5}) {
    EXPECT_EQ(CardPicking::cardAtPoint(probe, centreOf(probe, i), kW, kH, probe.focus, 1), i) << i;
  }
  // The turned card's quad is narrower on screen than its width: just beyond its projected edge
  // there is no card.
  const CameraRig rig = CameraRig::fromProbe(probe, kW, kH);
  const CardPose side = CardPosePass::cardPose((*probe.cards)[1], probe.samples[1], probe.layout, rig, {}, {},
                                               probe.focus, 1, 0)
                            .pose;
  const Float4 edge = side.modelMatrix() * Float4{0.52f, 0, 0, 1};
  const Float4 inside = side.modelMatrix() * Float4{0.45f, 0, 0, 1};
  EXPECT_EQ(CardPicking::cardAtPoint(probe, project(rig, {inside.x, inside.y, inside.z}), kW, kH, probe.focus, 1), 1);
  EXPECT_NE(CardPicking::cardAtPoint(probe, project(rig, {edge.x, edge.y, edge.z}), kW, kH, probe.focus, 1), 1);
  EXPECT_EQ(CardPicking::cardAtPoint(probe, {1, 1}, kW, kH, probe.focus, 1), std::nullopt);
  EXPECT_EQ(CardPicking::cardAtPoint(probe, centreOf(probe, 0), 0, kH, probe.focus, 1), std::nullopt);
  EXPECT_EQ(CardPicking::cardAtPoint(SceneProbe{}, {800, 500}, kW, kH, 0, 1), std::nullopt);
}

// Every card at the centre, later ones nearer the camera.
class StackedLayout final : public LayoutEngine {
 public:
  AppSettings::SwitcherStyle style() const override { return AppSettings::SwitcherStyle::row; }
  CardPose pose(int index, int, int, float aspect, float heightFactor, double) const override {
    CardPose p;
    p.position = {0, 0, 0.3f * static_cast<float>(index)};
    p.size = CardPose::cardSize(aspect, heightFactor);
    return p;
  }
  Camera camera(int, int, float) const override { return {{0, 0, 4}, {0, 0, 0}}; }
};

TEST_F(Picking, TheNearerOfOverlappingCardsWins) {
  SceneFixture scene;
  scene.mutate([](SceneState::Storage& s) {
    SceneState::applyStyle(s, Mode::clamp, false, std::make_shared<StackedLayout>(), 0.92);
  });
  scene.install(SceneFixture::cards(3, false));
  scene.settle();
  const SceneProbe probe = probeOf(scene);
  EXPECT_EQ(CardPicking::cardAtPoint(probe, {kW / 2, kH / 2}, kW, kH, probe.focus, 1), 2);
}

TEST_F(Picking, CardsFadedBeyondTheReachCannotBePicked) {
  SceneFixture scene;
  scene.style(Style::row, Mode::clamp);
  SceneState::InstallOptions options;
  options.tailTuning.drawPlaces = 1.0f;
  options.tailTuning.fadePlaces = 0.5f;
  scene.install(SceneFixture::cards(5, false), options);
  scene.settle();
  const SceneProbe probe = probeOf(scene);
  const Float2 far = centreOf(probe, 3);
  EXPECT_EQ(CardPicking::cardAtPoint(probe, far, kW, kH, probe.focus, 1), std::nullopt);
  EXPECT_EQ(CardPicking::cardAtPoint(probe, centreOf(probe, 1), kW, kH, probe.focus, 1), 1);
  SceneProbe wider = probe;
  wider.tailTuning.drawPlaces = 4.0f;
  EXPECT_EQ(CardPicking::cardAtPoint(wider, far, kW, kH, probe.focus, 1), 3);
}

}  // namespace
}  // namespace quorvel
