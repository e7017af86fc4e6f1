#include <gtest/gtest.h>

#include <cmath>

#include "scene/SceneFixture.h"

namespace quorvel {
namespace {

using testing::SceneFixture;
using Style = AppSettings::SwitcherStyle;
using Mode = OrbitCamera::FocusMode;
using Storage = SceneState::Storage;

TEST(Navigation, HoverTakesTheShortWayRound) {
  SceneFixture scene;
  scene.install(SceneFixture::cards(10), {.startFocus = 1});
  scene.mutate([](Storage& s) { SceneState::selectHovered(s, 9); });
  EXPECT_DOUBLE_EQ(scene.target(), -1);  // a hop of −2, not +8
  scene.settle();
  EXPECT_EQ(scene.focusChanges.back(), (SceneFrame::FocusChange{9, FocusChangeSource::pointer}));
  // Out of range or the focused card: nothing.
  scene.mutate([](Storage& s) { SceneState::selectHovered(s, 10); });
  scene.mutate([](Storage& s) { SceneState::selectHovered(s, 9); });
  EXPECT_DOUBLE_EQ(scene.target(), -1);
  // In clamp mode there is no way round.
  SceneFixture clamped;
  clamped.style(Style::row, Mode::clamp);
  clamped.install(SceneFixture::cards(10), {.startFocus = 1});
  clamped.mutate([](Storage& s) { SceneState::selectHovered(s, 9); });
  EXPECT_DOUBLE_EQ(clamped.target(), 9);
}

TEST(Navigation, TabCommitsThePointerHighlightFirst) {
  SceneFixture scene;
  scene.install(SceneFixture::cards(10), {.startFocus = 2});
  EXPECT_TRUE(scene.mutate([](Storage& s) { return SceneState::setPointerHighlight(s, 4); }));
  EXPECT_FALSE(scene.mutate([](Storage& s) { return SceneState::setPointerHighlight(s, 4); }));
  scene.mutate([](Storage& s) { SceneState::step(s, 1); });
  EXPECT_DOUBLE_EQ(scene.target(), 5);
  scene.read([](Storage& s) {
    EXPECT_FALSE(s.pointerHighlightID);
    EXPECT_EQ(s.reportedFocus, -1);
    EXPECT_EQ(s.focusIntent, FocusChangeSource::keyboard);
  });
  EXPECT_FALSE(scene.mutate([](Storage& s) { return SceneState::setPointerHighlight(s, std::nullopt); }));
  EXPECT_TRUE(scene.mutate([](Storage& s) { return SceneState::setPointerHighlight(s, 0); }));
  EXPECT_TRUE(scene.mutate([](Storage& s) { return SceneState::setPointerHighlight(s, 12); }));
  scene.mutate([](Storage& s) { SceneState::setHoveredAction(s, CardAction::minimize); });
  EXPECT_EQ(scene.frame().hoveredAction, CardAction::minimize);
}

TEST(Navigation, ArrowsStopAtTheEndsInClampMode) {
  SceneFixture scene;
  scene.style(Style::coverArc, Mode::clamp);
  scene.install(SceneFixture::cards(4), {.startFocus = 3});
  scene.mutate([](Storage& s) { SceneState::move(s, LayoutEngine::right); });
  EXPECT_DOUBLE_EQ(scene.target(), 3);
  scene.mutate([](Storage& s) { SceneState::move(s, LayoutEngine::left); });
  EXPECT_DOUBLE_EQ(scene.target(), 2);
  EXPECT_TRUE(scene.read([](Storage& s) { return s.keyboardHop; }));
  scene.mutate([](Storage& s) { SceneState::move(s, LayoutEngine::up); });  // the arc has no up
  EXPECT_DOUBLE_EQ(scene.target(), 2);
  scene.settle();
  EXPECT_FALSE(scene.read([](Storage& s) { return s.keyboardHop; }));
  // In wrap mode the left arrow from the first card goes round.
  SceneFixture ring;
  ring.install(SceneFixture::cards(4), {.startFocus = 0});
  ring.mutate([](Storage& s) { SceneState::move(s, LayoutEngine::left); });
  EXPECT_DOUBLE_EQ(ring.target(), -1);
}

// In clamp mode a keyboard step off either end goes round: the camera flies back across the
// cards (and piles) without leaving them, and the focus report names the card the target rests on.
TEST(Navigation, KeyboardStepsGoRoundTheEndsInClampMode) {
  SceneFixture scene;
  // Piles: [0], [1, 2, 3], [4].
  SceneState::InstallOptions options;
  options.clusters = ClusterAssignment::build(
      {ClusterKey::alone(), ClusterKey::app(7), ClusterKey::app(7), ClusterKey::app(7), ClusterKey::alone()});
  options.startFocus = 4;
  scene.style(Style::coverArc, Mode::clamp);
  scene.install(SceneFixture::cards(5), options);
  auto flyTo = [&](int steps, double expected) {
    scene.mutate([&](Storage& s) { SceneState::step(s, steps); });
    EXPECT_DOUBLE_EQ(scene.target(), expected);
    for (int i = 0; i < 2000; ++i) {
      const SceneFrame f = scene.frame();
      ASSERT_GE(f.focus, -0.35);
      ASSERT_LE(f.focus, 4.35);
      if (f.isAtRest) break;
    }
    EXPECT_DOUBLE_EQ(scene.focus(), expected);
    EXPECT_EQ(scene.focusChanges.back(), (SceneFrame::FocusChange{static_cast<int>(expected), FocusChangeSource::keyboard}));
  };
  flyTo(1, 0);
  flyTo(-1, 4);
  flyTo(-2, 2);  // inside the pile, as before
  flyTo(3, 0);   // a longer step wraps by its remainder
  // A search that leaves two cards: the steps go round those two.
  scene.mutate([](Storage& s) { SceneState::reform(s, SceneFixture::cards(2, true, 3), ClusterAssignment{}, 1); });
  scene.mutate([](Storage& s) { SceneState::step(s, 1); });
  EXPECT_DOUBLE_EQ(scene.target(), 0);
  // A single card: a step stays on it.
  SceneFixture single;
  single.style(Style::row, Mode::clamp);
  single.install(SceneFixture::cards(1));
  single.mutate([](Storage& s) { SceneState::step(s, 1); });
  single.mutate([](Storage& s) { SceneState::step(s, -1); });
  EXPECT_DOUBLE_EQ(single.target(), 0);
  EXPECT_TRUE(single.settle().isAtRest);
  EXPECT_TRUE(single.focusChanges.empty());
}

TEST(Navigation, StyleChangeBelowHalfWayReplacesOnlyTheIncomingArrangement) {
  SceneFixture scene;
  scene.install(SceneFixture::cards(5));
  scene.style(Style::row, Mode::clamp, true);
  scene.frame();
  const double progress = scene.read([](Storage& s) { return s.styleProgress; });
  ASSERT_LT(progress, 0.5);
  scene.style(Style::expo, Mode::clamp, true);
  scene.read([&](Storage& s) {
    EXPECT_EQ(s.layout.current()->style(), Style::expo);
    EXPECT_EQ(s.layout.outgoing()->style(), Style::tangentRing);
    EXPECT_DOUBLE_EQ(s.styleProgress, progress);
  });
  // Past half way a new change starts a new fade from the arrangement now current.
  while (scene.read([](Storage& s) { return s.styleProgress; }) < 0.5) scene.frame();
  scene.style(Style::flatRing, Mode::wrap, true);
  scene.read([](Storage& s) {
    EXPECT_EQ(s.layout.outgoing()->style(), Style::expo);
    EXPECT_EQ(s.styleProgress, 0);
  });
  // Not running: at once.
  SceneFixture idle;
  idle.style(Style::row, Mode::clamp, true);
  idle.read([](Storage& s) {
    EXPECT_FALSE(s.layout.outgoing());
    EXPECT_EQ(s.layout.style(), Style::row);
  });
}

TEST(Navigation, ClampModeFoldsAWrappedFocusIntoTheCards) {
  SceneFixture scene;
  scene.install(SceneFixture::cards(5), {.startFocus = 0});
  scene.mutate([](Storage& s) { SceneState::step(s, -2); });
  scene.settle();
  EXPECT_DOUBLE_EQ(scene.focus(), -2);
  scene.style(Style::row, Mode::clamp);
  EXPECT_DOUBLE_EQ(scene.focus(), 3);
  EXPECT_DOUBLE_EQ(scene.target(), 3);
}

TEST(Navigation, ScrollAndFlickMoveByPlacesAndFoldThePiles) {
  SceneFixture scene;
  // Piles: [0], [1, 2, 3], [4].
  const auto clusters = ClusterAssignment::build(
      {ClusterKey::alone(), ClusterKey::app(7), ClusterKey::app(7), ClusterKey::app(7), ClusterKey::alone()});
  scene.style(Style::row, Mode::clamp);
  SceneState::InstallOptions options;
  options.clusters = clusters;
  scene.install(SceneFixture::cards(5), options);
  scene.mutate([](Storage& s) { SceneState::scroll(s, 1.5); });
  // One place and a half: past card 0 to the pile, and half way from the pile to card 4.
  EXPECT_DOUBLE_EQ(scene.focus(), 2.5);
  scene.read([](Storage& s) {
    EXPECT_TRUE(s.gestureHops);
    EXPECT_EQ(s.flipFocus, 0);
    EXPECT_EQ(s.focusIntent, FocusChangeSource::pointer);
  });
  for (int i = 0; i < 20; ++i) scene.frame();
  EXPECT_EQ(scene.read([](Storage& s) { return s.flipReach; }), 0);
  scene.mutate([](Storage& s) { SceneState::endScroll(s, 4); });
  const double flickTarget = scene.target();
  EXPECT_TRUE(flickTarget == 1 || flickTarget == 4);
  // The next key press settles the gesture on a card and the piles open again.
  scene.mutate([](Storage& s) { SceneState::step(s, 0); });
  EXPECT_FALSE(scene.read([](Storage& s) { return s.gestureHops; }));
  scene.settle();
  EXPECT_EQ(scene.read([](Storage& s) { return s.flipReach; }), 1);
}

TEST(Navigation, StackFlipsStayInsideThePile) {
  SceneFixture scene;
  const auto clusters = ClusterAssignment::build(
      {ClusterKey::alone(), ClusterKey::app(7), ClusterKey::app(7), ClusterKey::app(7), ClusterKey::alone()});
  SceneState::InstallOptions options;
  options.clusters = clusters;
  options.startFocus = 1;
  scene.install(SceneFixture::cards(5), options);
  auto pile = scene.mutate([](Storage& s) { return SceneState::flipStack(s, 5); });
  ASSERT_TRUE(pile);
  EXPECT_EQ(*pile, (CardPile{1, 3}));
  EXPECT_DOUBLE_EQ(scene.focus(), 3);
  EXPECT_DOUBLE_EQ(scene.target(), 3);
  // A non-finite delta changes nothing but still settles gesture hops and returns the pile.
  scene.read([](Storage& s) { s.gestureHops = true; });
  pile = scene.mutate([](Storage& s) { return SceneState::flipStack(s, NAN); });
  ASSERT_TRUE(pile);
  EXPECT_FALSE(scene.read([](Storage& s) { return s.gestureHops; }));
  EXPECT_DOUBLE_EQ(scene.focus(), 3);
  pile = scene.mutate([](Storage& s) { return SceneState::endFlip(s, -40); });
  ASSERT_TRUE(pile);
  EXPECT_DOUBLE_EQ(scene.target(), 1);
  scene.settle();
  EXPECT_DOUBLE_EQ(scene.focus(), 1);
  // Off the pile there is nothing to flip.
  scene.mutate([](Storage& s) { SceneState::step(s, -1); });
  scene.settle();
  EXPECT_FALSE(scene.mutate([](Storage& s) { return SceneState::flipStack(s, 1); }));
  // An arrangement without piles (weight 0) still answers by the stored clusters only when piles
  // are allowed; every arrangement allows them.
  EXPECT_TRUE(scene.read([](Storage& s) { return s.layout.current()->allowsPiles(); }));
}

TEST(Navigation, ArrowsHopAcrossAPileAsOnePlace) {
  SceneFixture scene;
  const auto clusters = ClusterAssignment::build(
      {ClusterKey::alone(), ClusterKey::app(7), ClusterKey::app(7), ClusterKey::app(7), ClusterKey::alone()});
  SceneState::InstallOptions options;
  options.clusters = clusters;
  scene.style(Style::row, Mode::clamp);
  scene.install(SceneFixture::cards(5), options);
  scene.mutate([](Storage& s) { SceneState::move(s, LayoutEngine::right); });
  EXPECT_DOUBLE_EQ(scene.target(), 1);
  scene.settle();
  scene.mutate([](Storage& s) { SceneState::move(s, LayoutEngine::right); });
  EXPECT_DOUBLE_EQ(scene.target(), 4);  // the pile's other cards are skipped
}

TEST(Navigation, GridMovesGlideAndAReversedGlideSlidesBack) {
  SceneFixture scene;
  scene.style(Style::expo, Mode::clamp);
  scene.install(SceneFixture::cards(9), {.startFocus = 1});
  scene.settle();
  // Down one row: the camera jumps and the cards slide instead.
  scene.mutate([](Storage& s) { SceneState::move(s, LayoutEngine::down); });
  EXPECT_DOUBLE_EQ(scene.focus(), 4);
  scene.read([](Storage& s) {
    EXPECT_TRUE(s.reformActive);
    EXPECT_EQ(s.reformProgress, 0);
    EXPECT_DOUBLE_EQ(s.morphs[0].from.focusShift, -3);
    EXPECT_NEAR(s.reformResponse, 0.22, 1e-12);
    EXPECT_NEAR(s.reformDamping, 0.85, 1e-12);
  });
  for (int i = 0; i < 6; ++i) scene.frame();
  double p = 0, v = 0;
  scene.read([&](Storage& s) {
    p = s.reformProgress;
    v = s.reformVelocity;
  });
  ASSERT_GT(p, 0.05);
  ASSERT_LT(p, 0.95);
  ASSERT_GT(v, 0);
  // Back up before it ends: the running re-formation reverses.
  scene.mutate([](Storage& s) { SceneState::move(s, LayoutEngine::up); });
  EXPECT_DOUBLE_EQ(scene.focus(), 1);
  scene.read([&](Storage& s) {
    EXPECT_NEAR(s.reformProgress, 1 - p, 1e-12);
    EXPECT_NEAR(s.reformVelocity, std::clamp(-v, -60.0, 60.0), 1e-12);
    EXPECT_DOUBLE_EQ(s.morphs[0].from.focusShift, 3);
  });
  const SceneFrame rest = scene.settle();
  EXPECT_TRUE(rest.isAtRest);
  EXPECT_EQ(rest.reformBlend, 1);
  EXPECT_EQ(scene.focusChanges.back().index, 1);
}

TEST(Navigation, EveryMutationOnAnEmptySceneLeavesItUnchanged) {
  SceneFixture scene;
  scene.mutate([](Storage& s) {
    SceneState::step(s, 1);
    SceneState::move(s, LayoutEngine::right);
    SceneState::selectHovered(s, 0);
    SceneState::scroll(s, 2);
    SceneState::endScroll(s, 3);
    EXPECT_FALSE(SceneState::flipStack(s, 1));
    EXPECT_FALSE(SceneState::endFlip(s, 1));
    EXPECT_FALSE(SceneState::setPointerHighlight(s, 0));
    EXPECT_FALSE(SceneState::beginDismissFlight(s, std::nullopt, [] {}) == nullptr);
  });
  const SceneFrame f = scene.frame();
  EXPECT_EQ(f.liveCount, 0);
  EXPECT_TRUE(std::isfinite(f.focus));
  EXPECT_FALSE(f.focusChange);
}

}  // namespace
}  // namespace quorvel
