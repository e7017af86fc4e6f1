#include <gtest/gtest.h>

#include "platform/KeyStreamOrder.h"

namespace quorvel {
namespace {

using Stamp = KeyStreamOrder::Stamp;

TEST(KeyStreamOrderTest, AnOverlayKeyWaitsOnlyForKeyStreamEventsTypedBeforeIt) {
  // Ties: a grabbed key froze the keyboard, so a key of its millisecond came after it; a modifier
  // release froze nothing, so a key of its millisecond came first. Times wrap around; 0 is unknown.
  struct Case {
    uint32_t overlay;
    Stamp stream;
    bool before;
  };
  for (const Case& c : {Case{99, {100, true}, true}, Case{100, {100, true}, false}, Case{101, {100, true}, false},
                        Case{100, {100, false}, true}, Case{101, {100, false}, false},
                        Case{0xFFFFFFF0u, {5, true}, true}, Case{5, {0xFFFFFFF0u, false}, false},
                        Case{0, {100, true}, true}, Case{100, {0, true}, true}}) {
    EXPECT_EQ(KeyStreamOrder::typedBefore(c.overlay, c.stream), c.before)
        << c.overlay << " against " << c.stream.time << (c.stream.froze ? " (froze)" : "");
  }

  KeyStreamOrder order;
  EXPECT_TRUE(order.overlayKeyMayAct(500));
  order.posted({100, true});
  order.posted({200, false});
  EXPECT_TRUE(order.overlayKeyMayAct(99));
  EXPECT_FALSE(order.overlayKeyMayAct(150)) << "typed after a step still on its way";
  // While the step runs, what was typed before it acts; what came after waits for its end, and
  // then for the release typed before it too.
  order.beginRun();
  EXPECT_EQ(order.running()->time, 100u);
  EXPECT_TRUE(order.overlayKeyMayAct(99));
  EXPECT_FALSE(order.overlayKeyMayAct(150));
  order.endRun();
  EXPECT_TRUE(order.overlayKeyMayAct(150));
  EXPECT_TRUE(order.overlayKeyMayAct(200));
  EXPECT_FALSE(order.overlayKeyMayAct(201));
  order.beginRun();
  order.endRun();
  EXPECT_TRUE(order.overlayKeyMayAct(201));
  EXPECT_EQ(order.waiting(), 0u);
}

}  // namespace
}  // namespace quorvel
