#include <gtest/gtest.h>

#include <functional>

#include "overlay/controller/CardListMerge.h"

namespace quorvel {
namespace {

WindowCard card(uint32_t id, int32_t pid = 1, std::string title = "t") {
  WindowCard c;
  c.id = id;
  c.pid = pid;
  c.title = std::move(title);
  c.appName = "App";
  c.frame = {0, 0, 100, 100};
  return c;
}

std::vector<uint32_t> ids(const std::vector<WindowCard>& cards) {
  std::vector<uint32_t> out;
  for (const WindowCard& c : cards) out.push_back(c.id);
  return out;
}

TEST(CardListMerge, KeepsTheSummonOrderDropsLeaversAndAppendsNewcomers) {
  const std::vector<WindowCard> shown = {card(1), card(2), card(3)};
  // The registry lists them in another order, without 2, with a newcomer 4 and 2's window back
  // under a new id.
  auto merged = CardListMerge::merged(shown, {card(4), card(3), card(1, 1, "renamed")}, std::nullopt);
  ASSERT_TRUE(merged);
  EXPECT_EQ(ids(*merged), (std::vector<uint32_t>{1, 3, 4}));
  EXPECT_EQ((*merged)[0].title, "renamed");  // kept cards take their fresh values
  // A closed card that is still there comes back at the end.
  merged = CardListMerge::merged({card(1), card(3)}, {card(1), card(2), card(3)}, std::nullopt);
  ASSERT_TRUE(merged);
  EXPECT_EQ(ids(*merged), (std::vector<uint32_t>{1, 3, 2}));
}

TEST(CardListMerge, ReportsNoChangeUnlessSomethingVisibleChanged) {
  const std::vector<WindowCard> shown = {card(1), card(2)};
  std::vector<WindowCard> fresh = shown;
  fresh[0].appName = "Renamed app";
  fresh[1].tabsOutOfReach = 3;
  EXPECT_FALSE(CardListMerge::merged(shown, fresh, std::nullopt));
  for (auto change : std::vector<std::function<void(WindowCard&)>>{
           [](WindowCard& c) { c.state = WindowState::minimized; }, [](WindowCard& c) { c.title = "x"; },
           [](WindowCard& c) { c.frame.x = 5; }, [](WindowCard& c) { c.isPrivate = true; },
           [](WindowCard& c) { c.blursPicture = true; }}) {
    std::vector<WindowCard> changed = shown;
    change(changed[1]);
    EXPECT_TRUE(CardListMerge::merged(shown, changed, std::nullopt));
  }
}

TEST(CardListMerge, AScopedSummonTakesInOnlyItsProcessAndRepeatedIdsOnce) {
  const std::vector<WindowCard> shown = {card(1, 7)};
  auto merged = CardListMerge::merged(shown, {card(1, 7), card(2, 8), card(3, 7), card(3, 7, "again")}, ApplicationIdentity{7});
  ASSERT_TRUE(merged);
  EXPECT_EQ(ids(*merged), (std::vector<uint32_t>{1, 3}));
  EXPECT_EQ((*merged)[1].title, "t");
  EXPECT_EQ(ids(CardListMerge::appendingNewcomers(shown, {card(2), card(1), card(2)})),
            (std::vector<uint32_t>{1, 2}));
}

}  // namespace
}  // namespace quorvel
