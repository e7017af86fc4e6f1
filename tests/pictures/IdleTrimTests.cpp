#include <gtest/gtest.h>

#include "pictures/IdleTrim.h"

namespace quorvel {
namespace {

using C = IdleTrim::Candidate;

C replaceable(uint32_t id, int64_t bytes, int64_t session) { return C{id, bytes, session, false, false, 0, true}; }
C irreplaceable(uint32_t id, int64_t bytes, int64_t session, bool demotable = true, int generation = 0) {
  return C{id, bytes, session, true, false, generation, demotable};
}

TEST(IdleTrim, UnderBudgetPlansNothing) {
  const auto plan = IdleTrim::plan({replaceable(1, 50, 0), replaceable(2, 50, 0)}, 100, true);
  EXPECT_TRUE(plan.evictions.empty());
  EXPECT_TRUE(plan.demotions.empty());
  EXPECT_FALSE(plan.stoppedShort);
}

TEST(IdleTrim, EvictsLeastRecentlyPresentedThenLowestID) {
  auto plan = IdleTrim::plan({replaceable(9, 60, 3), replaceable(4, 60, 3)}, 100, true);
  EXPECT_EQ(plan.evictions, (std::vector<uint32_t>{4}));
  EXPECT_FALSE(plan.stoppedShort);
  plan = IdleTrim::plan({replaceable(1, 60, 5), replaceable(2, 60, 2), replaceable(3, 60, 4)}, 70, true);
  EXPECT_EQ(plan.evictions, (std::vector<uint32_t>{2, 3}));
}

TEST(IdleTrim, ExemptPicturesNeverTakePart) {
  C exempt = irreplaceable(1, 1'000'000, 0);
  exempt.isExempt = true;
  C exempt2 = replaceable(2, 1'000'000, 0);
  exempt2.isExempt = true;
  const auto plan = IdleTrim::plan({exempt, exempt2}, 100, true);
  EXPECT_TRUE(plan.evictions.empty());
  EXPECT_TRUE(plan.demotions.empty());
  EXPECT_TRUE(plan.stoppedShort);
}

TEST(IdleTrim, DemotesIrreplaceablePicturesByLevelsBeforeEvicting) {
  const int64_t mb = 1'000'000;
  // In the idle trim 64 MB goes to 16 MB, and to 4 MB when still needed; never evicted.
  auto plan = IdleTrim::plan({irreplaceable(5, 64 * mb, 0)}, 20 * mb, false);
  EXPECT_EQ(plan.demotions, (std::vector<IdleTrim::Demotion>{{5, 1}}));
  EXPECT_TRUE(plan.evictions.empty());
  plan = IdleTrim::plan({irreplaceable(5, 64 * mb, 0)}, 10 * mb, false);
  EXPECT_EQ(plan.demotions, (std::vector<IdleTrim::Demotion>{{5, 2}}));
  EXPECT_FALSE(plan.stoppedShort);
  plan = IdleTrim::plan({irreplaceable(5, 64 * mb, 0)}, 1 * mb, false);
  EXPECT_EQ(plan.demotions, (std::vector<IdleTrim::Demotion>{{5, 2}}));
  EXPECT_TRUE(plan.evictions.empty());
  EXPECT_TRUE(plan.stoppedShort);
  // Under enforcement the demoted picture is kept; an undemotable one is evicted.
  plan = IdleTrim::plan({irreplaceable(5, 64 * mb, 0), irreplaceable(6, 64 * mb, 1, false)}, 1 * mb, true);
  EXPECT_EQ(plan.demotions, (std::vector<IdleTrim::Demotion>{{5, 2}}));
  EXPECT_EQ(plan.evictions, (std::vector<uint32_t>{6}));
  EXPECT_EQ(plan.irreplaceableEvictions, (std::vector<uint32_t>{6}));
  EXPECT_TRUE(plan.stoppedShort);
}

TEST(IdleTrim, ReplaceablePicturesGoBeforeAnyDemotionAndGenerationsCap) {
  auto plan = IdleTrim::plan({replaceable(1, 40, 9), irreplaceable(2, 400, 0, true, 1)}, 200, true);
  // All of A is evicted first; the picture at generation 1 can go one more level only.
  EXPECT_EQ(plan.evictions.front(), 1u);
  EXPECT_EQ(plan.demotions, (std::vector<IdleTrim::Demotion>{{2, 2}}));
  EXPECT_EQ(plan.evictions.size(), 1u);
  EXPECT_FALSE(plan.stoppedShort);
  // Demotions are listed in order of first demotion; a second pass deepens them.
  plan = IdleTrim::plan({irreplaceable(3, 1600, 1), irreplaceable(4, 1600, 0)}, 250, false);
  EXPECT_EQ(plan.demotions, (std::vector<IdleTrim::Demotion>{{4, 2}, {3, 2}}));
}

}  // namespace
}  // namespace quorvel
