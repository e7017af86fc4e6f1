#include <gtest/gtest.h>
#include <poll.h>

#include "X11SessionTest.h"
#include "platform/x11/X11InstanceLock.h"

namespace quorvel {
namespace {

using InstanceLockTest = X11SessionTest;

TEST_F(InstanceLockTest, OneHolderPerDisplayAskedToReopenAndFreedWhenItGoes) {
  using Outcome = X11InstanceLock::Outcome;
  Outcome outcome;
  EXPECT_FALSE(X11InstanceLock::askHolderToReopen(session->display())) << "nobody holds it yet";
  std::unique_ptr<X11InstanceLock> first = X11InstanceLock::acquire(session->display(), outcome);
  ASSERT_TRUE(first);
  EXPECT_EQ(outcome, Outcome::acquired);

  EXPECT_FALSE(X11InstanceLock::acquire(session->display(), outcome));
  EXPECT_EQ(outcome, Outcome::heldElsewhere);

  EXPECT_TRUE(X11InstanceLock::askHolderToReopen(session->display()));
  EXPECT_TRUE(X11InstanceLock::askHolderToReopen(session->display()));
  int requests = 0;
  X11Session::waitUntil([&] {
    pollfd fd{first->fd(), POLLIN, 0};
    if (::poll(&fd, 1, 0) > 0) requests += first->takeReopenRequests();
    return requests >= 2;
  });
  EXPECT_EQ(requests, 2);

  // The holder's end (its connection closing, however the process ends) frees the display.
  first.reset();
  std::unique_ptr<X11InstanceLock> next = X11InstanceLock::acquire(session->display(), outcome);
  EXPECT_TRUE(next);
  EXPECT_EQ(outcome, Outcome::acquired);

  // Letting go is done by the time the holder is gone, not whenever the server notices its closed
  // connection: a start right after is never told that the display is taken.
  const uint32_t selection = x().atom("_QUORVEL_INSTANCE_S0");
  int stillHeld = 0, refused = 0;
  for (int round = 0; round < 200; ++round) {
    next.reset();
    auto owner = x().reply(xcb_get_selection_owner_reply, xcb_get_selection_owner(x().xcb(), selection));
    if (!owner || owner->owner != XCB_WINDOW_NONE) ++stillHeld;
    next = X11InstanceLock::acquire(session->display(), outcome);
    if (!next) ++refused;
  }
  EXPECT_EQ(stillHeld, 0) << stillHeld << " of 200 holders still held the display once gone";
  EXPECT_EQ(refused, 0) << refused << " of 200 quick restarts were refused";

  EXPECT_FALSE(X11InstanceLock::acquire(":999", outcome));
  EXPECT_EQ(outcome, Outcome::noDisplay);
}

}  // namespace
}  // namespace quorvel
