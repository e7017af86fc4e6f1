#include <gtest/gtest.h>

#include <cmath>

#include "scene/CardPosePass.h"
#include "scene/RingLayout.h"
#include "scene/SceneFixture.h"

namespace quorvel {
namespace {

using testing::SceneFixture;
using Style = AppSettings::SwitcherStyle;
using Mode = OrbitCamera::FocusMode;

TEST(SceneState, NewSceneReportsNothingUntilCardsAreInstalled) {
  SceneFixture scene;
  for (int i = 0; i < 3; ++i) {
    const SceneFrame f = scene.frame();
    EXPECT_FALSE(f.focusChange);
    EXPECT_TRUE(f.isAtRest);
    EXPECT_FALSE(f.isRunning);
  }
  EXPECT_EQ(scene.read([](auto& s) { return SceneState::selectedIndex(s); }), 0);
  EXPECT_EQ(scene.read([](auto& s) { return SceneState::probe(s).focusedIndex; }), -1);

  scene.install(SceneFixture::cards(4), {.startFocus = 2});
  const SceneFrame first = scene.frame();
  EXPECT_FALSE(first.focusChange);  // install already noted the focus
  EXPECT_TRUE(first.isRunning);
  EXPECT_EQ(first.liveCount, 4);
  EXPECT_EQ(scene.read([](auto& s) { return SceneState::selectedIndex(s); }), 2);
}

TEST(SceneState, FlyInStaggersByRingDistance) {
  SceneFixture scene;
  SceneState::InstallOptions options;
  options.flyIn = true;
  auto list = SceneFixture::cards(10);
  list[3].windowRect = {};  // no place on screen: it does not fly
  scene.install(std::move(list), options);
  scene.read([](SceneState::Storage& s) {
    EXPECT_NEAR(s.morphs[5].delay, 0.09, 1e-12);
    EXPECT_NEAR(s.morphs[1].delay, 0.018, 1e-12);
    EXPECT_NEAR(s.morphs[9].delay, 0.018, 1e-12);
    EXPECT_EQ(s.morphs[0].delay, 0);
    EXPECT_EQ(s.morphs[0].progress, 0);
    EXPECT_EQ(s.morphs[3].progress, 1);
    EXPECT_EQ(s.morphs[3].delay, 0);
  });
  // Card 5 has not started after 0.05 s; card 0 has.
  for (int i = 0; i < 3; ++i) scene.frame();
  scene.read([](SceneState::Storage& s) {
    EXPECT_EQ(s.morphs[5].progress, 0);
    EXPECT_GT(s.morphs[0].progress, 0.1);
  });
  const SceneFrame rest = scene.settle();
  EXPECT_TRUE(rest.isAtRest);
  for (const auto& sample : scene.buffer.values) EXPECT_EQ(sample.progress, 1.0f);
}

TEST(SceneState, LongFramesStepTheSpringsByAThirtiethOnly) {
  SceneFixture a, b;
  for (SceneFixture* scene : {&a, &b}) {
    SceneState::InstallOptions options;
    options.flyIn = true;
    scene->install(SceneFixture::cards(3), options);
  }
  a.frame(0.5);
  b.frame(1.0 / 30);
  EXPECT_EQ(a.buffer.values[0].progress, b.buffer.values[0].progress);
  // The camera alone sees the raw step (and caps it itself).
  for (double dt : {0.0, -1.0, double(NAN)}) {
    const float before = a.buffer.values[0].progress;
    a.frame(dt);
    EXPECT_EQ(a.buffer.values[0].progress, before);
  }
}

TEST(SceneState, DismissWithoutWindowPlacesFadesAndHandsOutTheCompletionOnce) {
  SceneFixture scene;
  scene.install(SceneFixture::cards(5, false));
  scene.settle();
  int ran = 0;
  const auto back = scene.mutate(
      [&](SceneState::Storage& s) { return SceneState::beginDismissFlight(s, std::nullopt, [&] { ++ran; }); });
  EXPECT_FALSE(back);
  double elapsed = 0;
  while (ran == 0 && elapsed < 2) {
    const SceneFrame f = scene.frame();
    elapsed += 1.0 / 60;
    EXPECT_FALSE(f.isAtRest);
  }
  EXPECT_EQ(ran, 1);
  EXPECT_LE(elapsed, 0.6 + 1e-9);
  for (const auto& sample : scene.buffer.values) EXPECT_NEAR(sample.alpha, 0, 0.01);
  for (int i = 0; i < 60; ++i) scene.frame();
  EXPECT_EQ(ran, 1);
  EXPECT_EQ(scene.completionsHandedOut, 1);
  // A second flight while dismissing hands its completion straight back.
  int second = 0;
  auto again = scene.mutate(
      [&](SceneState::Storage& s) { return SceneState::beginDismissFlight(s, 0, [&] { ++second; }); });
  ASSERT_TRUE(again);
  again();
  EXPECT_EQ(second, 1);
}

TEST(SceneState, TheFlightOutKeepsToTheClockWhateverEachFrameCosts) {
  // Frames of 1/60 s and frames of a fifth of a second (a slow device, many cards): the flight is
  // handed out after the same time, not after the same number of frames.
  for (double dt : {1.0 / 60, 0.2}) {
    SceneFixture scene;
    scene.install(SceneFixture::cards(40));
    scene.settle();
    int ran = 0;
    scene.mutate([&](SceneState::Storage& s) { return SceneState::beginDismissFlight(s, std::nullopt, [&] { ++ran; }); });
    double elapsed = 0;
    while (ran == 0 && elapsed < 5) {
      scene.frame(dt);
      elapsed += dt;
    }
    EXPECT_EQ(ran, 1) << dt;
    EXPECT_LE(elapsed, 0.6 + dt + 1e-9) << dt;
  }
}

TEST(SceneState, DismissTowardTheChosenCardFliesOnlyThatCard) {
  SceneFixture scene;
  scene.install(SceneFixture::cards(5));
  scene.settle();
  int ran = 0;
  scene.mutate([&](SceneState::Storage& s) { return SceneState::beginDismissFlight(s, 2, [&] { ++ran; }); });
  scene.read([](SceneState::Storage& s) {
    EXPECT_TRUE(s.morphs[2].flies);
    EXPECT_EQ(s.morphs[2].target, 0);
    EXPECT_FALSE(s.morphs[1].flies);
    EXPECT_EQ(s.morphs[1].alphaTarget, 0);
  });
  for (int i = 0; i < 60 && ran == 0; ++i) scene.frame();
  EXPECT_EQ(ran, 1);
  EXPECT_NEAR(scene.buffer.values[2].progress, 0, 0.01);

  // A cancelled flight staggers the cards: the focused card leaves last.
  SceneFixture cancel;
  cancel.install(SceneFixture::cards(6), {.startFocus = 0});
  cancel.mutate([](SceneState::Storage& s) { return SceneState::beginDismissFlight(s, std::nullopt, [] {}); });
  cancel.read([](SceneState::Storage& s) {
    EXPECT_NEAR(s.morphs[0].delay, 0.06, 1e-12);
    EXPECT_NEAR(s.morphs[3].delay, 0, 1e-12);
    EXPECT_NEAR(s.morphs[1].delay, 0.04, 1e-12);
  });
}

TEST(SceneState, StopDuringTheFlightHandsTheCompletionBackOnce) {
  SceneFixture scene;
  scene.install(SceneFixture::cards(5));
  int ran = 0;
  scene.mutate([&](SceneState::Storage& s) { return SceneState::beginDismissFlight(s, std::nullopt, [&] { ++ran; }); });
  scene.frame();
  auto pending = scene.mutate([](SceneState::Storage& s) { return SceneState::clear(s); });
  ASSERT_TRUE(pending);
  pending();
  for (int i = 0; i < 60; ++i) scene.frame();
  EXPECT_EQ(ran, 1);
  EXPECT_EQ(scene.completionsHandedOut, 0);
  scene.read([](SceneState::Storage& s) {
    EXPECT_FALSE(s.isRunning);
    EXPECT_EQ(s.cardCount(), 0);
    EXPECT_EQ(s.reportedFocus, -1);
  });
  // A present over a pending flight hands it back too.
  int other = 0;
  scene.install(SceneFixture::cards(2));
  scene.mutate([&](SceneState::Storage& s) { return SceneState::beginDismissFlight(s, 0, [&] { ++other; }); });
  auto handed = scene.install(SceneFixture::cards(3));
  ASSERT_TRUE(handed);
  handed();
  EXPECT_EQ(other, 1);
  EXPECT_FALSE(scene.install(SceneFixture::cards(3)));
}

TEST(SceneState, ReformKeepsMovingCardsAndFadesTheLeaversAsGhosts) {
  SceneFixture scene;
  scene.install(SceneFixture::cards(6), {.startFocus = 2});
  scene.settle();
  scene.focusChanges.clear();
  // A search keeps cards 5, 1, 6 (ids) and drops the focused card (id 3).
  std::vector<CardSnapshot> found{SceneFixture::card(5), SceneFixture::card(1), SceneFixture::card(6)};
  scene.mutate([&](SceneState::Storage& s) { SceneState::reform(s, found, {}, 0); });
  scene.read([](SceneState::Storage& s) {
    EXPECT_EQ(s.liveCount, 3);
    EXPECT_EQ(s.cardCount(), 6);  // three leavers behind the live cards
    EXPECT_TRUE(s.reformActive);
    EXPECT_EQ(s.reformFromCount, 6);
    for (int i = 3; i < 6; ++i) EXPECT_TRUE(s.morphs[static_cast<size_t>(i)].isGhost);
    EXPECT_EQ(s.cardList()[3].id, 2u);
    // Card 5 (old index 4) comes from its old slot, shifted so it stays where it was.
    EXPECT_EQ(s.morphs[0].from.index, 4);
    EXPECT_EQ(s.morphs[0].from.count, 6);
    EXPECT_DOUBLE_EQ(s.morphs[0].from.focusShift, 2);
    EXPECT_EQ(s.morphs[0].to, (CardSlot{0, 3, 0}));
    EXPECT_EQ(s.reportedFocus, 0);
  });
  const SceneFrame rest = scene.settle();
  EXPECT_TRUE(rest.isAtRest);
  EXPECT_EQ(rest.cards->size(), 3u);
  EXPECT_TRUE(scene.focusChanges.empty());
  scene.read([](SceneState::Storage& s) {
    EXPECT_FALSE(s.reformActive);
    EXPECT_EQ(s.morphs[0].from, s.morphs[0].to);
  });
  // While dismissing, a reform is ignored.
  scene.mutate([](SceneState::Storage& s) { return SceneState::beginDismissFlight(s, std::nullopt, [] {}); });
  scene.mutate([&](SceneState::Storage& s) { SceneState::reform(s, SceneFixture::cards(1), {}, 0); });
  EXPECT_EQ(scene.read([](SceneState::Storage& s) { return s.liveCount; }), 3);
}

TEST(SceneState, ReformToAnotherFocusKeepsOldSlotsInPlace) {
  // The leaving card's first frame after the search is where it stood before, whatever the new
  // focus is (the old slot's shift takes up the camera's jump).
  SceneFixture scene;
  scene.style(Style::row, Mode::clamp);
  scene.install(SceneFixture::cards(8, false), {.startFocus = 5});
  scene.settle();
  const CameraRig rig = CameraRig::make(LayoutBlend(LayoutFactory::makeLayout(Style::row, 1.0f)), {8, 8, 0}, {}, 1,
                                        1600, 1000);
  const LayoutBlend row(LayoutFactory::makeLayout(Style::row, 1.0f));
  const CardPose before = CardPosePass::cardPose(SceneFixture::card(7, false), scene.buffer.values[6], row, rig,
                                                 std::nullopt, std::nullopt, 5, 1, 0)
                              .pose;
  std::vector<CardSnapshot> found = SceneFixture::cards(4, false);
  scene.mutate([&](SceneState::Storage& s) { SceneState::reform(s, found, {}, 3); });
  scene.frame(1e-9);
  const SceneFrame f = scene.frame(1e-9);
  ASSERT_GE(f.cards->size(), 5u);
  // Card id 7 (old index 6) is now a ghost at the end.
  size_t ghost = 0;
  for (size_t i = 0; i < f.cards->size(); ++i) {
    if ((*f.cards)[i].id == 7) ghost = i;
  }
  ASSERT_GE(ghost, 4u);
  const CardPose after = CardPosePass::cardPose((*f.cards)[ghost], scene.buffer.values[ghost], row, rig, std::nullopt,
                                                std::nullopt, f.focus, f.reformBlend, 0)
                             .pose;
  EXPECT_NEAR(after.position.x, before.position.x, 1e-4);
}

TEST(SceneState, GhostsAreDroppedFromTheBackOnly) {
  SceneFixture scene;
  scene.install(SceneFixture::cards(4));
  scene.settle();
  scene.mutate([](SceneState::Storage& s) { SceneState::reform(s, SceneFixture::cards(2), {}, 0); });
  // Two ghosts (ids 3 and 4); the last one is held visible, so the one before it stays too.
  scene.read([](SceneState::Storage& s) {
    ASSERT_EQ(s.cardCount(), 4);
    s.morphs[3].alphaTarget = 1;
  });
  for (int i = 0; i < 120; ++i) scene.frame();
  scene.read([](SceneState::Storage& s) {
    EXPECT_EQ(s.cardCount(), 4);
    EXPECT_LE(s.morphs[2].alpha, 0.004);
    s.morphs[3].alphaTarget = 0;
  });
  const SceneFrame rest = scene.settle();
  EXPECT_EQ(rest.cards->size(), 2u);
  EXPECT_TRUE(rest.isAtRest);
  EXPECT_EQ(scene.buffer.values.size(), 2u);
}

TEST(SceneState, CardsHiddenInAPileDoNotFlyIn) {
  SceneFixture scene;
  SceneState::InstallOptions options;
  options.flyIn = true;
  options.startFocus = 0;
  options.clusters = ClusterAssignment::build(
      {ClusterKey::alone(), ClusterKey::app(5), ClusterKey::app(5), ClusterKey::app(5), ClusterKey::alone()});
  scene.install(SceneFixture::cards(5), options);
  scene.read([](SceneState::Storage& s) {
    EXPECT_EQ(s.morphs[1].progress, 0);  // the front card of the pile flies
    EXPECT_EQ(s.morphs[2].progress, 1);  // the cards behind it are in place at once
    EXPECT_EQ(s.morphs[3].progress, 1);
    EXPECT_EQ(s.morphs[4].progress, 0);
  });
}

TEST(SceneState, RestGateSeesEveryMutation) {
  SceneFixture scene;
  scene.install(SceneFixture::cards(3));
  scene.settle();
  const uint64_t revision = scene.wake.revision();
  const double stamp = scene.wake.state().stamp;
  scene.frame();
  scene.mutate([](SceneState::Storage& s) { SceneState::step(s, 1); });
  EXPECT_EQ(scene.wake.revision(), revision + 1);
  EXPECT_GT(scene.wake.state().stamp, stamp);
  EXPECT_FALSE(scene.frame().isAtRest);
  EXPECT_TRUE(scene.settle().isAtRest);
  EXPECT_EQ(scene.focusChanges.back(), (SceneFrame::FocusChange{1, FocusChangeSource::keyboard}));
}

TEST(SceneState, IconAnchorFollowsTheArrangement) {
  SceneFixture scene;
  SceneState::InstallOptions options;
  options.iconPosition = AppSettings::IconPosition::bottomEdge;
  scene.install(SceneFixture::cards(3), options);
  EXPECT_EQ(scene.frame().iconAnchor, BadgeAnchor::bottomCenter);
  scene.style(Style::flip3d, Mode::clamp);
  EXPECT_EQ(scene.frame().iconAnchor, BadgeAnchor::topLeft);
  EXPECT_EQ(scene.read([](SceneState::Storage& s) { return SceneState::probe(s).iconAnchor; }), BadgeAnchor::topLeft);
}

TEST(SceneState, PointerHighlightOfALeaverIsDroppedAndThatFrameIsNotAtRest) {
  SceneFixture scene;
  scene.install(SceneFixture::cards(4));
  scene.settle();
  EXPECT_TRUE(scene.mutate([](SceneState::Storage& s) { return SceneState::setPointerHighlight(s, 3); }));
  EXPECT_EQ(scene.frame().pointerSelection, 3);
  EXPECT_EQ(scene.read([](SceneState::Storage& s) { return SceneState::selectedIndex(s); }), 3);
  scene.read([](SceneState::Storage& s) { s.pointerHighlightID = 99; });  // a card that is gone
  const SceneFrame f = scene.frame();
  EXPECT_FALSE(f.isAtRest);
  EXPECT_FALSE(f.pointerSelection);
  EXPECT_FALSE(scene.read([](SceneState::Storage& s) { return s.pointerHighlightID.has_value(); }));
}

TEST(SceneState, StyleCrossFadeEndsAndDropsTheOutgoingArrangement) {
  SceneFixture scene;
  scene.install(SceneFixture::cards(5));
  scene.style(Style::row, Mode::clamp, true);
  SceneFrame f = scene.frame();
  ASSERT_TRUE(f.layout.outgoing());
  EXPECT_GT(f.layout.t(), 0);
  EXPECT_LT(f.layout.t(), 1);
  EXPECT_FALSE(f.isAtRest);
  f = scene.settle();
  EXPECT_FALSE(f.layout.outgoing());
  EXPECT_EQ(f.layout.t(), 1);
  EXPECT_EQ(f.layout.style(), Style::row);
}

}  // namespace
}  // namespace quorvel
