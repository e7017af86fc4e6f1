#include <gtest/gtest.h>

#include "app/SwipeRecognizer.h"

namespace quorvel {
namespace {

using Axis = SwipeRecognizer::Axis;
using Frame = std::vector<MultitouchContact>;

SwipeRecognizer recognizer(int fingers = 3, Axis axis = Axis::vertical) {
  SwipeRecognizer r;
  r.requiredFingers = fingers;
  r.axis = axis;
  return r;
}

// `count` fingers side by side at height `y`, each moved by (dx, dy) from (0.2 + 0.1 i, 0.3).
Frame fingers(int count, double dx, double dy, int firstId = 1) {
  Frame frame;
  for (int i = 0; i < count; ++i) frame.push_back({firstId + i, {0.2 + 0.1 * i + dx, 0.3 + dy}, true});
  return frame;
}

TEST(SwipeRecognizer, ThreeOrFourFingersInEachDirectionFireOncePerTouch) {
  struct Case {
    int fingers;
    Axis axis;
    double dx, dy;
    SwipeMotion expected;
  };
  const Case cases[] = {
      {3, Axis::vertical, 0, 0.02, SwipeMotion::up},      {3, Axis::vertical, 0, -0.02, SwipeMotion::down},
      {4, Axis::vertical, 0, 0.02, SwipeMotion::up},      {4, Axis::vertical, 0.005, -0.03, SwipeMotion::down},
      {3, Axis::horizontal, 0.02, 0, SwipeMotion::sideways}, {3, Axis::horizontal, -0.02, 0, SwipeMotion::sideways},
      {4, Axis::horizontal, -0.05, 0.01, SwipeMotion::sideways},
  };
  for (const auto& c : cases) {
    auto r = recognizer(c.fingers, c.axis);
    EXPECT_EQ(r.feed(fingers(c.fingers, 0, 0)), std::nullopt);
    EXPECT_EQ(r.feed(fingers(c.fingers, c.dx, c.dy)), c.expected) << c.fingers << " fingers " << c.dx << "," << c.dy;
    EXPECT_EQ(r.feed(fingers(c.fingers, 2 * c.dx, 2 * c.dy)), std::nullopt) << "once per touch";
    EXPECT_EQ(r.feed({}), std::nullopt);  // all fingers up
    EXPECT_FALSE(r.hasFired);
    EXPECT_EQ(r.feed(fingers(c.fingers, 0, 0)), std::nullopt);
    EXPECT_EQ(r.feed(fingers(c.fingers, c.dx, c.dy)), c.expected) << "a new touch fires again";
  }
}

TEST(SwipeRecognizer, TooShortWrongCountOrDisagreeingFingersDoNotFire) {
  auto tooShort = recognizer();
  tooShort.feed(fingers(3, 0, 0));
  EXPECT_EQ(tooShort.feed(fingers(3, 0, 0.0149)), std::nullopt);

  // Four fingers down, three required: all four travelling is too many; three of them is a swipe.
  auto four = recognizer(3);
  four.feed(fingers(4, 0, 0));
  EXPECT_EQ(four.feed(fingers(4, 0, 0.02)), std::nullopt);
  auto threeOfFour = recognizer(3);
  threeOfFour.feed(fingers(4, 0, 0));
  Frame moved = fingers(3, 0, 0.02);
  moved.push_back({4, {0.5, 0.3}, true});
  EXPECT_EQ(threeOfFour.feed(moved), SwipeMotion::up);

  // Two up and one down: nothing this frame, nothing abandoned; agreeing later, it fires.
  auto split = recognizer();
  split.feed(fingers(3, 0, 0));
  Frame disagree = fingers(2, 0, 0.02);
  disagree.push_back({3, {0.4, 0.28}, true});
  EXPECT_EQ(split.feed(disagree), std::nullopt);
  EXPECT_FALSE(split.isAbandoned);
  EXPECT_EQ(split.feed(fingers(3, 0, 0.03)), SwipeMotion::up);
}

TEST(SwipeRecognizer, FingerStrayingAcrossAbandonsTheTouch) {
  auto strays = recognizer();
  strays.feed(fingers(3, 0, 0));
  Frame frame = fingers(2, 0, 0.02);
  frame.push_back({3, {0.4 + 0.12, 0.32}, true});
  EXPECT_EQ(strays.feed(frame), std::nullopt);
  EXPECT_TRUE(strays.isAbandoned);
  EXPECT_EQ(strays.feed(fingers(3, 0, 0.05)), std::nullopt) << "abandoned stays silent";
  strays.feed({});
  EXPECT_FALSE(strays.isAbandoned);

  // Less than the minimum along the axis never abandons, however far it strays across.
  auto wanders = recognizer();
  wanders.feed(fingers(3, 0, 0));
  Frame far = fingers(2, 0, 0.01);
  far.push_back({3, {0.4 + 0.5, 0.31}, true});
  EXPECT_EQ(wanders.feed(far), std::nullopt);
  EXPECT_FALSE(wanders.isAbandoned);
}

TEST(SwipeRecognizer, Boundaries) {
  auto at = [](double along, double across) {
    auto r = recognizer(1);
    r.feed({{1, {0, 0}, true}});
    auto motion = r.feed({{1, {across, along}, true}});
    return std::make_pair(motion, r.isAbandoned);
  };
  EXPECT_EQ(at(0.015, 0).first, SwipeMotion::up) << "exactly the minimum counts";
  EXPECT_TRUE(at(0.2, 0.1).second) << "exactly the abandon distance abandons";
  EXPECT_EQ(at(0.09375, 0.0625).first, SwipeMotion::up) << "exactly 1.5 times the cross travel counts";
  EXPECT_EQ(at(0.09374, 0.0625).first, std::nullopt);
  EXPECT_FALSE(at(0.09374, 0.0625).second) << "too diagonal is not counted, not abandoned";
}

TEST(SwipeRecognizer, LiftedFingersPalmsAndSlowSwipes) {
  // A finger lifted early: two left cannot make a three-finger swipe; when it lands again its origin
  // is where it lands.
  auto lifted = recognizer();
  lifted.feed(fingers(3, 0, 0));
  Frame two = fingers(2, 0, 0.01);
  two.push_back({3, {0.4, 0.3}, false});
  EXPECT_EQ(lifted.feed(two), std::nullopt);
  EXPECT_EQ(lifted.origins.count(3), 0u);
  EXPECT_EQ(lifted.feed(fingers(2, 0, 0.03)), std::nullopt);
  Frame back = fingers(2, 0, 0.04);
  back.push_back({3, {0.4, 0.5}, true});
  EXPECT_EQ(lifted.feed(back), std::nullopt) << "the returning finger has not travelled";
  back[2].position.y = 0.52;
  EXPECT_EQ(lifted.feed(back), SwipeMotion::up);

  // A resting palm reported off the surface, or resting still on it, does not stop a swipe.
  auto palm = recognizer();
  Frame withPalm = fingers(3, 0, 0);
  withPalm.push_back({9, {0.5, 0.1}, false});
  withPalm.push_back({10, {0.8, 0.1}, true});
  palm.feed(withPalm);
  Frame swiped = fingers(3, 0, 0.02);
  swiped.push_back({9, {0.55, 0.05}, false});
  swiped.push_back({10, {0.8, 0.1}, true});
  EXPECT_EQ(palm.feed(swiped), SwipeMotion::up);

  // Speed is no part of it: a slow swipe in tiny steps fires once it has gone far enough.
  auto slow = recognizer();
  int frames = 0;
  std::optional<SwipeMotion> motion;
  for (double y = 0; !motion && y < 0.1; y += 0.001, ++frames) motion = slow.feed(fingers(3, 0, y));
  EXPECT_EQ(motion, SwipeMotion::up);
  EXPECT_GE(frames, 15);
}

}  // namespace
}  // namespace quorvel
