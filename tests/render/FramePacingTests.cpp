#include <gtest/gtest.h>

#include "base/LogCapture.h"
#include "base/VirtualClock.h"
#include "scene/render/FramePacing.h"
#include "scene/LayoutFactory.h"

namespace quorvel {
namespace {

class FramePacingTest : public ::testing::Test {
 protected:
  std::vector<std::string> gapLines() const { return logs.messages("Frames"); }
  VirtualClock clock;
  FramePacing pacing{clock};
  LogCapture logs;
};

TEST_F(FramePacingTest, TheFirstFrameAfterAStartOnlySeeds) {
  pacing.reseed(60, false, false, 7);
  EXPECT_DOUBLE_EQ(pacing.record().expected, 1.0 / 60);
  EXPECT_EQ(pacing.restGate().seen, 7u);
  EXPECT_TRUE(pacing.restGate().isEnabled);
  pacing.noteFrameGap(3, true, false, 0.5, false);
  EXPECT_TRUE(pacing.record().seeded);
  EXPECT_EQ(pacing.record().frames, 0);
  EXPECT_TRUE(pacing.sceneHasRested()) << "that frame was already at rest";
  EXPECT_TRUE(gapLines().empty());
  pacing.noteFrameGap(3, true, false, 1.0 / 60, false);
  EXPECT_EQ(pacing.record().frames, 1);
  EXPECT_DOUBLE_EQ(pacing.record().measured, 1.0 / 60);
}

TEST_F(FramePacingTest, HitchesWithinASecondAreFoldedIntoTheNextLine) {
  pacing.reseed(60, false, false, 0);
  pacing.noteFrameGap(4, false, false, 1.0 / 60, false);  // seeds
  pacing.noteFrameGap(4, false, false, 0.12, true);
  clock.advance(fromSeconds(0.4));
  pacing.noteFrameGap(4, false, false, 0.12, true);
  clock.advance(fromSeconds(0.7));
  pacing.noteFrameGap(4, false, false, 0.15, false);
  const auto lines = gapLines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], "frame gap 120.0 ms against a 16.7 ms cadence at reveal, live preview on, 4 cards");
  EXPECT_NE(lines[1].find(" (+1 more in the last second)"), std::string::npos) << lines[1];
  EXPECT_EQ(pacing.record().bad, 3);
  EXPECT_EQ(logs.traceEvents("Frames").size(), 3u);
}

TEST_F(FramePacingTest, ThePhaseWordFollowsRestAndDismissal) {
  pacing.reseed(60, false, false, 0);
  pacing.noteFrameGap(2, false, false, 1.0 / 60, false);
  pacing.noteFrameGap(2, true, false, 0.2, false);  // rests in this very frame
  clock.advance(fromSeconds(2));
  pacing.noteFrameGap(2, false, false, 0.2, false);
  clock.advance(fromSeconds(2));
  pacing.noteFrameGap(2, false, true, 0.2, false);
  const auto lines = gapLines();
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_NE(lines[0].find("at steady"), std::string::npos) << lines[0];
  EXPECT_NE(lines[1].find("at settle"), std::string::npos) << lines[1];
  EXPECT_NE(lines[2].find("at dismiss"), std::string::npos) << lines[2];
}

TEST_F(FramePacingTest, AnUnknownRateJudgesLateGapsAgainstTheSmallestSeen) {
  pacing.reseed(0, true, true, 0);
  EXPECT_EQ(pacing.record().expected, 0);
  EXPECT_EQ(pacing.cadence().prior(), 0);
  EXPECT_FALSE(pacing.restGate().isEnabled);
  EXPECT_TRUE(pacing.isotropic());
  pacing.noteFrameGap(1, false, false, 0.01, false);
  pacing.noteFrameGap(1, false, false, 0.01, false);
  pacing.noteFrameGap(1, false, false, 0.014, false);
  EXPECT_EQ(pacing.record().late, 1);
  EXPECT_DOUBLE_EQ(pacing.record().worst, 0.014);
}

TEST_F(FramePacingTest, AnUnchangedShapeIsLoggedOnce) {
  const LayoutBlend row(LayoutFactory::makeLayout(AppSettings::SwitcherStyle::row, 1));
  pacing.logShape(row, 5, 5, true, 5, 0);
  pacing.logShape(row, 5, 5, true, 5, 0.5f);
  const LayoutBlend cylinder(LayoutFactory::makeLayout(AppSettings::SwitcherStyle::cylinder, 1));
  pacing.logShape(cylinder, 8, 8, false, 7, 1.25f);
  const auto lines = logs.messages("SceneShape");
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], "shape: RowLayout, 5 cards in 5 places, 5 drawn spanning 0.00 high");
  EXPECT_EQ(lines[1],
            "shape: CylinderLayout, 8 cards in 8 places (unmapped), 2 stories, split above 6, 7 drawn spanning 1.25 high");
}

// The camera's coming to rest is told once per rest, with the card in front counted round the
// live cards.
TEST_F(FramePacingTest, TheCameraComingToRestIsToldOnceWithTheCardInFront) {
  pacing.reseed(60, false, false, 0);
  pacing.setSceneAtRest(false, 0.4, 5);
  pacing.setSceneAtRest(true, 1, 5);
  pacing.setSceneAtRest(true, 1, 5);
  pacing.setSceneAtRest(false, 0.2, 5);
  pacing.setSceneAtRest(true, -1, 5);
  pacing.setSceneAtRest(false, 0, 0);
  pacing.setSceneAtRest(true, 0, 0);  // no card
  pacing.reseed(60, false, false, 0);
  pacing.setSceneAtRest(true, 7, 5);  // the first frame after a start
  EXPECT_EQ(gapLines(), (std::vector<std::string>{"camera at rest on card 1 of 5", "camera at rest on card 4 of 5",
                                                  "camera at rest on card 2 of 5"}));
}

}  // namespace
}  // namespace quorvel
