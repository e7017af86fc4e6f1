#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <future>
#include <string>

#include "X11PlatformTest.h"
#include "platform/DesktopServer.h"
#include "platform/InputIdle.h"
#include "platform/ShareableContent.h"
#include "platform/WindowServer.h"
#include "platform/x11/X11Accessibility.h"
#include "platform/x11/X11DesktopServer.h"
#include "platform/x11/X11Displays.h"
#include "platform/x11/X11Element.h"
#include "platform/x11/X11InputIdle.h"
#include "platform/x11/X11ShareableContent.h"
#include "platform/x11/X11WindowServer.h"
#include "platform/x11/X11Workspace.h"

namespace quorvel {
namespace {

using namespace std::chrono_literals;

using X11BrokenConnectionTest = X11PlatformTest;

// Whether a thread of this process carries the platform's event thread name.
bool eventThreadRuns() {
  std::error_code ignored;
  for (const auto& task : std::filesystem::directory_iterator("/proc/self/task", ignored)) {
    std::string name;
    std::getline(std::ifstream(task.path() / "comm"), name);
    if (name == "quorvel.x11") return true;
  }
  return false;
}

TEST_F(X11BrokenConnectionTest, AServerThatDiesLeavesEveryServiceUnavailableAndTheEventThreadEnds) {
  pid_t pid = 0;
  const uint32_t id = launch({"--title", "doomed", "--class", "doomed,Doomed"}, &pid);
  ASSERT_NE(id, 0u);
  ASSERT_TRUE(runUntil([&] { return !platform->workspace().runningApplications().empty(); }));
  const AXElementRef window = X11Element::window(pid, id);
  ASSERT_TRUE(platform->accessibility().copyAttributeValue(window, "AXTitle").ok());
  // The thread names itself when it starts, which may be a moment after the platform is made.
  ASSERT_TRUE(X11Session::waitUntil(eventThreadRuns));

  ASSERT_TRUE(session->killServer());

  // The event thread sees the socket close and ends on its own, before the platform goes.
  EXPECT_TRUE(X11Session::waitUntil([] { return !eventThreadRuns(); }, 3s));

  WindowServer& windowServer = platform->windowServer();
  EXPECT_FALSE(windowServer.onScreenWindows());
  EXPECT_FALSE(windowServer.activeDisplays());
  EXPECT_FALSE(windowServer.displayBounds(1));

  Displays& displays = platform->displays();
  EXPECT_TRUE(displays.screens().empty());
  EXPECT_EQ(displays.mainDisplayID(), 0u);

  DesktopServer& desktopServer = platform->desktopServer();
  for (auto group : {DesktopServer::Group::spaces, DesktopServer::Group::windowList, DesktopServer::Group::move}) {
    EXPECT_FALSE(desktopServer.isAvailable(group));
  }
  EXPECT_FALSE(desktopServer.copyManagedDisplaySpaces());
  EXPECT_FALSE(desktopServer.copyWindowsOnSpace(1, 7));
  EXPECT_FALSE(desktopServer.copySpacesForWindows({id}, 7));
  EXPECT_FALSE(desktopServer.moveWindowsToSpace({id}, 2));

  Accessibility& ax = platform->accessibility();
  EXPECT_EQ(ax.copyAttributeValue(window, "AXTitle").error, AXError::cannotComplete);
  EXPECT_EQ(ax.copyAttributeValue(ax.applicationElement(pid), "AXWindows").error, AXError::cannotComplete);
  EXPECT_EQ(ax.performAction(window, "AXRaise"), AXError::cannotComplete);
  EXPECT_EQ(ax.setAttributeValue(window, "AXMinimized", AXValue(true)), AXError::cannotComplete);
  auto [observerError, observer] = ax.createObserver(pid, [](const AXElementRef&, const std::string&, void*) {});
  EXPECT_EQ(observerError, AXError::cannotComplete);
  EXPECT_FALSE(observer);

  Workspace& workspace = platform->workspace();
  EXPECT_TRUE(workspace.runningApplications().empty());
  EXPECT_FALSE(workspace.frontmostApplication());
  EXPECT_FALSE(workspace.activate(pid, false));
  EXPECT_FALSE(workspace.unhide(pid));

  EXPECT_FALSE(platform->inputIdle().secondsSinceLastEvent(InputIdle::Source::hidSystem));

  std::promise<ShareableContentResult> answer;
  platform->shareableContent().getShareableContent(false, false,
                                                   [&](ShareableContentResult r) { answer.set_value(std::move(r)); });
  std::future<ShareableContentResult> content = answer.get_future();
  ASSERT_EQ(content.wait_for(5s), std::future_status::ready);
  const ShareableContentResult result = content.get();
  EXPECT_TRUE(result.error);
  EXPECT_TRUE(result.windows.empty());

  const auto before = std::chrono::steady_clock::now();
  platform.reset();
  EXPECT_LT(std::chrono::steady_clock::now() - before, 1s);
}

}  // namespace
}  // namespace quorvel
