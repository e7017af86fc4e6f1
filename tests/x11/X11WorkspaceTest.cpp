#include "platform/x11/X11Workspace.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <map>

#include "X11PlatformTest.h"

namespace quorvel {
namespace {

using namespace std::chrono_literals;

class X11WorkspaceTest : public X11PlatformTest {
 protected:
  struct Note {
    Workspace::Event event;
    RunningApplication app;
    bool onMain = false;
  };

  void SetUp() override {
    X11PlatformTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    for (auto event : {Workspace::Event::didLaunchApplication, Workspace::Event::didTerminateApplication,
                       Workspace::Event::didActivateApplication, Workspace::Event::didChangeWindows}) {
      tokens.push_back(
          platform->workspace().addObserver(event, [this](Workspace::Event e, const RunningApplication& a) {
            notes.push_back({e, a, runtime->main().isCurrent()});
          }));
    }
  }

  size_t count(Workspace::Event event, int32_t pid) const {
    return std::count_if(notes.begin(), notes.end(),
                         [&](const Note& n) { return n.event == event && n.app.pid == pid; });
  }
  bool arrives(Workspace::Event event, int32_t pid) {
    return runUntil([&] { return count(event, pid) > 0; });
  }

  std::vector<Note> notes;  // main thread only
  std::vector<Subscription> tokens;
};

TEST_F(X11WorkspaceTest, ApplicationsAreTheProcessesOfTheManagedWindows) {
  pid_t alphaPid = 0, xtermPid = 0;
  const uint32_t alpha = launch({"--title", "alpha", "--class", "alpha,AlphaApp"}, &alphaPid);
  const std::optional<uint32_t> xterm = session->launchXterm("plain xterm", "XTermTest", &xtermPid);
  ASSERT_TRUE(alpha && xterm);
  ASSERT_TRUE(activate(alpha));

  Workspace& workspace = platform->workspace();
  const std::vector<RunningApplication> apps = workspace.runningApplications();
  ASSERT_EQ(apps.size(), 2u);
  EXPECT_EQ(apps[0].pid, alphaPid) << "in the order their first windows came";
  EXPECT_EQ(apps[0].localizedName, "AlphaApp");
  EXPECT_EQ(apps[0].bundleIdentifier, "x11.alphaapp");
  EXPECT_EQ(apps[0].activationPolicy, ActivationPolicy::regular);
  EXPECT_FALSE(apps[0].isHidden);
  EXPECT_TRUE(apps[0].isActive);
  EXPECT_EQ(apps[1].pid, xtermPid);
  EXPECT_EQ(apps[1].localizedName, "XTermTest");
  EXPECT_FALSE(apps[1].isActive);

  EXPECT_EQ(workspace.frontmostApplication()->pid, alphaPid);
  EXPECT_EQ(workspace.ownPid(), ::getpid());

  // Activating an application brings its window forward.
  EXPECT_TRUE(workspace.activate(xtermPid, true));
  EXPECT_TRUE(X11Session::waitUntil([&] { return desktops->activeWindow() == *xterm; }));
  EXPECT_TRUE(X11Session::waitUntil([&] { return workspace.frontmostApplication()->pid == xtermPid; }));
  EXPECT_TRUE(workspace.unhide(xtermPid));
  EXPECT_FALSE(workspace.activate(999999, false));
  EXPECT_FALSE(workspace.unhide(999999));

  // A minimized application comes back when activated.
  ASSERT_TRUE(actions->minimize(alpha));
  ASSERT_TRUE(eventually(alpha, [](const X11Window& w) { return w.minimized; }));
  EXPECT_TRUE(workspace.activate(alphaPid, false));
  EXPECT_TRUE(eventually(alpha, [](const X11Window& w) { return !w.minimized && w.isViewable; }));
}

// A process is a regular application only when it owns a window a user switches to.
TEST(X11WorkspaceRules, OnlyProcessesWithSwitchableWindowsAreRegularApplications) {
  using Type = X11Window::Type;
  auto window = [](uint32_t id, int32_t pid, Type type) {
    X11Window w;
    w.id = id;
    w.pid = pid;
    w.className = "App" + std::to_string(pid);
    w.type = type;
    w.layer = X11Window::layerOf(type);
    return w;
  };
  const std::vector<X11Window> clients = {
      window(1, 10, Type::dock),    window(2, 20, Type::desktop), window(3, 30, Type::normal),
      window(4, 40, Type::utility), window(5, 50, Type::dock),    window(6, 50, Type::dialog),
  };
  std::map<int32_t, ActivationPolicy> policies;
  for (const RunningApplication& app : X11Workspace::applications(clients, std::nullopt))
    policies[app.pid] = app.activationPolicy;
  EXPECT_EQ(policies, (std::map<int32_t, ActivationPolicy>{{10, ActivationPolicy::accessory},
                                                           {20, ActivationPolicy::accessory},
                                                           {30, ActivationPolicy::regular},
                                                           {40, ActivationPolicy::accessory},
                                                           {50, ActivationPolicy::regular}}));
}

TEST_F(X11WorkspaceTest, LaunchesActivationsAndTerminationsAreAnnouncedOnTheMainQueue) {
  pid_t alphaPid = 0, betaPid = 0;
  const uint32_t alpha = launch({"--title", "alpha", "--class", "alpha,AlphaApp"}, &alphaPid);
  ASSERT_NE(alpha, 0u);
  ASSERT_TRUE(arrives(Workspace::Event::didLaunchApplication, alphaPid));
  const Note& launched = *findIn(notes, [&](const Note& n) { return n.app.pid == alphaPid; });
  EXPECT_EQ(launched.event, Workspace::Event::didLaunchApplication) << "the launch comes first";
  EXPECT_EQ(launched.app.localizedName, "AlphaApp");
  EXPECT_EQ(launched.app.bundleIdentifier, "x11.alphaapp");
  EXPECT_TRUE(launched.onMain);

  const uint32_t beta = launch({"--title", "beta", "--class", "beta,BetaApp"}, &betaPid);
  ASSERT_NE(beta, 0u);
  ASSERT_TRUE(activate(beta));
  ASSERT_TRUE(arrives(Workspace::Event::didActivateApplication, betaPid));
  const size_t earlier = count(Workspace::Event::didActivateApplication, alphaPid);
  ASSERT_TRUE(activate(alpha));
  ASSERT_TRUE(runUntil([&] { return count(Workspace::Event::didActivateApplication, alphaPid) > earlier; }));
  const Note& activated = notes.back();
  EXPECT_EQ(activated.event, Workspace::Event::didActivateApplication);
  EXPECT_EQ(activated.app.pid, alphaPid);
  EXPECT_TRUE(activated.app.isActive);
  EXPECT_EQ(activated.app.localizedName, "AlphaApp");

  // Activating the active application again says nothing new.
  const size_t before = count(Workspace::Event::didActivateApplication, alphaPid);
  ASSERT_TRUE(actions->activate(alpha));
  EXPECT_FALSE(runUntil([&] { return count(Workspace::Event::didActivateApplication, alphaPid) > before; }, 300ms));

  // Its last window closed, the application is gone.
  ASSERT_TRUE(actions->close(beta));
  ASSERT_TRUE(arrives(Workspace::Event::didTerminateApplication, betaPid));
  const Note& gone =
      *findIn(notes, [&](const Note& n) { return n.event == Workspace::Event::didTerminateApplication; });
  EXPECT_EQ(gone.app.localizedName, "BetaApp");
  EXPECT_EQ(count(Workspace::Event::didTerminateApplication, alphaPid), 0u);
  EXPECT_EQ(count(Workspace::Event::didLaunchApplication, betaPid), 1u);
}

TEST_F(X11WorkspaceTest, AWindowOpenedOrClosedByARunningApplicationIsAnnounced) {
  pid_t pid = 0;
  const uint32_t first = launch({"--title", "first", "--windows", "2", "--close-one"}, &pid);
  ASSERT_NE(first, 0u);
  ASSERT_TRUE(arrives(Workspace::Event::didLaunchApplication, pid));
  // Both windows managed, and whatever their coming announced has arrived.
  ASSERT_TRUE(X11Session::waitUntil([&] { return windows->clientList().size() == 2; }));
  runUntil([] { return false; }, 300ms);
  // Focus and stacking change no window list.
  const size_t before = count(Workspace::Event::didChangeWindows, pid);
  ASSERT_TRUE(activate(first));
  EXPECT_FALSE(runUntil([&] { return count(Workspace::Event::didChangeWindows, pid) > before; }, 300ms));

  ASSERT_TRUE(actions->close(first));
  EXPECT_TRUE(runUntil([&] { return count(Workspace::Event::didChangeWindows, pid) > before; }));
  EXPECT_EQ(count(Workspace::Event::didTerminateApplication, pid), 0u);
  EXPECT_EQ(count(Workspace::Event::didLaunchApplication, pid), 1u);
}

TEST_F(X11WorkspaceTest, RemovedObserversHearNothingMore) {
  for (Subscription& token : tokens) token.cancel();
  pid_t pid = 0;
  ASSERT_NE(launch({"--title", "unheard"}, &pid), 0u);
  EXPECT_FALSE(runUntil([&] { return !notes.empty(); }, 500ms));
}

TEST_F(X11WorkspaceTest, ApplicationsPresentAtTheStartAreNotAnnounced) {
  pid_t pid = 0;
  const uint32_t early = launch({"--title", "early"}, &pid);
  ASSERT_NE(early, 0u);
  // A second platform opened now finds the window already there.
  auto second = X11Platform::open(*runtime, session->display());
  ASSERT_TRUE(second);
  std::vector<Workspace::Event> heard;
  const Subscription hearing = second->workspace().addObserver(
      Workspace::Event::didLaunchApplication, [&](Workspace::Event e, const RunningApplication&) { heard.push_back(e); });
  pid_t laterPid = 0;
  ASSERT_NE(launch({"--title", "later"}, &laterPid), 0u);
  ASSERT_TRUE(runUntil([&] { return !heard.empty(); }));
  EXPECT_FALSE(runUntil([&] { return heard.size() > 1; }, 300ms));
  EXPECT_EQ(heard.size(), 1u);
}

}  // namespace
}  // namespace quorvel
