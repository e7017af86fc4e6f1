#include <gtest/gtest.h>

#include <cmath>

#include "scene/OrbitCamera.h"

namespace quorvel {
namespace {

OrbitCamera camera(int count, OrbitCamera::FocusMode mode) {
  OrbitCamera c;
  c.count = count;
  c.mode = mode;
  return c;
}

double settle(OrbitCamera& c, const ClusterAssignment& clusters = {}, bool piles = false, int frames = 600) {
  for (int i = 0; i < frames; ++i) c.step(1.0 / 60, clusters, piles);
  return c.focus;
}

TEST(OrbitCamera, NudgeRubberBandsInClampMode) {
  auto c = camera(5, OrbitCamera::FocusMode::clamp);
  c.nudge(6.0);
  EXPECT_DOUBLE_EQ(c.focus, 4.35);
  EXPECT_DOUBLE_EQ(c.target, 4);
  c.focus = 0;
  c.nudge(-1);
  EXPECT_DOUBLE_EQ(c.focus, -0.35);
  EXPECT_DOUBLE_EQ(c.target, 0);
  c.nudge(NAN);
  EXPECT_DOUBLE_EQ(c.focus, -0.35);
  auto w = camera(5, OrbitCamera::FocusMode::wrap);
  w.nudge(7.5);
  EXPECT_DOUBLE_EQ(w.target, 7.5);
}

TEST(OrbitCamera, HopWrapsOrClamps) {
  auto w = camera(5, OrbitCamera::FocusMode::wrap);
  w.target = 4;
  w.hop(1);
  EXPECT_DOUBLE_EQ(w.target, 5);
  auto c = camera(5, OrbitCamera::FocusMode::clamp);
  c.target = 4;
  c.hop(1);
  EXPECT_DOUBLE_EQ(c.target, 4);
  c.target = 2.4;
  c.hop(-1);
  EXPECT_DOUBLE_EQ(c.target, 1);
  c.flipFence = CardPile{1, 2};
  c.hop(0);
  EXPECT_FALSE(c.flipFence);
}

TEST(OrbitCamera, StepSettlesOnTheTargetAndCapsLongFrames) {
  auto c = camera(10, OrbitCamera::FocusMode::wrap);
  c.target = 3;
  EXPECT_DOUBLE_EQ(settle(c), 3);
  EXPECT_EQ(c.velocity, 0);

  // A 0.5 s gap integrates only 1/30 s.
  auto a = camera(10, OrbitCamera::FocusMode::wrap), b = a;
  a.target = b.target = 5;
  a.step(0.5, {}, false);
  b.step(1.0 / 30, {}, false);
  EXPECT_DOUBLE_EQ(a.focus, b.focus);
  // Zero, negative and NaN steps move nothing.
  const double before = a.focus;
  for (double dt : {0.0, -1.0, double(NAN), double(INFINITY)}) EXPECT_EQ(a.step(dt, {}, false), before);
}

TEST(OrbitCamera, FlickProjectsAtMostOneLap) {
  auto c = camera(10, OrbitCamera::FocusMode::wrap);
  c.flick(100, {});
  EXPECT_DOUBLE_EQ(c.target, 10);
  auto d = camera(10, OrbitCamera::FocusMode::clamp);
  d.focus = d.target = 3;
  d.flick(8, {});
  EXPECT_DOUBLE_EQ(d.target, 5);
  d.flick(NAN, {});
  EXPECT_DOUBLE_EQ(d.target, 5);
}

TEST(OrbitCamera, FlipFenceHoldsTheFocus) {
  auto c = camera(20, OrbitCamera::FocusMode::wrap);
  c.focus = 5;
  c.target = 40;
  c.flipFence = CardPile{3, 7};
  for (int i = 0; i < 200; ++i) {
    c.step(1.0 / 60, {}, false);
    ASSERT_GE(c.focus, 3);
    ASSERT_LE(c.focus, 7);
  }
}

TEST(OrbitCamera, JumpReturnsThePreviousFocus) {
  auto c = camera(5, OrbitCamera::FocusMode::clamp);
  c.focus = 2.5;
  c.velocity = 3;
  EXPECT_DOUBLE_EQ(c.jump(9), 2.5);
  EXPECT_DOUBLE_EQ(c.focus, 4);
  EXPECT_DOUBLE_EQ(c.target, 4);
  EXPECT_EQ(c.velocity, 0);
  c.jump(-3);
  EXPECT_DOUBLE_EQ(c.focus, 0);
}

TEST(OrbitCamera, PilesAreCrossedAsOnePlace) {
  // Piles [0], [1..8], [9]: hopping from card 0 to card 9 crosses one pile of eight cards.
  std::vector<ClusterKey> keys{ClusterKey::alone()};
  for (int i = 0; i < 8; ++i) keys.push_back(ClusterKey::app(4));
  keys.push_back(ClusterKey::alone());
  const auto clusters = ClusterAssignment::build(keys);
  // Its motion in places is that of a camera over three single cards going from 0 to 2.
  auto piled = camera(10, OrbitCamera::FocusMode::clamp);
  auto places = camera(3, OrbitCamera::FocusMode::clamp);
  piled.target = 9;
  places.target = 2;
  for (int i = 0; i < 12; ++i) {
    piled.step(1.0 / 60, clusters, true);
    places.step(1.0 / 60, {}, false);
    EXPECT_NEAR(clusters.placePosition(piled.focus), places.focus, 1e-9);
  }
  EXPECT_DOUBLE_EQ(settle(piled, clusters, true), 9);

  // The walk: inside a pile the cards are free, the last card of a pile costs its length.
  EXPECT_DOUBLE_EQ(piled.walk(1.0, 0.5, clusters), 8.5);
  EXPECT_DOUBLE_EQ(piled.walk(8.5, -0.75, clusters), 0.75);
  EXPECT_DOUBLE_EQ(piled.walk(3, 1e-13, clusters), 3);
  EXPECT_DOUBLE_EQ(piled.walk(3, 2e9, clusters), 3 + 2e9);

  // Snapping a gesture's focus to the pile's first card.
  piled.focus = 5.2;
  piled.snapTarget(clusters);
  EXPECT_DOUBLE_EQ(piled.target, 1);
}

TEST(OrbitCamera, LostNumbersComeBackToRest) {
  auto c = camera(5, OrbitCamera::FocusMode::wrap);
  c.focus = NAN;
  c.target = 2;
  EXPECT_DOUBLE_EQ(c.step(1.0 / 60, {}, false), 2);
  EXPECT_EQ(c.velocity, 0);
}

}  // namespace
}  // namespace quorvel
