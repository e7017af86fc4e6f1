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

  EXPECT_FALSE(X11InstanceLock::acquire(":999", outcome));
  EXPECT_EQ(outcome, Outcome::noDisplay);
}

}  // namespace
}  // namespace quorvel
