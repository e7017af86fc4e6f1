#include <gtest/gtest.h>

#include <cmath>
#include <unordered_set>

#include "scene/ClusterAssignment.h"
#include "scene/ClusterKey.h"
#include "scene/PileLook.h"

namespace quorvel {
namespace {

// Three piles of widths 2, 1, 3 (six cards).
ClusterAssignment twoOneThree() {
  return ClusterAssignment::build({ClusterKey::app(1), ClusterKey::app(1), ClusterKey::alone(), ClusterKey::tabHost(9),
                                   ClusterKey::tabHost(9), ClusterKey::tabHost(9)});
}

TEST(ClusterKey, EqualityAndHashing) {
  EXPECT_EQ(ClusterKey::alone(), ClusterKey::alone());
  EXPECT_EQ(ClusterKey::app(12), ClusterKey::app(12));
  EXPECT_NE(ClusterKey::app(12), ClusterKey::tabHost(12));
  EXPECT_NE(ClusterKey::app(12), ClusterKey::app(13));
  std::unordered_set<ClusterKey> keys{ClusterKey::app(12), ClusterKey::app(12), ClusterKey::tabHost(12),
                                      ClusterKey::alone()};
  EXPECT_EQ(keys.size(), 3u);
}

TEST(ClusterAssignment, BuildsPilesOfEqualNeighbours) {
  const auto a = ClusterAssignment::build(
      {ClusterKey::app(12), ClusterKey::app(12), ClusterKey::alone(), ClusterKey::app(12)});
  EXPECT_EQ(a.ofCard(), (std::vector<int32_t>{0, 0, 1, 2}));
  EXPECT_EQ(a.first(), (std::vector<int32_t>{0, 2, 3}));
  EXPECT_EQ(a.width(), (std::vector<int32_t>{2, 1, 1}));
  EXPECT_TRUE(a.bunches());
  const auto alone = ClusterAssignment::build({ClusterKey::alone(), ClusterKey::alone()});
  EXPECT_EQ(alone.pileCount(), 2);
  EXPECT_FALSE(alone.bunches());
  EXPECT_EQ(ClusterAssignment::build({}), ClusterAssignment());
  EXPECT_TRUE(ClusterAssignment().isEmpty());
}

TEST(ClusterAssignment, MapsPlacesAndCardsAcrossLaps) {
  const auto a = twoOneThree();
  EXPECT_EQ(a.firstCard(4), 8);   // lap 1, pile 1: 6 + 2
  EXPECT_EQ(a.firstCard(-1), -3);  // pile 2 one lap back: 3 − 6
  EXPECT_EQ(a.lastCard(2), 5);
  EXPECT_EQ(a.lastCard(-3), -5);
  EXPECT_EQ(a.place(5), 2);
  EXPECT_EQ(a.place(7), 3);
  EXPECT_EQ(a.place(-1), -1);
  // Positions: inside a pile the place stays until its last card, which carries it to the next.
  EXPECT_DOUBLE_EQ(a.placePosition(0.5), 0.0);
  EXPECT_DOUBLE_EQ(a.placePosition(1.5), 0.5);
  EXPECT_DOUBLE_EQ(a.placePosition(6.0), 3.0);
  EXPECT_DOUBLE_EQ(a.cardPosition(1.5), 2.5);
  EXPECT_DOUBLE_EQ(a.cardPosition(-0.5), -1.5);
  EXPECT_DOUBLE_EQ(a.cardPositionLast(2.0), 3.0);
  EXPECT_DOUBLE_EQ(a.cardPositionLast(0.25), 1.25);
  // Guards: no cards, non-finite and huge positions pass through.
  EXPECT_DOUBLE_EQ(ClusterAssignment().placePosition(3.5), 3.5);
  EXPECT_TRUE(std::isnan(a.placePosition(NAN)));
  EXPECT_DOUBLE_EQ(a.placePosition(2e12), 2e12);
  EXPECT_EQ(ClusterAssignment().firstCard(7), 7);
}

TEST(ClusterAssignment, DistancesUnwrapAndSelectedCard) {
  EXPECT_DOUBLE_EQ(ClusterAssignment::circularDistance(0, 9, 10), 1);
  EXPECT_DOUBLE_EQ(ClusterAssignment::circularDistance(0, 9, 0), 9);
  EXPECT_DOUBLE_EQ(ClusterAssignment::unwrap(13, 2, 4, 10), 3);
  EXPECT_DOUBLE_EQ(ClusterAssignment::unwrap(13, 2, 4, 0), 13);
  const auto a = twoOneThree();
  EXPECT_EQ(a.selectedCard(2, 0.0), 3);  // far from the pile: its first card
  EXPECT_EQ(a.selectedCard(2, 4.6), 5);  // the focus inside the pile picks its card
  EXPECT_EQ(a.selectedCard(2, 10.4), 4);  // one lap on
}

TEST(ClusterKey, TabPileKeysAndVisibility) {
  using Keys = std::vector<std::optional<uint32_t>>;
  const Keys hosts{std::nullopt, 10, 10, std::nullopt, std::nullopt};
  const std::vector<uint32_t> ids{10, 101, 102, 20, 30};
  EXPECT_EQ(ClusterKey::tabPileKeys(hosts, ids, false), (Keys{10, 10, 10, std::nullopt, std::nullopt}));
  EXPECT_EQ(ClusterKey::tabPileKeys(hosts, ids, true), hosts);
  EXPECT_EQ(ClusterKey::tabPileKeys(hosts, {1, 2}, false), hosts);

  Keys twenty(20, 7u);
  const auto shown = ClusterKey::pileVisibility(twenty, true, 8.0f);
  EXPECT_EQ(std::count(shown.begin(), shown.end(), true), 18);
  EXPECT_TRUE(shown[17]);
  EXPECT_FALSE(shown[18]);
  const auto all = ClusterKey::pileVisibility(twenty, false, 8.0f);
  EXPECT_EQ(std::count(all.begin(), all.end(), true), 20);
  // A new key restarts the run; cards without a key are always shown.
  Keys mixed(5, 1u);
  mixed.push_back(2u);
  mixed.push_back(std::nullopt);
  const auto capped = ClusterKey::pileVisibility(mixed, true, 0.0f);
  EXPECT_EQ(capped, (std::vector<bool>{true, true, false, false, false, true, true}));
  EXPECT_EQ(ClusterKey::pileVisibility(mixed, true, NAN), capped);
}

TEST(ClusterKey, CountLabels) {
  EXPECT_EQ(ClusterKey::countLabel(0), "0");
  EXPECT_EQ(ClusterKey::countLabel(999), "999");
  EXPECT_EQ(ClusterKey::countLabel(1500), "999+");
  EXPECT_EQ(ClusterKey::countLabel(-3), "+3");
  EXPECT_EQ(ClusterKey::countLabel(INT64_MIN), "+9223372036854775807");
}

TEST(PileLook, EmptyFlatAndFannedLooks) {
  const auto a = twoOneThree();
  const StackTuning tuning;
  EXPECT_TRUE(PileLook::member(0, 5, a, 0, std::nullopt, 1, tuning, 1).empty);  // another card count
  EXPECT_TRUE(PileLook::member(6, 6, a, 0, std::nullopt, 1, tuning, 1).empty);
  EXPECT_FALSE(PileLook::lookOf(0, 6, a, 0, std::nullopt, 1, tuning, 1) == std::nullopt);

  // Weight 0: every card flat at its pile's place.
  const PileLook flat = PileLook::member(4, 6, a, 0, std::nullopt, 0, tuning, 1);
  EXPECT_EQ(flat.place, 2);
  EXPECT_EQ(flat.placeCount, 3);
  EXPECT_EQ(flat.scale, 1);
  EXPECT_EQ(flat.lateral, 0);

  // The focused pile (cards 3 to 5, focus on card 3) fully open: card 4 is one rank behind.
  const PileLook behind = PileLook::member(4, 6, a, 3, std::nullopt, 1, tuning, 1);
  EXPECT_NEAR(behind.lateral, tuning.peekWidth, 1e-6);
  EXPECT_NEAR(behind.depth, 0.015f, 1e-6);
  EXPECT_NEAR(behind.step, 0.03f, 1e-6);
  EXPECT_NEAR(behind.tilt, tuning.fanPerRank, 1e-6);
  EXPECT_NEAR(behind.scale, 0.85f, 1e-6);
  EXPECT_NEAR(behind.frontVisibility, 0, 1e-6);
  EXPECT_NEAR(behind.rankFade, 1, 1e-6);
  EXPECT_EQ(behind.width, 3);
  const PileLook front = PileLook::member(3, 6, a, 3, std::nullopt, 1, tuning, 1);
  EXPECT_NEAR(front.frontVisibility, 1, 1e-6);

  // With the focus on card 5 and the pile open, card 5 is in front; folded (reach 0) card 3 is.
  EXPECT_NEAR(PileLook::member(5, 6, a, 5, std::nullopt, 1, tuning, 1).frontVisibility, 1, 1e-6);
  EXPECT_NEAR(PileLook::member(5, 6, a, 5, std::nullopt, 1, tuning, 0).frontVisibility, 0, 1e-6);
  EXPECT_NEAR(PileLook::member(3, 6, a, 5, std::nullopt, 1, tuning, 0).frontVisibility, 1, 1e-6);

  // Caps: the tilt stops at 12°, the scale at 0.55, and ranks beyond the drawn ones fade out.
  std::vector<ClusterKey> keys(20, ClusterKey::app(3));
  const auto big = ClusterAssignment::build(keys);
  const PileLook deep = PileLook::member(15, 20, big, 0, std::nullopt, 1, tuning, 1);
  EXPECT_NEAR(deep.tilt, 0.20943952f, 1e-6);
  EXPECT_NEAR(deep.scale, 0.55f, 1e-6);
  EXPECT_NEAR(deep.rankFade, 0, 1e-6);
  EXPECT_NEAR(deep.lateral, 3 * tuning.peekWidth, 1e-6);
  EXPECT_NEAR(deep.depth, 0.045f, 1e-6);
  EXPECT_NEAR(deep.step, 0.03f * 9, 1e-6);

  // A flip focus inside the pile opens it from that card.
  const PileLook flipped = PileLook::member(10, 20, big, 0, 10.0, 1, tuning, 1);
  EXPECT_NEAR(flipped.frontVisibility, 1, 1e-6);
  // Half the pile weight halves every offset.
  const PileLook half = PileLook::member(4, 6, a, 3, std::nullopt, 0.5f, tuning, 1);
  EXPECT_NEAR(half.tilt, tuning.fanPerRank * 0.5f, 1e-6);
  EXPECT_NEAR(half.scale, 1 - 0.5f * 0.15f, 1e-6);
}

}  // namespace
}  // namespace quorvel
