#include <gtest/gtest.h>

#include "actions/Activator.h"
#include "tabs/TabActivation.h"
#include "windows/RegistryFixture.h"

namespace quorvel {
namespace {

// The activator and a started window registry share one set of hooks, as in the program.
class ActivatorWithRegistry : public RegistryFixture {
 protected:
  TabActivation tabActivation{sim.accessibility(), walker};
  Activator activator{ActivatorServices{loop, sim.services(), funnel, settings, tabActivation, hooks}};
};

TEST_F(ActivatorWithRegistry, ARaisedWindowBecomesTheRegistrysMostRecentVisit) {
  SimApp& app = launch(300, "Editor");
  SimWindow& first = open(app, "First");
  SimWindow& second = open(app, "Second");
  start();
  pass();
  ASSERT_EQ(recencyIDs().front(), second.number);

  WindowCard card = *this->card(first.number);
  activator.pick(card);
  settle();
  EXPECT_EQ(recencyIDs().front(), first.number);
  const auto raised = withState([](RegistryState& state) { return state.lastRaise; });
  ASSERT_TRUE(raised);
  EXPECT_EQ(raised->id, first.number);
  EXPECT_EQ(raised->pid, 300);
}

}  // namespace
}  // namespace quorvel
