#include <gtest/gtest.h>

#include <cmath>

#include "base/VirtualClock.h"
#include "scene/CardChromeRow.h"
#include "scene/FrameCadence.h"
#include "scene/HitchThrottle.h"
#include "scene/PictureFit.h"
#include "scene/RestGate.h"
#include "scene/SceneWake.h"

namespace quorvel {
namespace {

using Kind = FrameCadence::Kind;

FrameCadence steady(double interval, int frames = 60) {
  FrameCadence cadence(1.0 / 60);
  for (int i = 0; i < frames; ++i) cadence.record(interval);
  return cadence;
}

TEST(FrameCadence, WarmsUpOnThePrior) {
  FrameCadence cadence(1.0 / 60);
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(cadence.record(1.0 / 120).kind, Kind::normal);
    EXPECT_DOUBLE_EQ(cadence.cadence(), 1.0 / 60);
  }
  EXPECT_EQ(cadence.record(0), FrameCadence::Classification{});
  EXPECT_EQ(cadence.record(NAN), FrameCadence::Classification{});
  EXPECT_EQ(cadence.filled(), 4);
}

TEST(FrameCadence, StableCadenceClassifiesByRatio) {
  FrameCadence cadence = steady(1.0 / 120);
  ASSERT_GE(cadence.stableRecomputes(), 4);
  EXPECT_NEAR(cadence.cadence(), 1.0 / 120, 1e-12);
  EXPECT_EQ(cadence.record(0.02), (FrameCadence::Classification{Kind::hitch, false}));  // ratio 2.4
  // Ratio 3.6: severe, but 0.03 s is not a long gap (long means above 0.05 s).
  EXPECT_EQ(cadence.record(0.03), (FrameCadence::Classification{Kind::severe, false}));
  EXPECT_EQ(cadence.record(0.06), (FrameCadence::Classification{Kind::severe, true}));
  EXPECT_EQ(cadence.record(1.0 / 120), (FrameCadence::Classification{Kind::normal, false}));
}

TEST(FrameCadence, BeforeItIsStableOnlyGapsAboveATenthCount) {
  FrameCadence cadence(1.0 / 60);
  EXPECT_EQ(cadence.record(0.08).kind, Kind::normal);
  EXPECT_EQ(cadence.record(0.12), (FrameCadence::Classification{Kind::severe, true}));
  FrameCadence slow(0.05);
  EXPECT_EQ(slow.record(0.11), (FrameCadence::Classification{Kind::hitch, true}));
  // The median ignores a few outliers; a changed display rate is learnt again.
  FrameCadence switching = steady(1.0 / 60);
  for (int i = 0; i < 40; ++i) switching.record(1.0 / 120);
  EXPECT_NEAR(switching.cadence(), 1.0 / 120, 1e-12);
}

TEST(HitchThrottle, OneLineASecond) {
  HitchThrottle throttle;
  EXPECT_EQ(throttle.admit(10.0, "gap"), "gap");
  EXPECT_EQ(throttle.admit(10.5, "gap"), std::nullopt);
  EXPECT_EQ(throttle.swallowed(), 1);
  EXPECT_EQ(throttle.admit(11.0, "gap"), "gap (+1 more in the last second)");
  EXPECT_EQ(throttle.admit(12.5, "gap"), "gap");
}

TEST(RestGate, HoldsOnlyAfterADrawnFrameAtRestWithoutChanges) {
  RestGate gate;
  EXPECT_FALSE(gate.shouldHold(true, 3));  // nothing drawn yet
  EXPECT_TRUE(gate.shouldHold(true, 3));
  EXPECT_TRUE(gate.shouldHold(true, 3));
  EXPECT_EQ(gate.heldInARow, 2);
  EXPECT_FALSE(gate.shouldHold(true, 4));  // a change: draw
  EXPECT_EQ(gate.heldInARow, 0);
  EXPECT_FALSE(gate.shouldHold(false, 4));
  EXPECT_EQ(gate.heldTotal, 2);
  RestGate off;
  off.isEnabled = false;
  off.shouldHold(true, 1);
  EXPECT_FALSE(off.shouldHold(true, 1));
}

TEST(SceneWake, BumpsRevisionAndStampAfterTheMutation) {
  VirtualClock clock;
  SceneWake wake(clock);
  int storage = 0;
  clock.advance(std::chrono::seconds(2));
  const int result = wake.wake(storage, [&](int& s) {
    EXPECT_EQ(wake.revision(), 0u);  // not yet
    return s += 5;
  });
  EXPECT_EQ(result, 5);
  EXPECT_EQ(wake.revision(), 1u);
  EXPECT_DOUBLE_EQ(wake.state().stamp, clock.mediaTime());
  wake.wake(storage, [](int&) {});
  EXPECT_EQ(wake.revision(), 2u);
}

TEST(CardChromeRow, MarksShrinkToTheCard) {
  const auto marks = CardChromeRow::marks(320, 1, 2);
  EXPECT_FLOAT_EQ(marks.iconSide, 96);
  EXPECT_FLOAT_EQ(marks.glyphSide, 68 * 2 * 96.0f / 156);
  EXPECT_FLOAT_EQ(marks.discSide, 52);
  EXPECT_FLOAT_EQ(marks.discStep, 64);
  EXPECT_FLOAT_EQ(marks.discHitRadiusPoints, 16);
  EXPECT_EQ(CardChromeRow::marks(2000, 0, 1), CardChromeRow::marks(2000, 0.1f, 1));
  EXPECT_FLOAT_EQ(CardChromeRow::marks(2000, 1, 0).discHitRadiusPoints, 16);
  const auto none = CardChromeRow::marks(NAN, NAN, NAN);
  EXPECT_TRUE(std::isfinite(none.iconSide + none.discSide + none.discHitRadiusPoints));

  const auto [corner, inset] = CardChromeRow::cornerAnchor({2, 0, 0}, {0, 1, 0}, {1, 1, 1}, 0.5f);
  EXPECT_EQ(corner, (Float3{2, 1.5f, 1}));
  EXPECT_EQ(inset, (Float3{1.5f, 1.5f, 1}));
  EXPECT_EQ(CardChromeRow::cornerAnchor({0, 0, 0}, {0, 1, 0}, {0, 0, 0}, 3).second, (Float3{0, 0.5f, 0}));
}

TEST(PictureFit, KeepsThePicturesAspect) {
  EXPECT_EQ(PictureFit::aspectScale(1.6f, 1.605f), (Float2{1, 1}));
  EXPECT_EQ(PictureFit::aspectScale(1.6f, 3.2f), (Float2{1, 0.5f}));
  EXPECT_EQ(PictureFit::aspectScale(1.6f, 0.8f), (Float2{0.5f, 1}));
  EXPECT_EQ(PictureFit::aspectScale(0, 0.8f), (Float2{1, 1}));
  EXPECT_EQ(PictureFit::aspectScale(1.6f, NAN), (Float2{1, 1}));
  EXPECT_EQ(PictureFit::scaleForPicture(std::nullopt, {1, 1}, {1.6f, 1}), (Float2{1, 1}));
  EXPECT_EQ(PictureFit::scaleForPicture(Float2{3200, 1000}, {1, 1}, {1.6f, 1}), (Float2{1, 0.5f}));
  EXPECT_EQ(PictureFit::scaleForPicture(Float2{3200, 1000}, {0.25f, 1}, {1.6f, 1}), (Float2{0.5f, 1}));
  EXPECT_EQ(PictureFit::scaleForPicture(Float2{3200, 1000}, {1, 0}, {1.6f, 1}), (Float2{1, 1}));
  EXPECT_EQ(PictureFit::scaleForPicture(Float2{3200, 1000}, {1, 1}, {0, 1}), (Float2{1, 1}));
}

}  // namespace
}  // namespace quorvel
