#include "platform/x11/X11WindowServer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>

#include "RandrMonitor.h"
#include "X11PlatformTest.h"
#include "platform/x11/X11Backend.h"
#include "platform/x11/X11Displays.h"
#include "platform/x11/X11InputIdle.h"
#include "platform/x11/X11ShareableContent.h"

namespace quorvel {
namespace {

using namespace std::chrono_literals;

using X11WindowServerTest = X11PlatformTest;

// Asks for the shareable content and waits for its answer; the thread that answered goes to `thread`.
ShareableContentResult shareable(ShareableContent& content, bool onScreenOnly, bool excludeDesktop,
                                 std::thread::id* thread = nullptr) {
  std::mutex mutex;
  std::condition_variable done;
  std::optional<ShareableContentResult> answer;
  content.getShareableContent(excludeDesktop, onScreenOnly, [&](ShareableContentResult result) {
    std::lock_guard lock(mutex);
    answer = std::move(result);
    if (thread) *thread = std::this_thread::get_id();
    done.notify_one();
  });
  std::unique_lock lock(mutex);
  EXPECT_TRUE(done.wait_for(lock, 5s, [&] { return answer.has_value(); })) << "no answer";
  return answer.value_or(ShareableContentResult{{}, "no answer"});
}

std::vector<uint32_t> numbers(const std::vector<WindowListEntry>& list) {
  std::vector<uint32_t> result;
  for (const WindowListEntry& e : list) result.push_back(e.number.value_or(0));
  return result;
}

TEST_F(X11WindowServerTest, OnScreenWindowsAreTheViewableOnesFrontToBack) {
  pid_t clientPid = 0, xtermPid = 0;
  const uint32_t client = launch({"--title", "alpha", "--class", "alpha,AlphaApp", "--geometry", "400x300+100+120"},
                                 &clientPid);
  const std::optional<uint32_t> xterm = session->launchXterm("plain xterm", "XTermTest", &xtermPid);
  const uint32_t shy = launch({"--title", "shy"});
  const uint32_t away = launch({"--title", "away", "--desktop", "2"});
  ASSERT_TRUE(client && xterm && shy && away) << session->log("xterm");
  ASSERT_TRUE(actions->minimize(shy));
  ASSERT_TRUE(eventually(shy, [](const X11Window& w) { return w.minimized && !w.isViewable; }));
  ASSERT_TRUE(eventually(away, [](const X11Window& w) { return w.desktop == 2u && !w.isViewable; }));

  WindowServer& server = platform->windowServer();
  ASSERT_TRUE(activate(client));
  auto list = server.onScreenWindows();
  ASSERT_TRUE(list);
  EXPECT_EQ(numbers(*list), (std::vector<uint32_t>{client, *xterm}));

  ASSERT_TRUE(activate(*xterm));
  list = server.onScreenWindows();
  ASSERT_TRUE(list);
  EXPECT_EQ(numbers(*list), (std::vector<uint32_t>{*xterm, client}));

  const WindowListEntry& alpha = (*list)[1];
  const X11Window read = *this->read(client);
  EXPECT_EQ(alpha.layer, 0);
  EXPECT_EQ(alpha.ownerPid, clientPid);
  EXPECT_EQ(alpha.ownerName, "AlphaApp");
  EXPECT_EQ(alpha.name, "alpha");
  EXPECT_EQ(alpha.bounds, read.frame.toRect());
  EXPECT_EQ(alpha.bounds->x, 100);
  EXPECT_EQ(alpha.isOnScreen, true);
  EXPECT_EQ((*list)[0].ownerPid, xtermPid);
  EXPECT_EQ((*list)[0].ownerName, "XTermTest");
  EXPECT_EQ((*list)[0].name, "plain xterm");
}

TEST_F(X11WindowServerTest, DocksAreListedAboveTheNormalLayer) {
  const uint32_t dock = launch({"--title", "panel", "--class", "panel,Panel", "--type", "dock", "--geometry",
                                "1920x30+0+0", "--strut-top", "30"});
  const uint32_t normal = launch({"--title", "normal"});
  ASSERT_TRUE(dock && normal);
  ASSERT_TRUE(eventually(dock, [](const X11Window& w) { return w.type == X11Window::Type::dock; }));
  const auto list = platform->windowServer().onScreenWindows();
  ASSERT_TRUE(list);
  const WindowListEntry* panel = findIn(*list, [&](const WindowListEntry& e) { return e.number == dock; });
  ASSERT_TRUE(panel);
  EXPECT_EQ(panel->layer, 20);
}

TEST_F(X11WindowServerTest, DisplaysHaveStableIdsAndTopLeftBounds) {
  WindowServer& server = platform->windowServer();
  EXPECT_TRUE(server.preflightScreenCaptureAccess());
  EXPECT_TRUE(server.requestScreenCaptureAccess());

  auto ids = server.activeDisplays();
  ASSERT_TRUE(ids);
  ASSERT_EQ(ids->size(), 1u);
  EXPECT_NE((*ids)[0], 0u);
  EXPECT_EQ(server.displayBounds((*ids)[0]), (Rect{0, 0, 1920, 1080}));
  EXPECT_EQ(server.activeDisplays(), ids) << "asking again gives the same ids";
  EXPECT_FALSE(server.displayBounds(0));
  EXPECT_FALSE(server.displayBounds((*ids)[0] + 1000));

  // Two monitors, the right one primary: it becomes the origin, and each keeps an id of its own
  // that the display list agrees with.
  ASSERT_TRUE(setRandrMonitor(x(), {x().atom("LEFT-1"), 0, 1, 0, 0, 0, 960, 800, 250, 200}));
  ASSERT_TRUE(setRandrMonitor(x(), {x().atom("RIGHT-1"), 1, 1, 0, 960, 0, 960, 1080, 250, 280}));
  ids = server.activeDisplays();
  ASSERT_TRUE(ids);
  std::vector<uint32_t> distinct = *ids;
  std::sort(distinct.begin(), distinct.end());
  EXPECT_EQ(std::unique(distinct.begin(), distinct.end()), distinct.end()) << "no two monitors share an id";
  const std::vector<ScreenInfo> screens = platform->displays().screens();
  ASSERT_EQ(screens.size(), ids->size());
  const ScreenInfo* left = findIn(screens, [](const ScreenInfo& s) { return s.uuid == "LEFT-1"; });
  const ScreenInfo* right = findIn(screens, [](const ScreenInfo& s) { return s.uuid == "RIGHT-1"; });
  ASSERT_TRUE(left && right && left->screenNumber && right->screenNumber);
  EXPECT_EQ(server.displayBounds(*right->screenNumber), (Rect{0, 0, 960, 1080}));
  EXPECT_EQ(server.displayBounds(*left->screenNumber), (Rect{-960, 0, 960, 800}));
  EXPECT_EQ(platform->displays().mainDisplayID(), *right->screenNumber);
  // Taking a monitor away leaves the others their ids.
  const uint32_t rightID = *right->screenNumber;
  ASSERT_TRUE(x().check(xcb_randr_delete_monitor_checked(x().xcb(), x().root(), x().atom("LEFT-1"))));
  EXPECT_EQ(server.activeDisplays()->size(), ids->size() - 1);
  EXPECT_EQ(server.displayBounds(rightID), (Rect{0, 0, 960, 1080}));
}

TEST_F(X11WindowServerTest, ShareableContentOfAQuietSessionCostsNoRequestAndFollowsTheMonitors) {
  for (int i = 0; i < 4; ++i) ASSERT_TRUE(launch({"--title", "w" + std::to_string(i)}));
  X11Backend backend(X11Connection::open(session->display()));
  ASSERT_TRUE(X11Session::waitUntil([&] { return X11ShareableContent::read(backend, false, false).windows.size() == 4; }));
  // Settled: looks in a row send nothing, though the displays are part of every answer (they are
  // read again at most once a second).
  uint64_t before = backend.connection().requestCount();
  int quiet = 0;
  ASSERT_TRUE(X11Session::waitUntil([&] {
    const ShareableContentResult answer = X11ShareableContent::read(backend, false, false);
    const uint64_t now = backend.connection().requestCount();
    quiet = now - before <= 1 && answer.displays.size() == 1 ? quiet + 1 : 0;
    before = now;
    return quiet >= 3;
  }));

  // Monitors a client sets come with no event, and are in the answers within a second.
  ASSERT_TRUE(setRandrMonitor(x(), {x().atom("LEFT-1"), 1, 1, 0, 0, 0, 960, 1080, 250, 280}));
  ASSERT_TRUE(setRandrMonitor(x(), {x().atom("RIGHT-1"), 0, 1, 0, 960, 0, 960, 1080, 250, 280}));
  EXPECT_TRUE(X11Session::waitUntil([&] {
    const ShareableContentResult answer = X11ShareableContent::read(backend, false, false);
    return answer.displays.size() >= 2 && findIn(answer.displays, [](const ShareableDisplay& d) {
             return d.frame == Rect(960, 0, 960, 1080);
           });
  }));
}

TEST_F(X11WindowServerTest, RepliesReadByOtherThreadsNeverWakeTheEventThread) {
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(launch({"--title", "quiet " + std::to_string(i)}));
  WindowServer& server = platform->windowServer();
  const auto onScreen = [&] { return server.onScreenWindows().value_or(std::vector<WindowListEntry>{}).size(); };
  ASSERT_TRUE(X11Session::waitUntil([&] { return onScreen() == 3; }));
  // Settled once the event thread has slept through 200 ms.
  uint64_t waits = platform->events().waitCount();
  ASSERT_TRUE(X11Session::waitUntil([&] {
    std::this_thread::sleep_for(200ms);
    return std::exchange(waits, platform->events().waitCount()) == waits;
  }));
  // What a refresh pass does, many times over: round trips and looks on this thread.
  X11Connection& requests = platform->connection();
  for (int i = 0; i < 100; ++i) {
    ASSERT_TRUE(requests.sync());
    ASSERT_TRUE(requests.property(requests.root(), requests.ewmh()->_NET_CLIENT_LIST));
    ASSERT_EQ(onScreen(), 3u);
    platform->displays().screens();
  }
  std::this_thread::sleep_for(100ms);
  EXPECT_LE(platform->events().waitCount() - waits, 2u) << "the event thread woke for replies meant for others";
  // Its own events still wake it, and the model follows them.
  const uint64_t before = platform->events().waitCount();
  ASSERT_TRUE(launch({"--title", "newcomer"}));
  EXPECT_TRUE(X11Session::waitUntil([&] { return platform->events().waitCount() > before; }));
  EXPECT_TRUE(X11Session::waitUntil([&] { return onScreen() == 4; }));
}

TEST(X11DisplaysFlipTest, FramesTurnToTheBottomLeftOriginOfThePrimaryMonitor) {
  // A secondary monitor right of a 1080-high primary, 80 below its top: 200 above its bottom.
  EXPECT_EQ(X11Displays::flipped(X11Rect{1920, 80, 1280, 800}, 1080), (Rect{1920, 200, 1280, 800}));
  EXPECT_EQ(X11Displays::flipped(X11Rect{0, 0, 1920, 1080}, 1080), (Rect{0, 0, 1920, 1080}));
  // Left of and above the primary: negative x, y above its top edge.
  EXPECT_EQ(X11Displays::flipped(X11Rect{-1024, -768, 1024, 768}, 1080), (Rect{-1024, 1080, 1024, 768}));
}

TEST_F(X11WindowServerTest, ScreensReportFlippedFramesAndOneSharedSetOfDesktops) {
  const uint32_t dock = launch({"--title", "panel", "--class", "panel,Panel", "--type", "dock", "--geometry",
                                "1920x30+0+0", "--strut-top", "30"});
  ASSERT_NE(dock, 0u);
  Displays& displays = platform->displays();
  EXPECT_FALSE(displays.screensHaveSeparateSpaces());
  ASSERT_TRUE(X11Session::waitUntil([&] {
    const auto screens = displays.screens();
    return screens.size() == 1 && screens[0].visibleFrame.height == 1050;
  }));
  const ScreenInfo screen = displays.screens()[0];
  EXPECT_EQ(screen.frame, (Rect{0, 0, 1920, 1080}));
  // The panel takes the top 30 pixels, which are the highest y values bottom-up.
  EXPECT_EQ(screen.visibleFrame, (Rect{0, 0, 1920, 1050}));
  EXPECT_EQ(screen.screenNumber, displays.mainDisplayID());
  EXPECT_FALSE(screen.uuid.empty());
  EXPECT_EQ(screen.localizedName, screen.uuid);

  // Two monitors of different heights: the left one's bottom sits 280 above the primary's.
  ASSERT_TRUE(setRandrMonitor(x(), {x().atom("LEFT-1"), 0, 1, 0, 0, 0, 960, 800, 250, 200}));
  ASSERT_TRUE(setRandrMonitor(x(), {x().atom("RIGHT-1"), 1, 1, 0, 960, 0, 960, 1080, 250, 280}));
  const auto screens = displays.screens();
  const ScreenInfo* left = findIn(screens, [](const ScreenInfo& s) { return s.uuid == "LEFT-1"; });
  const ScreenInfo* right = findIn(screens, [](const ScreenInfo& s) { return s.uuid == "RIGHT-1"; });
  ASSERT_TRUE(left && right);
  EXPECT_EQ(right->frame, (Rect{0, 0, 960, 1080}));
  EXPECT_EQ(left->frame, (Rect{-960, 280, 960, 800}));
  EXPECT_EQ(displays.mainDisplayID(), right->screenNumber);
}

TEST_F(X11WindowServerTest, ShareableContentListsEveryManagedWindowOnEveryDesktop) {
  pid_t clientPid = 0;
  const uint32_t client = launch({"--title", "alpha", "--class", "alpha,AlphaApp"}, &clientPid);
  const std::optional<uint32_t> xterm = session->launchXterm("plain xterm", "XTermTest");
  const uint32_t shy = launch({"--title", "shy"});
  const uint32_t away = launch({"--title", "away", "--desktop", "2"});
  const uint32_t untitled = launch({"--title", ""});
  ASSERT_TRUE(client && xterm && shy && away && untitled);
  ASSERT_TRUE(actions->minimize(shy));
  ASSERT_TRUE(eventually(shy, [](const X11Window& w) { return !w.isViewable; }));
  ASSERT_TRUE(eventually(away, [](const X11Window& w) { return !w.isViewable; }));

  std::thread::id answeredOn;
  ShareableContentResult all = shareable(platform->shareableContent(), false, false, &answeredOn);
  ASSERT_FALSE(all.error);
  EXPECT_NE(answeredOn, std::this_thread::get_id()) << "the answer comes on a worker thread";
  EXPECT_EQ(all.windows.size(), 5u);
  const auto find = [&](uint32_t id) {
    return findIn(all.windows, [&](const ShareableWindow& w) { return w.windowID == id; });
  };
  for (uint32_t id : {client, *xterm, shy, away, untitled}) ASSERT_TRUE(find(id)) << id;

  const ShareableWindow& alpha = *find(client);
  EXPECT_EQ(alpha.title, "alpha");
  EXPECT_EQ(alpha.frame, read(client)->frame.toRect());
  EXPECT_EQ(alpha.windowLayer, 0);
  EXPECT_TRUE(alpha.isOnScreen);
  ASSERT_TRUE(alpha.owningApplication);
  EXPECT_EQ(alpha.owningApplication->processID, clientPid);
  EXPECT_EQ(alpha.owningApplication->applicationName, "AlphaApp");
  EXPECT_EQ(alpha.owningApplication->bundleIdentifier, "x11.alphaapp");
  EXPECT_EQ(find(*xterm)->owningApplication->bundleIdentifier, "x11.xtermtest");
  EXPECT_FALSE(find(shy)->isOnScreen);
  EXPECT_FALSE(find(away)->isOnScreen);
  EXPECT_FALSE(find(untitled)->title) << "a window without a title has none";

  ShareableContentResult onScreen = shareable(platform->shareableContent(), true, true);
  ASSERT_FALSE(onScreen.error);
  EXPECT_EQ(onScreen.windows.size(), 3u);
  for (const ShareableWindow& w : onScreen.windows) EXPECT_TRUE(w.isOnScreen);

  // A closed window is gone from the next answer.
  ASSERT_TRUE(actions->close(client));
  ASSERT_TRUE(X11Session::waitUntil([&] { return !read(client); }));
  all = shareable(platform->shareableContent(), false, false);
  EXPECT_EQ(all.windows.size(), 4u);
  EXPECT_FALSE(findIn(all.windows, [&](const ShareableWindow& w) { return w.windowID == client; }));
}

TEST_F(X11WindowServerTest, DesktopWindowsAreLeftOutWhenAsked) {
  const uint32_t desktop = launch({"--title", "wallpaper", "--type", "desktop", "--geometry", "1920x1080+0+0"});
  const uint32_t normal = launch({"--title", "normal"});
  ASSERT_TRUE(desktop && normal);
  const auto has = [&](const ShareableContentResult& r, uint32_t id) {
    return findIn(r.windows, [&](const ShareableWindow& w) { return w.windowID == id; }) != nullptr;
  };
  const ShareableContentResult with = shareable(platform->shareableContent(), false, false);
  const ShareableContentResult without = shareable(platform->shareableContent(), false, true);
  EXPECT_TRUE(has(with, desktop));
  EXPECT_TRUE(has(without, normal));
  EXPECT_FALSE(has(without, desktop));
  // The window list never has them.
  const auto list = platform->windowServer().onScreenWindows();
  ASSERT_TRUE(list);
  EXPECT_EQ(numbers(*list), std::vector<uint32_t>{normal});
}

TEST_F(X11WindowServerTest, AnAnswerAfterThePlatformIsGoneIsAnError) {
  // Content asked for just before the platform goes still answers, with an error instead of windows.
  std::atomic<bool> answered = false;
  std::optional<std::string> error;
  {
    // The jobs hold the gate themselves: some may still be waiting for it when the answer comes.
    auto gate = std::make_shared<std::mutex>();
    std::unique_lock hold(*gate);
    // Keep the pool busy until the platform is gone, so that the answer runs after it.
    for (size_t i = 0; i < ThreadRuntime::kPoolThreads; ++i) {
      runtime->pool().post([gate] { std::lock_guard wait(*gate); });
    }
    platform->shareableContent().getShareableContent(false, false, [&](ShareableContentResult r) {
      error = r.error;
      answered = true;
    });
    platform.reset();
  }
  ASSERT_TRUE(X11Session::waitUntil([&] { return answered.load(); }));
  EXPECT_TRUE(error);
}

TEST_F(X11WindowServerTest, IdleTimeComesFromTheScreenSaverExtension) {
  InputIdle& idle = platform->inputIdle();
  const auto hid = idle.secondsSinceLastEvent(InputIdle::Source::hidSystem);
  const auto combined = idle.secondsSinceLastEvent(InputIdle::Source::combinedSession);
  ASSERT_TRUE(hid);
  ASSERT_TRUE(combined);
  EXPECT_GE(*hid, 0);
  EXPECT_NEAR(*hid, *combined, 1.0);
}

}  // namespace
}  // namespace quorvel
